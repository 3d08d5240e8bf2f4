#include "app/appsettings.h"
#include "app/browser.h"
#include "app/serviceurl.h"
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
#include <QNetworkReply>
#include <QPushButton>
#include <QSettings>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

namespace {

// Every message box that shows up, answered from a queue of button texts. A box with no
// answer queued is recorded and dismissed, so an unexpected box never blocks a test.
class BoxAnswerer : public QObject
{
public:
    struct Seen
    {
        QString title;
        QString text;
        QStringList buttons;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QString defaultButton;
        QWidget *parent = nullptr;
    };
    // Leaves the box alone; it has to close by itself.
    static QString leaveOpen() { return QStringLiteral("<leave open>"); }

    BoxAnswerer()
    {
        m_timer.setInterval(20);
        connect(&m_timer, &QTimer::timeout, this, &BoxAnswerer::poll);
        m_timer.start();
    }
    void answer(const QStringList &buttonTexts) { m_answers += buttonTexts; }
    void reset()
    {
        seen.clear();
        m_answers.clear();
    }

    QList<Seen> seen;

private:
    void poll()
    {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || !box->isVisible() || box->property("norvaSeen").toBool())
            return;
        box->setProperty("norvaSeen", true);
        Seen s;
        s.title = box->windowTitle();
        s.text = box->text();
        for (QAbstractButton *b : box->buttons())
            s.buttons << b->text();
        s.icon = box->icon();
        if (box->defaultButton())
            s.defaultButton = box->defaultButton()->text();
        s.parent = box->parentWidget();
        seen << s;
        const QString wanted = m_answers.isEmpty() ? QString() : m_answers.takeFirst();
        if (wanted == leaveOpen())
            return;
        for (QAbstractButton *b : box->buttons()) {
            if (b->text() == wanted) {
                b->click();
                return;
            }
        }
        box->reject();
    }

    QTimer m_timer;
    QStringList m_answers;
};

// Sends a response header and then the body in small portions, slowly, until the test lets the
// rest go at once or drops the connection.
class StallingServer : public QObject
{
public:
    explicit StallingServer(bool sendLength = true) : m_sendLength(sendLength)
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        m_trickle.setInterval(20);
        connect(&m_trickle, &QTimer::timeout, this, &StallingServer::sendPortion);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
                    m_request += socket->readAll();
                    if (!m_request.contains("\r\n\r\n") || m_socket)
                        return;
                    m_socket = socket;
                    QByteArray head =
                        "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n";
                    if (m_sendLength)
                        head += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
                    socket->write(head + "\r\n");
                    sendPortion();
                    m_trickle.start();
                });
            }
        });
    }
    QUrl url(const QString &path) const
    {
        return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_server.serverPort()).arg(path));
    }
    void finish()
    {
        m_trickle.stop();
        if (m_socket) {
            m_socket->write(body.mid(m_sent));
            m_socket->disconnectFromHost();
        }
    }
    void drop()
    {
        m_trickle.stop();
        if (m_socket)
            m_socket->abort();
    }

    QByteArray body = QByteArray(4 * 1024 * 1024, '#').replace(0, 17, "#!/bin/sh\nexit 0\n");

private:
    void sendPortion()
    {
        // Never the whole body: the download has to stay open until finish() or drop().
        if (!m_socket || m_sent + 1024 >= body.size())
            return;
        m_socket->write(body.mid(m_sent, 1024));
        m_sent += 1024;
    }

    bool m_sendLength;
    QTcpServer m_server;
    QTimer m_trickle;
    QPointer<QTcpSocket> m_socket;
    QByteArray m_request;
    int m_sent = 0;
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

QVariant storedValue(const QString &key)
{
    QSettings s(QSettings::NativeFormat, QSettings::UserScope, QCoreApplication::organizationName(),
                QCoreApplication::applicationName());
    return s.value(key);
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

} // namespace

class TestUpdater : public QObject
{
    Q_OBJECT

public:
    TestUpdater()
    {
        // The version file's address is fixed at the first use of the service URL.
        m_server.listen();
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
    }

private:
    // Runs one check to its end (every outcome but a download clears the guard).
    void runCheck(bool silent, const QByteArray &versionFile)
    {
        m_versionBody = versionFile;
        QVERIFY(!m_updater->checkInProgress());
        if (silent)
            m_window->checkVersion(true);
        else
            m_window->handleCheckVersion();
        QVERIFY(m_updater->checkInProgress());
        QTRY_VERIFY_WITH_TIMEOUT(!m_updater->checkInProgress(), 10000);
    }

    QString installerScript(const QString &marker) const
    {
        return QStringLiteral("#!/bin/sh\necho ran > \"%1\"\n").arg(marker);
    }

