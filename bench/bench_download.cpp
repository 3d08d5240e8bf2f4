// Installer download benchmark.
//
//   bench_download serve <bytes>   serves a generated installer of that size on loopback and
//                                  prints "PORT <n>"; runs until killed
//   bench_download client <url>    downloads it through the client's own update path (Updater,
//                                  progress dialog, streamed file, installer start, quit) and
//                                  prints the time from the request until the checked file is
//                                  handed to be started, and the peak resident memory
//
// run-download-bench.sh drives both and compares with curl.

#include "app/browser.h"
#include "app/resourceinit.h"
#include "mainwindow/mainwindow.h"
#include "platform/installerlauncher.h"
#include "store/appsettings.h"
#include "tests/support/testsupport.h"
#include "update/updater.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <cstdio>

namespace {

// A shell script that ends at once, padded with comment bytes to the wanted size.
const QByteArray scriptHead = "#!/bin/sh\nexit 0\n";
const qint64 chunkSize = 1024 * 1024;
const qint64 socketBacklog = 4 * chunkSize;

qint64 statusKb(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray prefix = QByteArray(field) + ':';
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

int serve(qint64 size)
{
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0)) {
        std::fprintf(stderr, "cannot listen\n");
        return 1;
    }
    QByteArray padding(int(chunkSize), '#');
    QObject::connect(&server, &QTcpServer::newConnection, [&] {
        while (QTcpSocket *socket = server.nextPendingConnection()) {
            auto *request = new QByteArray;
            auto *sent = new qint64(-1);
            QObject::connect(socket, &QTcpSocket::disconnected, socket, [=] {
                delete request;
                delete sent;
                socket->deleteLater();
            });
            // Keeps a few chunks queued in the socket, generated as they go out.
            auto pump = [=] {
                while (*sent >= 0 && *sent < size && socket->bytesToWrite() < socketBacklog) {
                    QByteArray chunk = padding.left(int(qMin(chunkSize, size - *sent)));
                    if (*sent == 0)
                        chunk.replace(0, qMin(chunk.size(), scriptHead.size()), scriptHead);
                    socket->write(chunk);
                    *sent += chunk.size();
                }
                if (*sent >= size && socket->bytesToWrite() == 0)
                    socket->disconnectFromHost();
            };
            QObject::connect(socket, &QTcpSocket::bytesWritten, socket, pump);
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [=] {
                request->append(socket->readAll());
                if (*sent >= 0 || !request->contains("\r\n\r\n"))
                    return;
                socket->write("HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n"
                              "Content-Length: " +
                              QByteArray::number(size) + "\r\nConnection: close\r\n\r\n");
                *sent = 0;
                pump();
            });
        }
    });
    std::printf("PORT %d\n", server.serverPort());
    std::fflush(stdout);
    return QCoreApplication::exec();
}

int client(QApplication &app, const QString &url, const QString &home)
{
    initNorvaResources();
    QApplication::setQuitOnLastWindowClosed(false);

    int exitCode = 0;
    qint64 elapsedNs = 0;
    qint64 hwmBefore = 0, hwmAfter = 0, rssBefore = 0, rssAfter = 0;
    const QString downloadDir = home + QStringLiteral("/Downloads");
    QDir().mkpath(downloadDir);
    {
        Browser browser;
        MainWindow *window = browser.createWindow(0, false);
        mainWindow = window;
        appSettings->downloadPath = downloadDir;

        // In the program a version check always comes first and has loaded the network stack
        // (bearer plugins and all); so it is here, before the clock starts.
        QNetworkAccessManager versionCheck;
        QElapsedTimer timer;
        // The clock stops when the downloaded, checked installer is handed to be started; the
        // real start and the client's quit that follow are no part of the transfer.
        window->updater()->setInstallerLauncher([&](const QString &dir, const QString &file) {
            elapsedNs = timer.nsecsElapsed();
            return InstallerLauncher::launch(dir, file);
        });
        QTimer::singleShot(0, window, [&] {
            hwmBefore = statusKb("VmHWM");
            rssBefore = statusKb("VmRSS");
            timer.start();
            window->downloadFile(url, QStringLiteral("9.9.9"));
        });
        exitCode = app.exec();
        hwmAfter = statusKb("VmHWM");
        rssAfter = statusKb("VmRSS");
        mainWindow = nullptr;
        delete window;
    }

    const QString file = downloadDir + QLatin1Char('/') + QUrl(url).fileName();
    std::printf("EXIT %d\nBYTES %lld\nSECONDS %.6f\nHWM_BEFORE_KB %lld\nHWM_AFTER_KB %lld\n"
                "RSS_BEFORE_KB %lld\nRSS_AFTER_KB %lld\nDIR %s\n",
                exitCode, QFileInfo(file).size(), double(elapsedNs) / 1e9, hwmBefore, hwmAfter,
                rssBefore, rssAfter, qPrintable(home));
    std::fflush(stdout);
    return exitCode;
}

} // namespace

int main(int argc, char *argv[])
{
    const QByteArray mode = argc > 2 ? QByteArray(argv[1]) : QByteArray();
    if (mode == "serve") {
        QCoreApplication app(argc, argv);
        return serve(QByteArray(argv[2]).toLongLong());
    }
    if (mode != "client") {
        std::fprintf(stderr, "usage: %s serve <bytes> | client <url>\n", argv[0]);
        return 2;
    }

    // Never the real user's settings or profile. The home stays: the started installer runs
    // from it after this process has gone; the script removes it.
    NorvaTest::prepareEnvironment(true);
    QApplication app(argc, argv);
    return client(app, QString::fromLocal8Bit(argv[2]), NorvaTest::homeDir());
}
