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

// A server that sends half of a file and holds the rest back until told, so a download
// can be observed while it is still running.
class StallingServer : public QObject
{
public:
    explicit StallingServer(const QByteArray &body) : m_body(body)
    {
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            QTcpSocket *socket = m_server.nextPendingConnection();
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
                m_request += socket->readAll();
                if (!m_request.contains("\r\n\r\n") || m_socket)
                    return;
                m_socket = socket;
                socket->write("HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\n"
                              "Content-Disposition: attachment; filename=\"slow.bin\"\r\n"
                              "Content-Length: " +
                              QByteArray::number(m_body.size()) + "\r\n\r\n");
                socket->write(m_body.left(m_body.size() / 2));
            });
        });
    }
    bool listen() { return m_server.listen(QHostAddress::LocalHost, 0); }
    QUrl url() const
    {
        return QUrl(QStringLiteral("http://127.0.0.1:%1/slow.bin").arg(m_server.serverPort()));
    }
    void finish()
    {
        m_socket->write(m_body.mid(m_body.size() / 2));
        m_socket->disconnectFromHost();
    }

private:
    QTcpServer m_server;
    QByteArray m_body;
    QByteArray m_request;
    QTcpSocket *m_socket = nullptr;
};

class TestDownloads : public QObject
{
    Q_OBJECT

    struct Ask
    {
        int calls = 0;
        QWidget *parent = nullptr;
        QString caption;
        QString start;
        QString filter;
    };

    TestHttpServer m_server;
    QTemporaryDir m_dir;
    AppSettings m_settings;
    QList<QUrl> m_opened;

    static TestHttpServer::Response attachment(const QByteArray &name, const QByteArray &type,
                                               const QByteArray &body, bool withLength = true)
    {
        TestHttpServer::Response r;
        r.contentType = type;
        r.body = body;
        r.sendLength = withLength;
        r.headers << qMakePair(QByteArray("Content-Disposition"),
                               QByteArray("attachment; filename=\"" + name + "\""));
        return r;
    }

    // A manager wired to the default profile the way the application object does it; the
    // save dialog answers with `answer` and records how it was asked.
    DownloadManagerWidget *makeManager(const QString &answer, Ask *ask)
    {
        auto *manager = new DownloadManagerWidget(nullptr);
        manager->setAppSettings(&m_settings);
        manager->setSaveFileAsker([answer, ask](QWidget *parent, const QString &caption,
                                                const QString &start, const QString &filter) {
            ++ask->calls;
            ask->parent = parent;
            ask->caption = caption;
            ask->start = start;
            ask->filter = filter;
            return answer;
        });
        connect(QWebEngineProfile::defaultProfile(), &QWebEngineProfile::downloadRequested, manager,
                &DownloadManagerWidget::downloadRequested);
        return manager;
    }

    // Clicks a download link in a real page.
    void clickLink(QWebEngineView &view, const QUrl &target)
    {
        m_server.setHtml(QStringLiteral("/page.html"),
                         QStringLiteral("<html><body><a id='go' href='%1'>get</a></body></html>")
                             .arg(target.toString()));
        QSignalSpy loaded(&view, &QWebEngineView::loadFinished);
        view.load(m_server.url(QStringLiteral("/page.html")));
        QVERIFY(loaded.wait(20000));
        QVERIFY(loaded.first().first().toBool());
        NorvaTest::runJs(view.page(), QStringLiteral("document.getElementById('go').click()"));
    }

private slots:
    void initTestCase()
    {
        QLocale::setDefault(QLocale::c());
        QVERIFY(m_server.listen());
        QVERIFY(m_dir.isValid());
        m_settings.downloadPath = m_dir.path();
        DownloadWidget::setUrlOpener([this](const QUrl &url) {
            m_opened << url;
            return true;
        });
    }

    void init() { m_opened.clear(); }

    void unitRule_data()
    {
        QTest::addColumn<qreal>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("0") << qreal(0) << QStringLiteral("0 B");
        QTest::newRow("512") << qreal(512) << QStringLiteral("512 B");
        QTest::newRow("1023 stays in bytes") << qreal(1023) << QStringLiteral("1023 B");
        QTest::newRow("1024") << qreal(1024) << QStringLiteral("1.00 KiB");
        QTest::newRow("just below a MiB") << qreal(1048575) << QStringLiteral("1024.00 KiB");
        QTest::newRow("1.5 MiB") << qreal(1.5 * 1048576) << QStringLiteral("1.50 MiB");
        QTest::newRow("1 GiB") << qreal(1073741824) << QStringLiteral("1.00 GiB");
        QTest::newRow("3 GiB") << qreal(3.0 * 1073741824) << QStringLiteral("3.00 GiB");
    }
    void unitRule()
    {
        QFETCH(qreal, bytes);
        QFETCH(QString, text);
        QCOMPARE(DownloadWidget::withUnit(bytes), text);
    }