    void serveInstaller(const QString &path, const QByteArray &body, bool sendLength = true)
    {
        TestHttpServer::Response r;
        r.contentType = "application/octet-stream";
        r.body = body;
        r.sendLength = sendLength;
        m_server.setResponse(path, r);
    }

    QString downloads() const { return m_downloadDir->path(); }

    // Runs the application's event loop the way the program does, until the update closes the
    // window and quits; returns the exit code. The loop must really run here: an exit() with no
    // loop running would make every later modal box return at once.
    int runUntilQuit()
    {
        QTimer watchdog;
        watchdog.setSingleShot(true);
        connect(&watchdog, &QTimer::timeout, [] { QCoreApplication::exit(-1); });
        watchdog.start(30000);
        return QCoreApplication::exec();
    }

    // Loads about:blank and waits until it is the committed page, so that a later load shows
    // at once in url().
    void settleOnBlank(WebView *view)
    {
        const QUrl blank("about:blank");
        QSignalSpy finished(view, &QWebEngineView::loadFinished);
        view->setUrl(blank);
        QTRY_VERIFY_WITH_TIMEOUT(!finished.isEmpty() && finished.last().value(0).toBool() &&
                                     view->url() == blank,
                                 15000);
    }

    TestHttpServer m_server;
    QByteArray m_versionBody;
    int m_versionStatus = 200;
    Browser *m_browser = nullptr;
    MainWindow *m_window = nullptr;
    Updater *m_updater = nullptr;
    BoxAnswerer m_boxes;
    std::unique_ptr<QTemporaryDir> m_downloadDir;
    std::vector<std::unique_ptr<QTemporaryDir>> m_oldDirs;

private slots:
    void initTestCase()
    {
        m_browser = new Browser;
        m_window = m_browser->createWindow(0, false);
        mainWindow = m_window;
        m_updater = m_window->updater();
        QVERIFY(m_updater);
    }

