#include "app/appsettings.h"
#include "app/browser.h"
#include "mainwindow/mainwindow.h"
#include "notify/notifymanager.h"
#include "tests/support/testhttpserver.h"
#include "tests/support/testsupport.h"
#include "update/progressdialog.h"
#include "update/updater.h"
#include "web/webview.h"

#include <QAbstractButton>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <tuple>
#include <utility>

namespace {

// Records every message box and clicks the next queued button text. A box with no answer
// queued is dismissed, so an unexpected box never blocks a test; one given leaveOpen stays.
struct BoxAnswerer : QObject
{
    struct Seen
    {
        QString title, text, defaultButton;
        QStringList buttons; // sorted
    };
    static constexpr const char *leaveOpen = "<leave open>";
    QList<Seen> seen;
    QStringList answers;
    QTimer timer;
    QPointer<QMessageBox> last;

    BoxAnswerer()
    {
        connect(&timer, &QTimer::timeout, this, [this] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box || !box->isVisible() || box == last)
                return;
            last = box;
            QStringList buttons;
            for (QAbstractButton *b : box->buttons())
                buttons << b->text();
            buttons.sort();
            QAbstractButton *byDefault = box->defaultButton();
            seen << Seen{box->windowTitle(), box->text(), byDefault ? byDefault->text() : QString(),
                         buttons};
            const QString wanted = answers.isEmpty() ? QString() : answers.takeFirst();
            for (QAbstractButton *b : box->buttons()) {
                if (b->text() == wanted)
                    return b->click();
            }
            if (wanted != leaveOpen)
                box->reject();
        });
        timer.start(20);
    }
};

// Sends the header and then the body slowly, never all of it, until the test lets the rest go
// or drops the connection. (Qt reports progress only for data that keeps coming.)
struct StallingServer : QObject
{
    QTcpServer server;
    QTimer trickle;
    QPointer<QTcpSocket> socket;
    int sent = 0;
    QByteArray body = QByteArray(4 * 1024 * 1024, '#').replace(0, 17, "#!/bin/sh\nexit 0\n");

    explicit StallingServer(bool sendLength = true)
    {
        server.listen(QHostAddress::LocalHost);
        connect(&server, &QTcpServer::newConnection, this, [this, sendLength] {
            socket = server.nextPendingConnection();
            connect(socket, &QTcpSocket::readyRead, this, [this, sendLength] {
                socket->readAll();
                if (sent > 0)
                    return;
                QByteArray head = "HTTP/1.1 200 OK\r\n";
                if (sendLength)
                    head += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
                socket->write(head + "\r\n" + body.left(sent = 1024));
                trickle.start(20);
            });
        });
        connect(&trickle, &QTimer::timeout, this, [this] {
            if (sent + 1024 < body.size())
                socket->write(body.mid(std::exchange(sent, sent + 1024), 1024));
        });
    }
    QString url(const QString &path) const
    {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(server.serverPort()).arg(path);
    }
    void finish()
    {
        trickle.stop();
        socket->write(body.mid(sent));
        socket->disconnectFromHost();
    }
    void drop()
    {
        trickle.stop();
        socket->abort();
    }
};