    void suggestedPathAndFilter()
    {
        QCOMPARE(DownloadManagerWidget::suggestedPath(QStringLiteral("D:/Files"),
                                                      QStringLiteral("report.pdf")),
                 QStringLiteral("D:/Files/report.pdf"));
        QCOMPARE(DownloadManagerWidget::suggestedPath(QStringLiteral("D:/Files/"),
                                                      QStringLiteral("report.pdf")),
                 QStringLiteral("D:/Files/report.pdf"));
        QCOMPARE(DownloadManagerWidget::fileFilter(QStringLiteral(
                     "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet")),
                 QStringLiteral("*.xlsx"));
        QCOMPARE(DownloadManagerWidget::fileFilter(QStringLiteral("application/pdf")),
                 QStringLiteral("*.*"));
        // The match is case-sensitive.
        QCOMPARE(DownloadManagerWidget::fileFilter(QStringLiteral(
                     "APPLICATION/VND.OPENXMLFORMATS-OFFICEDOCUMENT.SPREADSHEETML.SHEET")),
                 QStringLiteral("*.*"));
    }

    void progressPerState_data()
    {
        QTest::addColumn<int>("state");
        QTest::addColumn<qreal>("received");
        QTest::addColumn<qreal>("total");
        QTest::addColumn<bool>("changes");
        QTest::addColumn<int>("value");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<QString>("format");
        QTest::newRow("requested leaves the bar") << int(State::DownloadRequested) << qreal(0)
                                                  << qreal(100) << false << 0 << true << QString();
        QTest::newRow("in progress, known size")
            << int(State::DownloadInProgress) << qreal(512) << qreal(2048) << true << 25 << true
            << QStringLiteral("%p% - 512 B of 2.00 KiB 已下载 - 1.00 KiB/s");
        QTest::newRow("in progress, rounded")
            << int(State::DownloadInProgress) << qreal(2) << qreal(3) << true << 67 << true
            << QStringLiteral("%p% - 2 B of 3 B 已下载 - 1.00 KiB/s");
        QTest::newRow("in progress, size announced as 0")
            << int(State::DownloadInProgress) << qreal(300) << qreal(0) << true << 0 << true
            << QStringLiteral("%p% - 300 B of 0 B 已下载 - 1.00 KiB/s");
        QTest::newRow("in progress, unknown size")
            << int(State::DownloadInProgress) << qreal(300) << qreal(-1) << true << 0 << true
            << QStringLiteral("未知大小 - 300 B 已下载 - 1.00 KiB/s");
        QTest::newRow("completed")
            << int(State::DownloadCompleted) << qreal(2048) << qreal(-1) << true << 100 << false
            << QStringLiteral("已完成 - 2.00 KiB 已下载 - 1.00 KiB/s");
        QTest::newRow("cancelled")
            << int(State::DownloadCancelled) << qreal(10) << qreal(20) << true << 0 << false
            << QStringLiteral("已取消 - 10 B 已下载 - 1.00 KiB/s");
        QTest::newRow("interrupted")
            << int(State::DownloadInterrupted) << qreal(10) << qreal(20) << true << 0 << false
            << QStringLiteral("已中断: Network error");
    }
    void progressPerState()
    {
        QFETCH(int, state);
        QFETCH(qreal, received);
        QFETCH(qreal, total);
        const DownloadWidget::Progress p = DownloadWidget::progressFor(
            State(state), received, total, 1024, QStringLiteral("Network error"));
        QTEST(p.changes, "changes");
        if (!p.changes)
            return;
        QTEST(p.value, "value");
        QTEST(p.enabled, "enabled");
        QTEST(p.format, "format");
    }

    void rowsReplaceOlderRowsForTheSamePath()
    {
        DownloadManagerWidget manager;
        QVERIFY(!manager.zeroItemsLabel()->isHidden());
        auto row = [](const QString &path) {
            auto *r = new DownloadWidget(nullptr);
            r->setWindowFilePath(path);
            return r;
        };
        DownloadWidget *a = row(QStringLiteral("/d/a.txt"));
        DownloadWidget *b = row(QStringLiteral("/d/b.txt"));
        DownloadWidget *a2 = row(QStringLiteral("/d/a.txt"));
        manager.add(a);
        QVERIFY(manager.zeroItemsLabel()->isHidden());
        manager.add(b);
        QPointer<DownloadWidget> gone = a;
        manager.add(a2);
        QCOMPARE(manager.rows(), (QList<DownloadWidget *>{a2, b}));
        QVERIFY(gone.isNull() || gone->isHidden());
        QVERIFY(manager.zeroItemsLabel()->isHidden());
        QCOMPARE(manager.numDownloads(), 3);
    }

    void cancellingTheSaveDialogAddsNothing()
    {
        m_server.setResponse(QStringLiteral("/report.pdf"),
                             attachment("report.pdf", "application/pdf", "%PDF-1.4 test"));
        Ask ask;
        QScopedPointer<DownloadManagerWidget> manager(makeManager(QString(), &ask));
        QWebEngineView view;
        clickLink(view, m_server.url(QStringLiteral("/report.pdf")));
        QTRY_COMPARE_WITH_TIMEOUT(ask.calls, 1, 20000);
        QCOMPARE(ask.parent, manager.data());
        QCOMPARE(ask.caption, QStringLiteral("另存为"));
        QCOMPARE(ask.start, m_dir.path() + QStringLiteral("/report.pdf"));
        QCOMPARE(ask.filter, QStringLiteral("*.*"));
        QVERIFY(manager->rows().isEmpty());
        QCOMPARE(manager->numDownloads(), 0);
        QVERIFY(!manager->isVisible());
        QVERIFY(!manager->zeroItemsLabel()->isHidden());
        QVERIFY(!QFile::exists(m_dir.filePath(QStringLiteral("report.pdf"))));
    }