    void init()
    {
        m_boxes.reset();
        m_versionStatus = 200;
        m_versionBody.clear();
        m_window->setQuitRequested(false);
        // Earlier directories stay until the end: an installer started there runs a second later.
        if (m_downloadDir)
            m_oldDirs.push_back(std::move(m_downloadDir));
        m_downloadDir = std::make_unique<QTemporaryDir>(NorvaTest::homeDir() + "/dl-XXXXXX");
        appSettings->downloadPath = m_downloadDir->path();
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

    void requestAddress()
    {
        runCheck(true, releaseFile("1.7.5"));
        QCOMPARE(m_server.requests().filter("kst-client").last(),
                 QStringLiteral("/kst-client/updates/version.json?v=1.7.5"));
    }

    void upToDate()
    {
        // Manual: the information box; silent: nothing.
        runCheck(false, releaseFile("1.7.5"));
        QCOMPARE(m_boxes.seen.size(), 1);
        QCOMPARE(m_boxes.seen[0].title, QStringLiteral("检查版本"));
        QCOMPARE(m_boxes.seen[0].text, QStringLiteral("当前版本 1.7.5 已经是最新版本！"));
        QCOMPARE(m_boxes.seen[0].buttons, QStringList{"OK"});
        QCOMPARE(m_boxes.seen[0].icon, QMessageBox::Information);
        QCOMPARE(m_boxes.seen[0].parent, m_window);
        QVERIFY(!m_updater->silentCheck());

        runCheck(true, releaseFile("1.7.5"));
        runCheck(true, releaseFile("1.7.4.9")); // a fourth part is ignored: 1.7.4
        runCheck(true, releaseFile("0.9.9"));
        QVERIFY(m_boxes.seen.size() == 1);
    }

    void tooFewParts()
    {
        runCheck(false, releaseFile("1.8"));
        QCOMPARE(m_boxes.seen.size(), 1);
        QCOMPARE(m_boxes.seen[0].title, QStringLiteral("检查版本"));
        QCOMPARE(m_boxes.seen[0].text, QStringLiteral("获取版本信息出错"));
        QCOMPARE(m_boxes.seen[0].buttons, QStringList{"OK"});
        QCOMPARE(m_boxes.seen[0].icon, QMessageBox::Warning);

        runCheck(true, releaseFile("1.8"));
        QCOMPARE(m_boxes.seen.size(), 1);
    }

    void newerReleaseAsks_data()
    {
        QTest::addColumn<QString>("latest");
        QTest::addColumn<QString>("flag");
        QTest::addColumn<bool>("silent");
        QTest::newRow("patch") << "1.7.6"
                               << "" << false;
        QTest::newRow("minor, silent") << "1.8.0"
                                       << "" << true;
        QTest::newRow("empty parts") << "1..7.6"
                                     << "" << false;
        QTest::newRow("four parts") << "2.0.0.9"
                                    << "" << true;
        QTest::newRow("Force is optional") << "1.7.6"
                                           << "Force" << true;
    }
    void newerReleaseAsks()
    {
        QFETCH(QString, latest);
        QFETCH(QString, flag);
        QFETCH(bool, silent);
        const int requestsBefore = m_server.requests().size();
        m_boxes.answer({"否"});
        runCheck(silent, releaseFile(latest, flag, m_server.url("/dl/setup.exe").toString()));
        QCOMPARE(m_boxes.seen.size(), 1);
        const BoxAnswerer::Seen &box = m_boxes.seen[0];
        QCOMPARE(box.title, QStringLiteral("升级提醒"));
        QCOMPARE(box.text, QStringLiteral("发现新版本 %1 ，是否下载升级？").arg(latest));
        QCOMPARE(box.buttons.size(), 2);
        QVERIFY(box.buttons.contains("是") && box.buttons.contains("否"));
        QCOMPARE(box.defaultButton, QStringLiteral("是"));
        QCOMPARE(box.icon, QMessageBox::Question);
        QCOMPARE(box.parent, m_window);
        QVERIFY(!m_updater->forceUpdate());
        // "否" downloads nothing; the check request was the only one.
        QCOMPARE(m_server.requests().size(), requestsBefore + 1);
        QVERIFY(!m_updater->downloadReply());
    }

    void networkErrorThenWorksAgain()
    {
        m_versionStatus = 500;
        for (bool silent : {false, true}) {
            m_boxes.reset();
            runCheck(silent, releaseFile("1.7.5"));
            QCOMPARE(m_boxes.seen.size(), 1);
            QCOMPARE(m_boxes.seen[0].title, QStringLiteral("版本检查失败"));
            QVERIFY2(m_boxes.seen[0].text.startsWith("失败原因:") &&
                         m_boxes.seen[0].text.size() > QString("失败原因:").size(),
                     qPrintable(m_boxes.seen[0].text));
            QCOMPARE(m_boxes.seen[0].icon, QMessageBox::Warning);
            QCOMPARE(m_boxes.seen[0].buttons, QStringList{"OK"});
        }
        m_versionStatus = 200;
        m_boxes.reset();
        runCheck(false, releaseFile("1.7.5"));
        QCOMPARE(m_boxes.seen.size(), 1);
        QCOMPARE(m_boxes.seen[0].text, QStringLiteral("当前版本 1.7.5 已经是最新版本！"));
    }

    void unusableFilesEndQuietly_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::newRow("not json") << QByteArray("<html>oops</html>");
        QTest::newRow("truncated") << QByteArray(R"({"version": {"win": )");
        QTest::newRow("array") << QByteArray("[1, 2]");
        QTest::newRow("no version") << QByteArray(R"({"global": {}})");
        QTest::newRow("version null") << QByteArray(R"({"version": null})");
        QTest::newRow("version string") << QByteArray(R"({"version": "1.8.0"})");
        QTest::newRow("no win") << QByteArray(
            R"({"version": {"mac": {"latest-version": "9.0.0"}}})");
        QTest::newRow("win empty") << QByteArray(R"({"version": {"win": {}}})");
        QTest::newRow("win array") << QByteArray(R"({"version": {"win": [1]}})");
        QTest::newRow("version number") << releaseFile("").replace("\"\"", "180");
        QTest::newRow("version empty") << releaseFile("");
        QTest::newRow("version without dot") << releaseFile("180");
    }
    void unusableFilesEndQuietly()
    {
        QFETCH(QByteArray, file);
        // A manual check, so that a box would show if one were due; and the guard is free after.
        runCheck(false, file);
        QCOMPARE(m_boxes.seen.size(), 0);
        QVERIFY(!m_updater->downloadReply());
    }

    void serverDirectives()
    {
        NotifyManager *notify = m_browser->notifyManager();
        QVERIFY(notify);
        const QJsonObject forceNotice{
            {"status", 1}, {"stayTime", 7}, {"busicTypes", QJsonArray{4}}};
        QJsonObject root{
            {"global", QJsonObject{{"forceNotice", forceNotice},
                                   {"systemInfo", QJsonObject{{"noticeStayTime", 8}}}}}};
        runCheck(true, toJson(root));
        QCOMPARE(notify->popupStayTime(), 7000);
        QCOMPARE(notify->allowedBusicTypes(), QList<int>{4});
        QCOMPARE(m_window->noticeStayTime(), 8);

        // Wrongly typed or other status values: not delivered; stay times of 0 or less give 3.
        for (const QJsonValue &status : {QJsonValue("1"), QJsonValue(2), QJsonValue(1.5)}) {
            QJsonObject other{{"status", status}, {"stayTime", 3}, {"busicTypes", QJsonArray{9}}};
            root = QJsonObject{{"global", QJsonObject{{"forceNotice", other}}}};
            runCheck(true, toJson(root));
            QCOMPARE(notify->allowedBusicTypes(), QList<int>{4});
        }
        for (const QJsonValue &stay : {QJsonValue(-5), QJsonValue(0), QJsonValue("9")}) {
            m_window->setNoticeStayTime(8);
            root = QJsonObject{
                {"global", QJsonObject{{"systemInfo", QJsonObject{{"noticeStayTime", stay}}}}}};
            runCheck(true, toJson(root));
            QCOMPARE(m_window->noticeStayTime(), 3);
        }
        // No "systemInfo" at all leaves the stay time alone.
        m_window->setNoticeStayTime(8);
        runCheck(true, toJson(QJsonObject{{"global", QJsonObject{}}}));
        QCOMPARE(m_window->noticeStayTime(), 8);
    }

