#include "app/appsettings.h"
#include "downloads/downloadmanagerwidget.h"
#include "downloads/downloadwidget.h"
#include "tests/support/testhttpserver.h"
#include "tests/support/testsupport.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QWebEngineProfile>
#include <QWebEngineView>

using State = QWebEngineDownloadItem::DownloadState;

// Answers each request with the head and half of an office file, the rest on finish(), so a
// download can be caught while it runs. No length: the size stays unknown until the end.
class StallingServer : public QTcpServer
{
public:
    const QByteArray body = QByteArray("PK\x03\x04", 4) + QByteArray(2996, 'x'); // zip-like
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

    TestHttpServer m_pages;
    StallingServer m_files;
    QTemporaryDir m_dir;
    QList<QUrl> m_opened;

    void clickDownloadLink(QWebEngineView &view)
    {
        m_pages.setHtml(QStringLiteral("/page.html"),
                        QStringLiteral("<a id='go' href='http://127.0.0.1:%1/sheet.xlsx'>get</a>")
                            .arg(m_files.serverPort()));
        QSignalSpy loaded(&view, &QWebEngineView::loadFinished);
        view.load(m_pages.url(QStringLiteral("/page.html")));
        QVERIFY(loaded.wait(20000));
        NorvaTest::runJs(view.page(), QStringLiteral("document.getElementById('go').click()"));
    }

private slots:
    void initTestCase()
    {
        QLocale::setDefault(QLocale::c());
        QVERIFY(m_pages.listen());
        QVERIFY(m_files.listen(QHostAddress::LocalHost));
        QVERIFY(m_dir.isValid());
        DownloadWidget::setUrlOpener([this](const QUrl &url) {
            m_opened << url;
            return true;
        });
    }

    void rules()
    {
        QCOMPARE(DownloadWidget::withUnit(512), QStringLiteral("512 B"));
        QCOMPARE(DownloadWidget::withUnit(1023), QStringLiteral("1023 B"));
        QCOMPARE(DownloadWidget::withUnit(1024), QStringLiteral("1.00 KiB"));
        QCOMPARE(DownloadWidget::withUnit(1.5 * 1048576), QStringLiteral("1.50 MiB"));

        for (const QString &dir : {QStringLiteral("D:/Files"), QStringLiteral("D:/Files/")})
            QCOMPARE(DownloadManagerWidget::suggestedPath(dir, QStringLiteral("report.pdf")),
                     QStringLiteral("D:/Files/report.pdf"));
        QCOMPARE(DownloadManagerWidget::fileFilter(QStringLiteral("application/pdf")),
                 QStringLiteral("*.*"));

        // What the bar shows per state; a requested download leaves it alone.
        QVERIFY(
            !DownloadWidget::progressFor(State::DownloadRequested, 0, 100, 0, QString()).changes);
        const std::tuple<State, qreal, qreal, int, bool, const char *> cases[] = {
            {State::DownloadInProgress, 2, 3, 67, true, "%p% - 2 B of 3 B 已下载 - 1.00 KiB/s"},
            {State::DownloadInProgress, 300, 0, 0, true, "%p% - 300 B of 0 B 已下载 - 1.00 KiB/s"},
            {State::DownloadInProgress, 300, -1, 0, true, "未知大小 - 300 B 已下载 - 1.00 KiB/s"},
            {State::DownloadCompleted, 2048, -1, 100, false,
             "已完成 - 2.00 KiB 已下载 - 1.00 KiB/s"},
            {State::DownloadCancelled, 10, 20, 0, false, "已取消 - 10 B 已下载 - 1.00 KiB/s"},
            {State::DownloadInterrupted, 10, 20, 0, false, "已中断: Network error"},
        };
        for (const auto &[state, received, total, value, enabled, format] : cases) {
            const DownloadWidget::Progress p = DownloadWidget::progressFor(
                state, received, total, 1024, QStringLiteral("Network error"));
            QCOMPARE(p.format, QString::fromUtf8(format));
            QVERIFY(p.changes);
            QCOMPARE(p.value, value);
            QCOMPARE(p.enabled, enabled);
        }
    }