QByteArray toJson(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

// A version file announcing one Windows release.
QByteArray releaseFile(const QString &latest, const QString &flag = QString(),
                       const QString &updateUrl = QString())
{
    QJsonObject win{{"latest-version", latest}, {"updateflag", flag}, {"update-url", updateUrl}};
    return toJson(QJsonObject{{"version", QJsonObject{{"win", win}}}});
}

QString storedValue(const QString &key)
{
    return QSettings(QSettings::NativeFormat, QSettings::UserScope,
                     QCoreApplication::organizationName(), QCoreApplication::applicationName())
        .value(key, "<unset>")
        .toString();
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

QByteArray installerScript(const QString &marker)
{
    return QStringLiteral("#!/bin/sh\necho ran > \"%1\"\n").arg(marker).toUtf8();
}

} // namespace

class TestUpdater : public QObject
{
    Q_OBJECT

private:
    // Starts a check and by default waits for its end: every outcome but a download releases
    // the guard.
    void runCheck(bool silent, const QByteArray &versionFile, bool wait = true)
    {
        m_versionBody = versionFile;
        QVERIFY(!m_updater->checkInProgress());
        if (silent)
            m_window->checkVersion(true);
        else
            m_window->handleCheckVersion();
        QVERIFY(m_updater->checkInProgress());
        if (wait)
            QTRY_VERIFY_WITH_TIMEOUT(!m_updater->checkInProgress(), 10000);
    }

    // Offers release 1.8.0 from the given address; a mandatory one comes with a silent check.
    void offer(const QString &url, const QStringList &answers, const QString &flag = QString())
    {
        m_boxes.answers = answers;
        runCheck(flag == "force", releaseFile("1.8.0", flag, url), false);
    }

    QString serve(const QString &path, const QByteArray &body)
    {
        TestHttpServer::Response r;
        r.contentType = "application/octet-stream";
        r.body = body;
        const QUrl url = m_server.url(path);
        m_server.setResponse(url.path(QUrl::FullyEncoded), r);
        return url.toString(QUrl::FullyEncoded);
    }

    QString downloads() const { return appSettings->downloadPath; }

    // Runs the application's loop as the program does until the update quits; returns the exit
    // code. An exit() with no loop running would make every later modal box return at once.
    int runUntilQuit()
    {
        QTimer watchdog;
        connect(&watchdog, &QTimer::timeout, [] { QCoreApplication::exit(-1); });
        watchdog.start(30000);
        return QCoreApplication::exec();
    }

    // Loads about:blank and waits until it is committed, so a later load shows at once in url().
    void settleOnBlank(WebView *view)
    {
        QSignalSpy finished(view, &QWebEngineView::loadFinished);
        view->setUrl(QUrl("about:blank"));
        QTRY_VERIFY_WITH_TIMEOUT(!finished.isEmpty() && finished.last().value(0).toBool() &&
                                     view->url() == QUrl("about:blank"),
                                 15000);
    }

    TestHttpServer m_server;
    QByteArray m_versionBody;
    int m_versionStatus = 200;
    Browser *m_browser = nullptr;
    MainWindow *m_window = nullptr;
    Updater *m_updater = nullptr;
    BoxAnswerer m_boxes;
    int m_run = 0;

private slots:
    void initTestCase()
    {
        // The version file's address is fixed at the first use of the service URL.
        QVERIFY(m_server.listen());
        qputenv("NORVA_SERVICE_URL", m_server.url().toString().toUtf8());
        m_server.setHandler("/kst-client/updates/version.json", [this](const QByteArray &) {
            TestHttpServer::Response r;
            r.status = m_versionStatus;
            r.contentType = "application/json";
            r.body = m_versionBody;
            return r;
        });
        m_server.setHtml("/", "<html><body>main</body></html>");
        m_server.setHtml("/newmain", "<html><body>new main</body></html>");
        m_browser = new Browser;
        m_window = m_browser->createWindow(0, false);
        mainWindow = m_window;
        m_updater = m_window->updater();
        QVERIFY(m_updater);
    }

    void init()
    {
        m_boxes.seen.clear();
        m_boxes.answers.clear();
        m_versionStatus = 200;
        m_window->setQuitRequested(false);
        // A fresh directory each time; installers started in earlier ones run a second later.
        appSettings->downloadPath = NorvaTest::homeDir() + QString("/dl-%1").arg(++m_run);
        QVERIFY(QDir().mkpath(downloads()));
        QVERIFY(!m_updater->checkInProgress());
    }

    void cleanup()
    {
        // A failing test must not leave a running download behind for the next one.
        if (m_updater->downloadReply())
            m_updater->cancelDownload();
        QTRY_VERIFY(!m_updater->checkInProgress());
    }

    void cleanupTestCase()
    {
        mainWindow = nullptr;
        delete m_window;
        delete m_browser;
    }

    void checkOutcomes_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<bool>("silent");
        QTest::addColumn<QString>("title"); // empty: no box at all
        QTest::addColumn<QString>("text");  // ending in ":", the start of the text
        auto row = [](const char *name, int status, const QByteArray &file, bool silent,
                      const QString &title, const QString &text) {
            QTest::newRow(name) << status << file << silent << title << text;
        };
        const QString upToDate = "当前版本 1.7.5 已经是最新版本！";
        const QString ask = "发现新版本 %1 ，是否下载升级？";
        const QByteArray current = releaseFile("1.7.5");
        const QString url = m_server.url("/dl/setup.exe").toString();
        row("network error", 500, current, false, "版本检查失败", "失败原因:");
        row("network error, silent", 500, current, true, "版本检查失败", "失败原因:");
        row("up to date", 200, current, false, "检查版本", upToDate);
        row("up to date, silent", 200, current, true, {}, {});
        row("too few parts", 200, releaseFile("1.8"), false, "检查版本", "获取版本信息出错");
        row("too few parts, silent", 200, releaseFile("1.8"), true, {}, {});
        row("newer", 200, releaseFile("1.7.6", "", url), false, "升级提醒", ask.arg("1.7.6"));
        row("empty parts, silent", 200, releaseFile("1..7.6", "", url), true, "升级提醒",
            ask.arg("1..7.6"));
        row("four parts", 200, releaseFile("2.0.0.9", "", url), true, "升级提醒",
            ask.arg("2.0.0.9"));
        row("Force is optional", 200, releaseFile("1.7.6", "Force", url), true, "升级提醒",
            ask.arg("1.7.6"));
        row("not json", 200, "<html>oops</html>", false, {}, {});
        row("version without dot", 200, releaseFile("180"), false, {}, {});
    }
    void checkOutcomes()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, file);
        QFETCH(bool, silent);
        QFETCH(QString, title);
        QFETCH(QString, text);
        // Twice: the first check must release the guard (runCheck insists), and "否" leaves
        // everything as it was, so the later check asks again.
        m_versionStatus = status;
        for (int round = 0; round < 2; ++round) {
            m_boxes.seen.clear();
            m_boxes.answers = QStringList{"否"};
            const int requestsBefore = m_server.requests().size();
            runCheck(silent, file);
            QCOMPARE(m_server.requests().size(), requestsBefore + 1);
            QCOMPARE(m_server.requests().last(),
                     QStringLiteral("/kst-client/updates/version.json?v=1.7.5"));
            QVERIFY(!m_updater->downloadReply());
            QCOMPARE(m_boxes.seen.size(), title.isEmpty() ? 0 : 1);
            if (title.isEmpty())
                continue;
            const BoxAnswerer::Seen &box = m_boxes.seen[0];
            QCOMPARE(box.title, title);
            if (text.endsWith(':'))
                QVERIFY2(box.text.startsWith(text) && box.text.size() > text.size(),
                         qPrintable(box.text));
            else
                QCOMPARE(box.text, text);
            const bool question = title == "升级提醒";
            QCOMPARE(box.buttons, question ? QStringList({"否", "是"}) : QStringList{"OK"});
            if (question)
                QCOMPARE(box.defaultButton, QStringLiteral("是"));
            QVERIFY(!m_updater->forceUpdate());
        }
    }

    void globalDirectives()
    {
        auto check = [this](const char *key, int value, const QJsonObject &notice = {}) {
            const QJsonObject info{{key, value}};
            runCheck(true, toJson({{"global",
                                    QJsonObject{{"systemInfo", info}, {"forceNotice", notice}}}}));
        };
        // The notice settings reach the notices; a stay time of 0 gives 3.
        check("noticeStayTime", 0, {{"status", 1}, {"busicTypes", QJsonArray{4}}});
        QCOMPARE(m_browser->notifyManager()->allowedBusicTypes(), QList<int>{4});
        QCOMPARE(m_window->noticeStayTime(), 3);

        // Under a minute is ignored; the same period again keeps the running timer.
        QCOMPARE(m_browser->checkUpdateInterval(), 86400);
        const int dailyTimer = m_browser->checkTimerId();
        check("checkUpdateInterval", 59);
        QCOMPARE(m_browser->checkUpdateInterval(), 86400);
        QCOMPARE(m_browser->checkTimerId(), dailyTimer);
        check("checkUpdateInterval", 60);
        QCOMPARE(m_browser->checkUpdateInterval(), 60);
        const int minuteTimer = m_browser->checkTimerId();
        QVERIFY(minuteTimer > 0);
        check("checkUpdateInterval", 60);
        QCOMPARE(m_browser->checkTimerId(), minuteTimer);
        check("checkUpdateInterval", 86400);
        QCOMPARE(m_browser->checkUpdateInterval(), 86400);
    }

    void cacheClearedOncePerVersion()
    {
        WebView *view = m_window->currentView();
        const QUrl mainPage = QUrl::fromUserInput(appSettings->defaultMainPage);
        QVERIFY(appSettings->clearCacheVersion.isEmpty());
        // Nothing recorded yet clears; then the same version, one without any part and "TRUE"
        // for "true" do nothing; 1.10 is newer than 1.2.
        const std::tuple<const char *, const char *, const char *> orders[] = {
            {"true", "1.2", "1.2"},
            {"true", "1.2", nullptr},
            {"true", ".", nullptr},
            {"TRUE", "1.3", nullptr},
            {"true", "1.10", "1.10"}};
        for (const auto &[clear, ver, recorded] : orders) {
            settleOnBlank(view);
            const QJsonObject cache{{"clear", clear}, {"ver", ver}};
            runCheck(true, toJson(QJsonObject{{"version", QJsonObject{{"cache", cache}}}}));
            QCOMPARE(view->url(), recorded ? mainPage : QUrl("about:blank"));
            if (recorded)
                QCOMPARE(storedValue("OtherSettings/clearCacheVersion"), QString(recorded));
        }
        QCOMPARE(appSettings->clearCacheVersion, QStringLiteral("1.10"));
        QCOMPARE(m_boxes.seen.size(), 0);
    }

    void newMainPage()
    {
        const QString original = appSettings->defaultMainPage;
        WebView *view = m_window->currentView();
        const QString page = m_server.url("/newmain").toString();
        // An empty and a broken address are ignored; a usable one is stored and loaded.
        for (const QString &candidate : {QString(), QString("http://"), page}) {
            settleOnBlank(view);
            QJsonObject win{{"latest-version", "1.7.5"}, {"main-page", candidate}};
            runCheck(true, toJson(QJsonObject{{"version", QJsonObject{{"win", win}}}}));
            const bool usable = candidate == page;
            QCOMPARE(appSettings->defaultMainPage, usable ? page : original);
            QCOMPARE(storedValue("OtherSettings/defaultMainPage"), usable ? page : "<unset>");
            QCOMPARE(view->url(), usable ? QUrl(page) : QUrl("about:blank"));
        }
        QTRY_VERIFY_WITH_TIMEOUT(m_server.requests().contains("/newmain"), 15000);
        appSettings->defaultMainPage = original;
    }

    void installerRuns_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("name");
        QTest::newRow("plain") << "/dl/setup-1.8.0.run"
                               << "setup-1.8.0.run";
        QTest::newRow("no file name") << "/dl/"
                                      << "norva-setup-1.8.0";
        // The name reaches the shell only as an argument: nothing in it is executed.
        const QString shell = "x;touch pwned1;$(touch pwned2)`touch pwned3`&.run";
        QTest::newRow("shell syntax") << "/dl/" + QString(QUrl::toPercentEncoding(shell)) << shell;
    }
    void installerRuns()
    {
        // "是" downloads into the download directory; once the window has closed, the
        // installer really runs from there.
        QFETCH(QString, path);
        QFETCH(QString, name);
        const QString marker = downloads() + "/marker";
        offer(serve(path, installerScript(marker)), {"是"});
        QCOMPARE(runUntilQuit(), 0);
        QVERIFY(m_window->quitRequested());
        QCOMPARE(m_boxes.seen.size(), 1);

        const QString target = downloads() + "/" + name;
        QCOMPARE(m_updater->installerPath(), target);
        QCOMPARE(readFile(target), installerScript(marker));
        QVERIFY(QFile::permissions(target) & QFile::ExeOwner);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(marker), 15000);
        QCOMPARE(QDir(downloads()).entryList(QDir::Files).size(), 2);
        for (const QString &dir : {downloads(), QDir::currentPath(), NorvaTest::homeDir()})
            for (const char *pwned : {"pwned1", "pwned2", "pwned3"})
                QVERIFY(!QFile::exists(dir + "/" + pwned));
        QVERIFY(m_updater->progressDialog());
        QCOMPARE(m_updater->progressDialog()->windowTitle(),
                 QStringLiteral("新版本 1.8.0 下载进度"));
    }

    void overwriteQuestion()
    {
        const QString target = downloads() + "/setup.run";
        const QString url = serve("/dl/setup.run", "#!/bin/sh\nexit 0\n");
        QFile old(target);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("old");
        old.close();

        // "否": nothing downloaded, the old file stays.
        const int requestsBefore = m_server.requests().size();
        offer(url, {"是", "否"});
        QTRY_VERIFY_WITH_TIMEOUT(!m_updater->checkInProgress(), 10000);
        QCOMPARE(m_boxes.seen.size(), 2);
        QCOMPARE(m_boxes.seen[1].title, QStringLiteral("是否覆盖已存在的 1.8.0 文件"));
        QCOMPARE(m_boxes.seen[1].text,
                 QStringLiteral("此处已存在一个文件名为  %1.\n覆盖?").arg(target));
        QCOMPARE(m_boxes.seen[1].defaultButton, QStringLiteral("否"));
        QCOMPARE(m_server.requests().size(), requestsBefore + 1);
        QCOMPARE(readFile(target), QByteArray("old"));
        QVERIFY(!m_window->quitRequested());

        // "是": replaced.
        m_boxes.seen.clear();
        offer(url, {"是", "是"});
        QCOMPARE(runUntilQuit(), 0);
        QCOMPARE(m_boxes.seen.size(), 2);
        QCOMPARE(readFile(target), QByteArray("#!/bin/sh\nexit 0\n"));
    }

    void mandatoryUpdate()
    {
        // No question and no cancel button; the dialog cannot be closed, and when the file is
        // there already a notice closes by itself before the download.
        QCOMPARE(m_updater->overwriteNoticeDelay(), 10000);
        m_updater->setOverwriteNoticeDelay(300);
        const QString marker = downloads() + "/marker-forced";
        const QString target = downloads() + "/forced.run";
        QFile old(target);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.close();
        StallingServer stalling;
        stalling.body.replace(0, installerScript(marker).size(), installerScript(marker));
        offer(stalling.url("/dl/forced.run"), {BoxAnswerer::leaveOpen}, "force");
        QTRY_VERIFY_WITH_TIMEOUT(m_updater->downloadReply(), 10000);
        m_updater->setOverwriteNoticeDelay(10000);
        ProgressDialog *dialog = m_updater->progressDialog();
        QTRY_VERIFY_WITH_TIMEOUT(dialog->isVisible() && dialog->value() > 0, 10000);
        QCOMPARE(dialog->maximum(), stalling.body.size());
        QVERIFY(dialog->findChildren<QPushButton *>().isEmpty());
        QVERIFY(!dialog->close());
        QTest::keyClick(dialog, Qt::Key_Escape);
        QVERIFY(dialog->isVisible());
        QVERIFY(!m_updater->downloadAborted());
        // A manual check meanwhile does nothing.
        m_window->handleCheckVersion();
        QVERIFY(m_updater->silentCheck());

        stalling.finish();
        QCOMPARE(runUntilQuit(), 0);
        QVERIFY(m_window->quitRequested());
        QVERIFY(m_updater->forceUpdate());
        QCOMPARE(m_boxes.seen.size(), 1);
        QCOMPARE(m_boxes.seen[0].title, QStringLiteral("升级提醒"));
        QCOMPARE(m_boxes.seen[0].text, QStringLiteral("10秒后自动下载新版本 1.8.0 安装升级"));
        QCOMPARE(readFile(target), stalling.body);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(marker), 15000);
        // Deleted after use, not left behind as a hidden child of the window.
        QTRY_VERIFY(m_window->findChildren<QMessageBox *>().isEmpty());
    }

    void failedDownloadRemovesFile_data()
    {
        QTest::addColumn<bool>("truncated");
        QTest::newRow("HTTP error") << false;
        QTest::newRow("truncated") << true;
    }
    void failedDownloadRemovesFile()
    {
        // Nothing starts, and the mandatory update's dialog may be closed again.
        QFETCH(bool, truncated);
        StallingServer stalling;
        const QString target = downloads() + "/part.run";
        offer(truncated ? stalling.url("/dl/part.run") : m_server.url("/dl/part.run").toString(),
              {}, "force");
        if (truncated) {
            QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(target).size() > 0, 10000);
            stalling.drop();
        }
        QTRY_VERIFY_WITH_TIMEOUT(!m_updater->checkInProgress(), 10000);
        QVERIFY(!QFile::exists(target));
        QVERIFY(!m_window->quitRequested());
        QCOMPARE(m_boxes.seen.size(), 0);
        QVERIFY(m_updater->progressDialog()->canClose);
    }

    void cancel_data()
    {
        QTest::addColumn<bool>("byClosing");
        QTest::newRow("cancel button") << false;
        QTest::newRow("closing the dialog") << true;
    }
    void cancel()
    {
        QFETCH(bool, byClosing);
        StallingServer stalling;
        offer(stalling.url("/dl/cancel.run"), {"是"});
        QTRY_VERIFY_WITH_TIMEOUT(m_updater->downloadReply(), 10000);
        ProgressDialog *dialog = m_updater->progressDialog();
        const QString target = downloads() + "/cancel.run";
        QTRY_VERIFY_WITH_TIMEOUT(dialog->isVisible() && QFileInfo(target).size() > 0, 10000);
        if (byClosing) {
            QVERIFY(dialog->close());
        } else {
            QCOMPARE(dialog->findChild<QPushButton *>()->text(), QStringLiteral("取消"));
            dialog->findChild<QPushButton *>()->click();
        }
        QVERIFY(m_updater->downloadAborted());
        QVERIFY(!m_updater->downloadReply());
        QVERIFY(!m_updater->checkInProgress());
        // The partial file stays; nothing was started.
        QVERIFY(QFileInfo(target).size() > 0);
        QVERIFY(!m_window->quitRequested());
    }

    void redirect_data()
    {
        QTest::addColumn<bool>("follow");
        QTest::newRow("refused") << false;
        QTest::newRow("confirmed") << true;
    }
    void redirect()
    {
        QFETCH(bool, follow);
        const QString marker = downloads() + "/marker-redirect";
        TestHttpServer::Response moved;
        moved.status = 302;
        moved.headers << qMakePair(QByteArray("Location"), QByteArray("/dl/real.run"));
        m_server.setResponse("/dl/moved.run", moved);
        const QString real = serve("/dl/real.run", installerScript(marker));

        offer(m_server.url("/dl/moved.run").toString(), {"是", follow ? "是" : "否"});
        if (follow)
            QCOMPARE(runUntilQuit(), 0);
        else
            QTRY_VERIFY_WITH_TIMEOUT(!m_updater->checkInProgress(), 10000);
        QCOMPARE(m_boxes.seen.size(), 2);
        QCOMPARE(m_boxes.seen[1].title, QStringLiteral("重定向"));
        QCOMPARE(m_boxes.seen[1].text, QStringLiteral("重定向到 %1 ？").arg(real));
        QCOMPARE(m_boxes.seen[1].defaultButton, QStringLiteral("否"));

        // Confirmed, the redirected download goes into the same file and is then started.
        QCOMPARE(m_window->quitRequested(), follow);
        QCOMPARE(readFile(downloads() + "/moved.run"),
                 follow ? installerScript(marker) : QByteArray("<missing>"));
        if (follow)
            QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(marker), 15000);
    }

    void unknownLength()
    {
        // Without a length from the server -1 reaches the dialog as its maximum, and the
        // download still completes.
        StallingServer stalling(false);
        offer(stalling.url("/dl/nolength.run"), {"是"});
        QTRY_VERIFY_WITH_TIMEOUT(m_updater->progressDialog(), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(m_updater->progressDialog()->maximum(), -1, 10000);
        stalling.finish();
        QCOMPARE(runUntilQuit(), 0);
        QCOMPARE(readFile(downloads() + "/nolength.run"), stalling.body);
    }

    void earlyReturnsFreeTheGuard()
    {
        // No address, no download directory, an invalid address, an unwritable target: each
        // ends the update, and the next check runs (runCheck checks the guard first).
        const QString url = m_server.url("/dl/x.run").toString();
        const QString dir = downloads();
        QVERIFY(QDir(dir).mkpath("x.run/inside")); // cannot be opened as a file
        const std::tuple<QString, QString, QStringList> cases[] = {{"", dir, {"是"}},
                                                                   {url, "", {"是"}},
                                                                   {"%%%", dir, {"是", "OK"}},
                                                                   {url, dir, {"是", "是", "OK"}}};
        for (const auto &[address, directory, answers] : cases) {
            m_boxes.seen.clear();
            m_boxes.answers = answers;
            appSettings->downloadPath = directory;
            runCheck(false, releaseFile("1.8.0", "", address));
            QCOMPARE(m_boxes.seen.size(), answers.size());
            QVERIFY(!m_updater->downloadReply());
            if (address == "%%%")
                QCOMPARE(m_boxes.seen[1].text, QStringLiteral("无效的下载链接: %%%: "));
        }
        QCOMPARE(m_boxes.seen[2].title, QStringLiteral("错误"));
        QVERIFY2(m_boxes.seen[2].text.startsWith(
                     QStringLiteral("无法保存到该文件 %1: ").arg(dir + "/x.run")),
                 qPrintable(m_boxes.seen[2].text));
    }
};

NORVA_TEST_MAIN(TestUpdater)
#include "tst_updater.moc"