    void checkIntervalRearm()
    {
        auto intervalFile = [](const QJsonValue &seconds) {
            return toJson(QJsonObject{
                {"global",
                 QJsonObject{{"systemInfo", QJsonObject{{"checkUpdateInterval", seconds}}}}}});
        };
        QCOMPARE(m_browser->checkUpdateInterval(), 86400);
        const int dailyTimer = m_browser->checkTimerId();
        QVERIFY(dailyTimer > 0);

        runCheck(true, intervalFile(59));
        QCOMPARE(m_browser->checkUpdateInterval(), 86400);
        QCOMPARE(m_browser->checkTimerId(), dailyTimer);
        runCheck(true, intervalFile("120"));
        QCOMPARE(m_browser->checkUpdateInterval(), 86400);

        runCheck(true, intervalFile(60));
        QCOMPARE(m_browser->checkUpdateInterval(), 60);
        const int minuteTimer = m_browser->checkTimerId();
        QVERIFY(minuteTimer > 0);

        // The same period again keeps the running timer.
        runCheck(true, intervalFile(60));
        QCOMPARE(m_browser->checkTimerId(), minuteTimer);

        runCheck(true, intervalFile(86400));
        QCOMPARE(m_browser->checkUpdateInterval(), 86400);
    }

    void cacheClearedOncePerVersion()
    {
        auto cacheFile = [](const QString &clear, const QString &ver) {
            return toJson(QJsonObject{
                {"version", QJsonObject{{"cache", QJsonObject{{"clear", clear}, {"ver", ver}}}}}});
        };
        WebView *view = m_window->currentView();
        QVERIFY(view);
        const QUrl blank("about:blank");
        const QUrl mainPage = QUrl::fromUserInput(appSettings->defaultMainPage);
        QVERIFY(appSettings->clearCacheVersion.isEmpty());

        // "TRUE" is not "true".
        settleOnBlank(view);
        runCheck(true, cacheFile("TRUE", "1.0"));
        QVERIFY(!m_updater->cacheCleared());
        QCOMPARE(view->url(), blank);

        // Nothing recorded yet: clears, records, reloads the main page.
        runCheck(true, cacheFile("true", "1.2"));
        QVERIFY(m_updater->cacheCleared());
        QCOMPARE(appSettings->clearCacheVersion, QStringLiteral("1.2"));
        QCOMPARE(storedValue("OtherSettings/clearCacheVersion").toString(), QStringLiteral("1.2"));
        QCOMPARE(view->url(), mainPage);

        // The same version again, an older one, and one without any part: nothing.
        for (const QString &ver : {QString("1.2"), QString("1.1"), QString("."), QString()}) {
            settleOnBlank(view);
            runCheck(true, cacheFile("true", ver));
            QCOMPARE(view->url(), blank);
            QCOMPARE(appSettings->clearCacheVersion, QStringLiteral("1.2"));
        }

        // 1.10 is newer than 1.2.
        runCheck(true, cacheFile("true", "1.10"));
        QCOMPARE(view->url(), mainPage);
        QCOMPARE(storedValue("OtherSettings/clearCacheVersion").toString(), QStringLiteral("1.10"));

        // Integer versions against an integer record.
        appSettings->clearCacheVersion = "2";
        settleOnBlank(view);
        runCheck(true, cacheFile("true", "3"));
        QCOMPARE(view->url(), mainPage);
        QCOMPARE(appSettings->clearCacheVersion, QStringLiteral("3"));
        QCOMPARE(m_boxes.seen.size(), 0);
    }