    void realDownloadCompletes()
    {
        // Starts like a zip archive, or the engine would not believe the office type.
        const QByteArray body = QByteArray("PK\x03\x04", 4) + QByteArray(2996, 'x');
        // No length: the size stays unknown until the end.
        m_server.setResponse(QStringLiteral("/sheet.xlsx"),
                             attachment("sheet.xlsx",
                                        "application/vnd.openxmlformats-officedocument."
                                        "spreadsheetml.sheet",
                                        body, false));
        const QString target = m_dir.filePath(QStringLiteral("chosen/saved.xlsx"));
        QDir().mkpath(m_dir.filePath(QStringLiteral("chosen")));
        m_settings.downloadPath = m_dir.path() + QLatin1Char('/');
        Ask ask;
        QScopedPointer<DownloadManagerWidget> manager(makeManager(target, &ask));
        QWebEngineView view;
        clickLink(view, m_server.url(QStringLiteral("/sheet.xlsx")));
        QTRY_COMPARE_WITH_TIMEOUT(manager->rows().size(), 1, 20000);
        QCOMPARE(ask.start, m_dir.path() + QStringLiteral("/sheet.xlsx"));
        QCOMPARE(ask.filter, QStringLiteral("*.xlsx"));
        QVERIFY(manager->isVisible());
        QVERIFY(manager->zeroItemsLabel()->isHidden());

        DownloadWidget *row = manager->rows().first();
        QCOMPARE(row->windowFilePath(), target);
        QCOMPARE(row->nameLabel()->text(), QStringLiteral("saved.xlsx"));
        QCOMPARE(row->toolTip(), QStringLiteral("双击打开文件"));
        QCOMPARE(row->openDirButton()->text(), QStringLiteral("打开文件夹"));
        QTRY_VERIFY_WITH_TIMEOUT(
            row->progressBar()->format().startsWith(QStringLiteral("已完成 - ")), 20000);
        QCOMPARE(row->progressBar()->value(), 100);
        QVERIFY(!row->progressBar()->isEnabled());
        QVERIFY(row->progressBar()->format().contains(QStringLiteral("2.93 KiB 已下载")));
        QFile saved(target);
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QCOMPARE(saved.readAll(), body);

        // Local paths begin with "/": the URLs must still name the right file and folder.
        row->openDirButton()->click();
        QTest::mouseDClick(row, Qt::LeftButton);
        QCOMPARE(m_opened,
                 (QList<QUrl>{QUrl::fromLocalFile(m_dir.filePath(QStringLiteral("chosen"))),
                              QUrl::fromLocalFile(target)}));
        QCOMPARE(m_opened.last().toLocalFile(), target);

        // The same target again: one row, the newer one.
        clickLink(view, m_server.url(QStringLiteral("/sheet.xlsx")));
        QTRY_VERIFY_WITH_TIMEOUT(manager->rows().size() == 1 && manager->rows().first() != row,
                                 20000);
        QCOMPARE(manager->rows().first()->windowFilePath(), target);
        QCOMPARE(ask.calls, 2);
    }

    void runningDownloadIgnoresDoubleClick()
    {
        const QByteArray body(4096, 'y');
        StallingServer slow(body);
        QVERIFY(slow.listen());
        const QString target = m_dir.filePath(QStringLiteral("slow.bin"));
        Ask ask;
        QScopedPointer<DownloadManagerWidget> manager(makeManager(target, &ask));
        QWebEngineView view;
        clickLink(view, slow.url());
        QTRY_COMPARE_WITH_TIMEOUT(manager->rows().size(), 1, 20000);
        DownloadWidget *row = manager->rows().first();
        QTRY_VERIFY_WITH_TIMEOUT(
            row->progressBar()->format().contains(QStringLiteral("2.00 KiB of 4.00 KiB 已下载")),
            20000);
        QCOMPARE(row->progressBar()->value(), 50);
        QVERIFY(row->progressBar()->isEnabled());
        QCOMPARE(row->progressBar()->text().left(6), QStringLiteral("50% - "));

        QTest::mouseDClick(row, Qt::LeftButton);
        QVERIFY(m_opened.isEmpty());

        slow.finish();
        QTRY_VERIFY_WITH_TIMEOUT(row->progressBar()->format().startsWith(QStringLiteral("已完成")),
                                 20000);
        QTest::mouseDClick(row, Qt::LeftButton);
        QCOMPARE(m_opened, (QList<QUrl>{QUrl::fromLocalFile(target)}));
    }
};

NORVA_TEST_MAIN(TestDownloads)
#include "tst_downloads.moc"
