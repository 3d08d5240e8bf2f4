#include "downloads/downloadmanagerwidget.h"
#include "downloads/downloadwidget.h"
#include "store/appsettings.h"
#include "tests/support/testsupport.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QWebEngineProfile>
#include <QWebEngineView>

using State = QWebEngineDownloadItem::DownloadState;

// Sends half of an office file, the rest on finish(), so a download can be caught while it runs.
struct StallingServer : QTcpServer
{
    const QByteArray body = QByteArray("PK\x03\x04", 4) + QByteArray(2996, 'x');
    QPointer<QTcpSocket> current;

    StallingServer()
    {
        connect(this, &QTcpServer::newConnection, [this] {
            QTcpSocket *s = nextPendingConnection();
            connect(s, &QTcpSocket::readyRead, s, [this, s] {
                s->readAll();
                if (s == current)
                    return;
                current = s;
                s->write("HTTP/1.0 200 OK\r\nContent-Type: application/vnd.openxmlformats-"
                         "officedocument.spreadsheetml.sheet\r\nContent-Disposition: attachment; "
                         "filename=\"sheet.xlsx\"\r\n\r\n" +
                         body.left(body.size() / 2));
            });
        });
    }
    void finish()
    {
        current->write(body.mid(body.size() / 2));
        current->disconnectFromHost();
    }
};

class TestDownloads : public QObject
{
    Q_OBJECT

    StallingServer m_files;
    QTemporaryDir m_dir;
    QList<QUrl> m_opened;

private slots:
    void initTestCase()
    {
        QLocale::setDefault(QLocale::c());
        QVERIFY(m_files.listen(QHostAddress::LocalHost));
        DownloadWidget::setUrlOpener([this](const QUrl &url) {
            m_opened << url;
            return true;
        });
    }

    void rules()
    {
        QCOMPARE(DownloadWidget::withUnit(512), QString("512 B"));
        QCOMPARE(DownloadWidget::withUnit(1023), QString("1023 B"));
        QCOMPARE(DownloadWidget::withUnit(1024), QString("1.00 KiB"));
        QCOMPARE(DownloadWidget::withUnit(1.5 * 1048576), QString("1.50 MiB"));
        for (const char *dir : {"D:/Files", "D:/Files/"})
            QCOMPARE(DownloadManagerWidget::suggestedPath(dir, "report.pdf"),
                     QString("D:/Files/report.pdf"));
        QCOMPARE(DownloadManagerWidget::fileFilter("application/pdf"), QString("*.*"));

        const std::tuple<State, qreal, qreal, int, bool, const char *> cases[] = {
            {State::DownloadInProgress, 2, 3, 67, true, "%p% - 2 B of 3 B 已下载 - 1.00 KiB/s"},
            {State::DownloadInProgress, 300, -1, 0, true, "未知大小 - 300 B 已下载 - 1.00 KiB/s"},
            {State::DownloadCompleted, 512, -1, 100, false, "已完成 - 512 B 已下载 - 1.00 KiB/s"},
            {State::DownloadCancelled, 10, 20, 0, false, "已取消 - 10 B 已下载 - 1.00 KiB/s"},
            {State::DownloadInterrupted, 10, 20, 0, false, "已中断: Network error"},
            // More than announced, or an announced 0: the bar stays within 0 to 100.
            {State::DownloadInProgress, 3e9, 1, 100, true,
             "%p% - 2.79 GiB of 1 B 已下载 - 1.00 KiB/s"},
            {State::DownloadInProgress, 5, 0, 0, true, "%p% - 5 B of 0 B 已下载 - 1.00 KiB/s"},
        };
        for (const auto &[state, got, total, value, enabled, format] : cases) {
            const auto p = DownloadWidget::progressFor(state, got, total, 1024, "Network error");
            QCOMPARE(p.format, QString::fromUtf8(format));
            QVERIFY(p.changes);
            QCOMPARE(p.value, value);
            QCOMPARE(p.enabled, enabled);
        }

        // One row per path, the newest on top.
        DownloadManagerWidget manager;
        QList<DownloadWidget *> rows;
        for (const char *path : {"/d/a.txt", "/d/b.txt", "/d/a.txt"}) {
            rows << new DownloadWidget(nullptr);
            rows.last()->setWindowFilePath(path);
            manager.add(rows.last());
        }
        QCOMPARE(manager.rows(), (QList<DownloadWidget *>{rows.at(2), rows.at(1)}));
        QVERIFY(rows.at(0)->isHidden());
    }

    void downloadThroughAPage()
    {
        AppSettings settings;
        settings.downloadPath = m_dir.path() + '/';
        DownloadManagerWidget manager;
        manager.setAppSettings(&settings);
        connect(QWebEngineProfile::defaultProfile(), &QWebEngineProfile::downloadRequested,
                &manager, &DownloadManagerWidget::downloadRequested);
        QStringList askedWith; // start path, filter
        QString answer;        // cancelled first
        manager.setSaveFileAsker(
            [&](QWidget *, const QString &, const QString &start, const QString &filter) {
                askedWith = QStringList{start, filter};
                return answer;
            });
        QWebEngineView view;
        const QUrl file("http://127.0.0.1:" + QString::number(m_files.serverPort()) +
                        "/sheet.xlsx");
        view.load(file);
        QTRY_COMPARE_WITH_TIMEOUT(askedWith, (QStringList{m_dir.path() + "/sheet.xlsx", "*.xlsx"}),
                                  20000);
        QVERIFY(manager.rows().isEmpty());
        answer = m_dir.filePath("saved.xlsx");
        view.load(file);
        QTRY_COMPARE_WITH_TIMEOUT(manager.rows().size(), 1, 20000);
        DownloadWidget *row = manager.rows().first();
        QCOMPARE(row->nameLabel()->text(), QString("saved.xlsx"));

        // Still running: a double-click opens nothing.
        QTRY_VERIFY_WITH_TIMEOUT(row->progressBar()->format().contains("1.46 KiB"), 20000);
        QTest::mouseDClick(row, Qt::LeftButton);
        QVERIFY(m_opened.isEmpty());

        m_files.finish();
        QTRY_VERIFY_WITH_TIMEOUT(row->progressBar()->format().startsWith("已完成 - "), 20000);
        QFile saved(answer);
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QCOMPARE(saved.readAll(), m_files.body);

        // Local paths begin with "/": the URLs must still name the right folder and file.
        row->openDirButton()->click();
        QTest::mouseDClick(row, Qt::LeftButton);
        QCOMPARE(m_opened,
                 (QList<QUrl>{QUrl::fromLocalFile(m_dir.path()), QUrl::fromLocalFile(answer)}));
    }
};

NORVA_TEST_MAIN(TestDownloads)
#include "tst_downloads.moc"