    void newMainPage()
    {
        const QString original = appSettings->defaultMainPage;
        WebView *view = m_window->currentView();
        auto mainPageFile = [](const QJsonValue &page) {
            QJsonObject win{{"latest-version", "1.7.5"}, {"main-page", page}};
            return toJson(QJsonObject{{"version", QJsonObject{{"win", win}}}});
        };

        // Unusable addresses never replace the stored main page.
        for (const QJsonValue &bad :
             {QJsonValue(""), QJsonValue("not a url"), QJsonValue("http://"), QJsonValue(42)}) {
            settleOnBlank(view);
            runCheck(true, mainPageFile(bad));
            QCOMPARE(appSettings->defaultMainPage, original);
            QVERIFY(!storedValue("OtherSettings/defaultMainPage").isValid());
            QCOMPARE(view->url(), QUrl("about:blank"));
        }

        const QString page = m_server.url("/newmain").toString();
        runCheck(true, mainPageFile(page));
        QCOMPARE(appSettings->defaultMainPage, page);
        QCOMPARE(storedValue("OtherSettings/defaultMainPage").toString(), page);
        QCOMPARE(view->url(), QUrl(page));
        QTRY_VERIFY_WITH_TIMEOUT(m_server.requests().contains("/newmain"), 15000);

        appSettings->defaultMainPage = original;
    }

    void optionalUpdateEndToEnd()
    {
        // "是" downloads into the download directory, starts the installer from there after the
        // window has closed, and the installer really runs.
        const QString marker = downloads() + "/marker-optional";
        serveInstaller("/dl/setup-1.8.0.run", installerScript(marker).toUtf8());
        m_boxes.answer({"是"});
        m_versionBody = releaseFile("1.8.0", "", m_server.url("/dl/setup-1.8.0.run").toString());
        m_window->handleCheckVersion();
        QCOMPARE(runUntilQuit(), 0);
        QVERIFY(m_window->quitRequested());
        QVERIFY(!m_updater->checkInProgress());
        QVERIFY(!m_window->isVisible());

        const QString target = downloads() + "/setup-1.8.0.run";
        QCOMPARE(m_updater->installerPath(), target);
        QCOMPARE(readFile(target), installerScript(marker).toUtf8());
        QVERIFY(QFile::permissions(target) & QFile::ExeOwner);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(marker), 15000);
        QCOMPARE(m_boxes.seen.size(), 1);