    void rowsReplaceOlderRowsForTheSamePath()
    {
        DownloadManagerWidget manager;
        QVERIFY(!manager.zeroItemsLabel()->isHidden());
        QList<DownloadWidget *> rows;
        for (const char *path : {"/d/a.txt", "/d/b.txt", "/d/a.txt"}) {
            rows << new DownloadWidget(nullptr);
            rows.last()->setWindowFilePath(QLatin1String(path));
            manager.add(rows.last());
            QVERIFY(manager.zeroItemsLabel()->isHidden());
        }
        QCOMPARE(manager.rows(), (QList<DownloadWidget *>{rows.at(2), rows.at(1)}));
        QVERIFY(rows.at(0)->isHidden());
    }

    void downloadThroughAPage()
    {
        // Wired to the default profile as the application does it.
        AppSettings settings;
        settings.downloadPath = m_dir.path() + QLatin1Char('/');
        DownloadManagerWidget manager;
        manager.setAppSettings(&settings);
        connect(QWebEngineProfile::defaultProfile(), &QWebEngineProfile::downloadRequested,
                &manager, &DownloadManagerWidget::downloadRequested);
        int asked = 0;
        QWidget *askParent = nullptr;
        QStringList askedWith; // start path, filter
        QString answer;        // cancelled first
        manager.setSaveFileAsker(
            [&](QWidget *parent, const QString &, const QString &start, const QString &filter) {
                ++asked;
                askParent = parent;
                askedWith = QStringList{start, filter};
                return answer;
            });
        QWebEngineView view;
        clickDownloadLink(view);
        QTRY_COMPARE_WITH_TIMEOUT(asked, 1, 20000);
        QCOMPARE(askParent, &manager);
        QCOMPARE(askedWith, (QStringList{m_dir.path() + "/sheet.xlsx", "*.xlsx"}));
        QVERIFY(manager.rows().isEmpty());
        QVERIFY(!manager.isVisible());
        QVERIFY(!QFile::exists(m_dir.filePath(QStringLiteral("sheet.xlsx"))));

        answer = m_dir.filePath(QStringLiteral("chosen/saved.xlsx"));
        QDir().mkpath(m_dir.filePath(QStringLiteral("chosen")));
        clickDownloadLink(view);
        QTRY_COMPARE_WITH_TIMEOUT(manager.rows().size(), 1, 20000);
        QCOMPARE(asked, 2);
        QVERIFY(manager.isVisible());
        DownloadWidget *row = manager.rows().first();
        QCOMPARE(row->nameLabel()->text(), QStringLiteral("saved.xlsx"));

        // Still running: a double-click opens nothing.
        QTRY_VERIFY_WITH_TIMEOUT(row->progressBar()->format().contains(QStringLiteral("1.46 KiB")),
                                 20000);
        QTest::mouseDClick(row, Qt::LeftButton);
        QVERIFY(m_opened.isEmpty());

        m_files.finish();
        QTRY_VERIFY_WITH_TIMEOUT(
            row->progressBar()->format().startsWith(QStringLiteral("已完成 - ")), 20000);
        QCOMPARE(row->progressBar()->value(), 100);
        QVERIFY(row->progressBar()->format().contains(QStringLiteral("2.93 KiB 已下载")));
        QFile saved(answer);
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QCOMPARE(saved.readAll(), m_files.body);

        // Local paths begin with "/": the URLs must still name the right folder and file.
        row->openDirButton()->click();
        QTest::mouseDClick(row, Qt::LeftButton);
        QCOMPARE(m_opened,
                 (QList<QUrl>{QUrl::fromLocalFile(m_dir.filePath(QStringLiteral("chosen"))),
                              QUrl::fromLocalFile(answer)}));
    }
};

NORVA_TEST_MAIN(TestDownloads)
#include "tst_downloads.moc"