        // The dialog showed the release and the address.
        ProgressDialog *dialog = m_updater->progressDialog();
        QVERIFY(dialog);
        QCOMPARE(dialog->windowTitle(), QStringLiteral("新版本 1.8.0 下载进度"));
        QCOMPARE(dialog->labelText(), "下载 " + m_server.url("/dl/setup-1.8.0.run").toString());
        QVERIFY(dialog->canClose);
        QCOMPARE(dialog->sizeHint(), QSize(450, 200));
        QCOMPARE(dialog->minimumSize(), QSize(400, 75));
        QVERIFY(!(dialog->windowFlags() & Qt::WindowContextHelpButtonHint));
    }

    void targetInCurrentDirectory()
    {
        // A download directory that does not exist: the bare name in the current directory.
        QTemporaryDir cwd(NorvaTest::homeDir() + "/cwd-XXXXXX");
        const QString previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(cwd.path()));
        appSettings->downloadPath = downloads() + "/missing";
        const QString marker = cwd.path() + "/marker-cwd";
        serveInstaller("/dl/cwd-setup.run", installerScript(marker).toUtf8());
        m_boxes.answer({"是"});
        m_versionBody = releaseFile("1.8.0", "", m_server.url("/dl/cwd-setup.run").toString());
        m_window->handleCheckVersion();
        QCOMPARE(runUntilQuit(), 0);
        QVERIFY(m_window->quitRequested());
        QDir::setCurrent(previous);
        QCOMPARE(m_updater->installerPath(), QStringLiteral("cwd-setup.run"));
        QCOMPARE(readFile(cwd.path() + "/cwd-setup.run"), installerScript(marker).toUtf8());
        QVERIFY(!QFile::exists(downloads() + "/missing"));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(marker), 15000);
    }

    void overwriteQuestion()
    {
        const QString target = downloads() + "/setup.run";
        serveInstaller("/dl/setup.run", "#!/bin/sh\nexit 0\n");
        const QByteArray file = releaseFile("1.8.0", "", m_server.url("/dl/setup.run").toString());
        QFile old(target);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("old");
        old.close();

        // "否": nothing downloaded, the old file stays, a later check works.
        const int requestsBefore = m_server.requests().size();
        m_boxes.answer({"是", "否"});
        runCheck(false, file);
        QCOMPARE(m_boxes.seen.size(), 2);
        const BoxAnswerer::Seen &box = m_boxes.seen[1];
        QCOMPARE(box.title, QStringLiteral("是否覆盖已存在的 1.8.0 文件"));
        QCOMPARE(box.text, QStringLiteral("此处已存在一个文件名为  %1.\n覆盖?").arg(target));
        QCOMPARE(box.defaultButton, QStringLiteral("否"));
        QCOMPARE(box.buttons.size(), 2);
        QVERIFY(box.buttons.contains("是"));
        QCOMPARE(m_server.requests().size(), requestsBefore + 1);
        QCOMPARE(readFile(target), QByteArray("old"));
        QVERIFY(!m_window->quitRequested());

        // "是": replaced.
        m_boxes.reset();
        m_boxes.answer({"是", "是"});
        m_versionBody = file;
        m_window->handleCheckVersion();
        QCOMPARE(runUntilQuit(), 0);
        QVERIFY(m_window->quitRequested());
        QCOMPARE(m_boxes.seen.size(), 2);
        QCOMPARE(readFile(target), QByteArray("#!/bin/sh\nexit 0\n"));
    }

    void overwriteQuestionInCurrentDirectory()
    {
        QTemporaryDir cwd(NorvaTest::homeDir() + "/cwd-XXXXXX");
        const QString previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(cwd.path()));
        appSettings->downloadPath = downloads() + "/missing";
        QFile old(cwd.path() + "/setup.run");
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.close();
        m_boxes.answer({"是", "否"});
        runCheck(false, releaseFile("1.8.0", "", m_server.url("/dl/setup.run").toString()));
        QDir::setCurrent(previous);
        QCOMPARE(m_boxes.seen.size(), 2);
        QCOMPARE(m_boxes.seen[1].text,
                 QStringLiteral("此处已存在一个文件名为  setup.run 在当前目录.\n覆盖?"));
    }

    void mandatoryNoticeClosesByItself()
    {
        QCOMPARE(m_updater->overwriteNoticeDelay(), 10000);
        m_updater->setOverwriteNoticeDelay(300);
        const QString target = downloads() + "/forced.run";
        serveInstaller("/dl/forced.run", "#!/bin/sh\nexit 0\n");
        QFile old(target);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("old");
        old.close();

        m_boxes.answer({BoxAnswerer::leaveOpen()});
        m_versionBody = releaseFile("1.8.0", "force", m_server.url("/dl/forced.run").toString());
        m_window->checkVersion(true);
        QCOMPARE(runUntilQuit(), 0);
        QVERIFY(m_window->quitRequested());
        m_updater->setOverwriteNoticeDelay(10000);

        QCOMPARE(m_boxes.seen.size(), 1);
        QCOMPARE(m_boxes.seen[0].title, QStringLiteral("升级提醒"));
        QCOMPARE(m_boxes.seen[0].text, QStringLiteral("10秒后自动下载新版本 1.8.0 安装升级"));
        QCOMPARE(m_boxes.seen[0].buttons, QStringList{"OK"});
        QCOMPARE(m_boxes.seen[0].icon, QMessageBox::Information);
        QCOMPARE(readFile(target), QByteArray("#!/bin/sh\nexit 0\n"));
        QVERIFY(m_updater->forceUpdate());
        // Deleted after use, not left behind as a hidden child of the window.
        QTRY_VERIFY(m_window->findChildren<QMessageBox *>().isEmpty());
    }

    void mandatoryDownloadCannotBeCancelled()
    {
        // No question, no cancel button, close refused; a network error then removes the
        // partial file, starts nothing and lets the dialog go.
        StallingServer stalling;
        m_versionBody = releaseFile("1.8.0", "force", stalling.url("/dl/stalled.run").toString());
        m_window->checkVersion(true);
        QTRY_VERIFY_WITH_TIMEOUT(m_updater->downloadReply(), 10000);
        ProgressDialog *dialog = m_updater->progressDialog();
        QVERIFY(dialog);
        QTRY_VERIFY(dialog->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(dialog->value() > 0, 10000);
        QCOMPARE(dialog->maximum(), stalling.body.size());
        QVERIFY(!dialog->canClose);
        QVERIFY(dialog->findChildren<QPushButton *>().isEmpty());
        QVERIFY(!dialog->close());
        QVERIFY(dialog->isVisible());
        QTest::keyClick(dialog, Qt::Key_Escape);
        QVERIFY(m_updater->progressDialog());
        QVERIFY(dialog->isVisible());
        QVERIFY(!m_updater->downloadAborted());
        QVERIFY(m_updater->checkInProgress());

        // A manual check meanwhile does nothing.
        m_window->handleCheckVersion();
        QVERIFY(m_updater->silentCheck());

        const QString target = downloads() + "/stalled.run";
        QVERIFY(QFileInfo(target).size() > 0);
        stalling.drop();
        QTRY_VERIFY_WITH_TIMEOUT(!m_updater->checkInProgress(), 10000);
        QVERIFY(!QFile::exists(target));
        QVERIFY(!m_window->quitRequested());
        QCOMPARE(m_boxes.seen.size(), 0);
        QVERIFY(dialog->canClose);
    }

    void cancel()
    {
        StallingServer stalling;
        m_boxes.answer({"是"});
        m_versionBody = releaseFile("1.8.0", "", stalling.url("/dl/cancel.run").toString());
        m_window->handleCheckVersion();
        QTRY_VERIFY_WITH_TIMEOUT(m_updater->downloadReply(), 10000);
        QPointer<ProgressDialog> dialog = m_updater->progressDialog();
        QPushButton *cancelButton = nullptr;
        for (QPushButton *b : dialog->findChildren<QPushButton *>())
            if (b->text() == QStringLiteral("取消"))
                cancelButton = b;
        QVERIFY(cancelButton);
        const QString target = downloads() + "/cancel.run";
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(target).size() > 0, 10000);

        cancelButton->click();
        QVERIFY(m_updater->downloadAborted());
        QVERIFY(!m_updater->downloadReply());
        QVERIFY(!m_updater->checkInProgress());
        // The partial file stays; nothing was started.
        QVERIFY(QFileInfo(target).size() > 0);
        QVERIFY(!m_window->quitRequested());

        // A later manual check works again.
        m_boxes.reset();
        runCheck(false, releaseFile("1.7.5"));
        QCOMPARE(m_boxes.seen.size(), 1);
        QCOMPARE(m_boxes.seen[0].title, QStringLiteral("检查版本"));
    }

    void closingTheDialogCancels()
    {
        StallingServer stalling;
        m_boxes.answer({"是"});
        m_versionBody = releaseFile("1.8.0", "", stalling.url("/dl/closed.run").toString());
        m_window->handleCheckVersion();
        QTRY_VERIFY_WITH_TIMEOUT(m_updater->downloadReply(), 10000);
        QPointer<ProgressDialog> dialog = m_updater->progressDialog();
        QTRY_VERIFY(dialog && dialog->isVisible());
        QVERIFY(dialog->close());
        QVERIFY(m_updater->downloadAborted());
        QVERIFY(!m_updater->checkInProgress());
        QTRY_VERIFY(!dialog); // deletes itself on close
        QVERIFY(!m_window->quitRequested());
    }

    void httpErrorRemovesFile()
    {
        m_boxes.answer({"是"});
        runCheck(false, releaseFile("1.8.0", "", m_server.url("/dl/absent.run").toString()));
        QVERIFY(!QFile::exists(downloads() + "/absent.run"));
        QVERIFY(!m_window->quitRequested());
        QCOMPARE(m_boxes.seen.size(), 1);
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
        moved.body = "moved";
        moved.headers << qMakePair(QByteArray("Location"), QByteArray("/dl/real.run"));
        m_server.setResponse("/dl/moved.run", moved);
        serveInstaller("/dl/real.run", installerScript(marker).toUtf8());

        m_boxes.answer({"是", follow ? "是" : "否"});
        m_versionBody = releaseFile("1.8.0", "", m_server.url("/dl/moved.run").toString());
        m_window->handleCheckVersion();
        // Confirmed, the road ends with the quit, so the loop has to run from here on.
        if (follow)
            QCOMPARE(runUntilQuit(), 0);
        else
            QTRY_VERIFY_WITH_TIMEOUT(!m_updater->checkInProgress(), 10000);
        QCOMPARE(m_boxes.seen.size(), 2);
        const BoxAnswerer::Seen &box = m_boxes.seen[1];
        QCOMPARE(box.title, QStringLiteral("重定向"));
        QCOMPARE(box.text,
                 QStringLiteral("重定向到 %1 ？").arg(m_server.url("/dl/real.run").toString()));
        QCOMPARE(box.defaultButton, QStringLiteral("否"));
        QCOMPARE(box.buttons.size(), 2);

        const QString target = downloads() + "/moved.run";
        if (!follow) {
            QVERIFY(!QFile::exists(target));
            QVERIFY(!m_window->quitRequested());
            return;
        }
        // The redirected download went into the same file and then started it.
        QVERIFY(m_window->quitRequested());
        QCOMPARE(m_updater->downloadUrl(), m_server.url("/dl/real.run"));
        QCOMPARE(readFile(target), installerScript(marker).toUtf8());
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(marker), 15000);
    }

    void redirectKeepsTheGuardWhileTheNewDownloadRuns()
    {
        StallingServer stalling;
        TestHttpServer::Response moved;
        moved.status = 301;
        moved.headers << qMakePair(QByteArray("Location"),
                                   stalling.url("/dl/stalled.run").toEncoded());
        m_server.setResponse("/dl/to-stalled.run", moved);
        m_boxes.answer({"是", "是"});
        m_versionBody = releaseFile("1.8.0", "", m_server.url("/dl/to-stalled.run").toString());
        m_window->handleCheckVersion();
        QTRY_VERIFY_WITH_TIMEOUT(m_updater->downloadUrl() == stalling.url("/dl/stalled.run"),
                                 10000);
        QVERIFY(m_updater->downloadReply());
        QVERIFY(m_updater->checkInProgress());
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(downloads() + "/to-stalled.run").size() > 0, 10000);
        stalling.drop();
        QTRY_VERIFY_WITH_TIMEOUT(!m_updater->checkInProgress(), 10000);
        QVERIFY(!m_window->quitRequested());
    }

    void unknownLength()
    {
        // No length from the server: -1 reaches the dialog as its maximum, and the download
        // still completes and starts.
        StallingServer stalling(false);
        m_boxes.answer({"是"});
        m_versionBody = releaseFile("1.8.0", "", stalling.url("/dl/nolength.run").toString());
        m_window->handleCheckVersion();
        QTRY_VERIFY_WITH_TIMEOUT(m_updater->progressDialog(), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(m_updater->progressDialog()->maximum(), -1, 10000);
        stalling.finish();
        QCOMPARE(runUntilQuit(), 0);
        QVERIFY(m_window->quitRequested());
        QCOMPARE(readFile(downloads() + "/nolength.run"), stalling.body);
    }

    void nameWithShellSyntax()
    {
        // The name reaches the shell only as an argument: the installer itself runs under its
        // exact name and nothing in the name is executed.
        const QString name = "x;touch pwned1;$(touch pwned2)`touch pwned3`&.run";
        const QString marker = downloads() + "/marker-syntax";
        const QUrl url = m_server.url("/dl/" + QString::fromLatin1(QUrl::toPercentEncoding(name)));
        serveInstaller(url.path(QUrl::FullyEncoded), installerScript(marker).toUtf8());
        m_boxes.answer({"是"});
        m_versionBody = releaseFile("1.8.0", "", url.toString(QUrl::FullyEncoded));
        m_window->handleCheckVersion();
        QCOMPARE(runUntilQuit(), 0);
        QVERIFY(m_window->quitRequested());
        QCOMPARE(QFileInfo(m_updater->installerPath()).fileName(), name);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(marker), 15000);
        const QStringList left = QDir(downloads()).entryList(QDir::Files);
        QCOMPARE(left.size(), 2);
        for (const QString &dir : {downloads(), QDir::currentPath(), NorvaTest::homeDir()})
            for (const char *pwned : {"pwned1", "pwned2", "pwned3"})
                QVERIFY(!QFile::exists(dir + "/" + pwned));
    }

    void addressWithoutFileName()
    {
        const QString marker = downloads() + "/marker-noname";
        serveInstaller("/dl/", installerScript(marker).toUtf8());
        m_boxes.answer({"是"});
        m_versionBody = releaseFile("1.8.0", "", m_server.url("/dl/").toString());
        m_window->handleCheckVersion();
        QCOMPARE(runUntilQuit(), 0);
        QCOMPARE(m_updater->installerPath(), downloads() + "/norva-setup-1.8.0");
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(marker), 15000);
    }

    void earlyReturnsFreeTheGuard()
    {
        // No address, no download directory, an invalid address, an unwritable target: each
        // ends the update, and a later check works again.
        m_boxes.answer({"是"});
        runCheck(false, releaseFile("1.8.0", "", ""));
        QCOMPARE(m_boxes.seen.size(), 1);

        m_boxes.reset();
        appSettings->downloadPath.clear();
        m_boxes.answer({"是"});
        runCheck(false, releaseFile("1.8.0", "", m_server.url("/dl/x.run").toString()));
        QCOMPARE(m_boxes.seen.size(), 1);
        appSettings->downloadPath = downloads();

        m_boxes.reset();
        m_boxes.answer({"是", "OK"});
        runCheck(false, releaseFile("1.8.0", "", "%%%"));
        QCOMPARE(m_boxes.seen.size(), 2);
        QCOMPARE(m_boxes.seen[1].title, QStringLiteral("错误"));
        QCOMPARE(m_boxes.seen[1].text, QStringLiteral("无效的下载链接: %%%: "));
        QCOMPARE(m_boxes.seen[1].icon, QMessageBox::Warning);

        // A directory in the way of the target cannot be opened as a file (even by root).
        m_boxes.reset();
        QVERIFY(QDir(downloads()).mkpath("x.run/inside"));
        m_boxes.answer({"是", "是", "OK"});
        runCheck(false, releaseFile("1.8.0", "", m_server.url("/dl/x.run").toString()));
        QCOMPARE(m_boxes.seen.size(), 3);
        QCOMPARE(m_boxes.seen[2].title, QStringLiteral("错误"));
        QVERIFY2(m_boxes.seen[2].text.startsWith(
                     QStringLiteral("无法保存到该文件 %1: ").arg(downloads() + "/x.run")),
                 qPrintable(m_boxes.seen[2].text));
        QVERIFY(m_boxes.seen[2].text.endsWith("."));
        QCOMPARE(m_boxes.seen[2].icon, QMessageBox::Information);
        QVERIFY(!m_updater->downloadReply());
    }
};

NORVA_TEST_MAIN(TestUpdater)
#include "tst_updater.moc"
