#include "app/browser.h"
#include "mainwindow/mainwindow.h"
#include "store/appsettings.h"
#include "store/settingsstore.h"
#include "tests/support/testhttpserver.h"
#include "tests/support/testsupport.h"
#include "update/progressdialog.h"
#include "update/updater.h"
#include "update/versionrules.h"
#include "web/webview.h"

#include <QAbstractButton>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QTimer>

#include <tuple>

namespace {

// Records every message box and clicks the next queued button text; a box with no answer
// queued is dismissed, one given leaveOpen stays.
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
            Seen s{box->windowTitle(),
                   box->text(),
                   box->defaultButton() ? box->defaultButton()->text() : QString(),
                   {}};
            for (QAbstractButton *b : box->buttons())
                s.buttons << b->text();
            s.buttons.sort();
            seen << s;
            const QString wanted = answers.isEmpty() ? QString() : answers.takeFirst();
            for (QAbstractButton *b : box->buttons())
                if (b->text() == wanted)
                    return b->click();
            if (wanted != leaveOpen)
                box->reject();
        });
        timer.start(20);
    }
};

QByteArray toJson(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QByteArray releaseFile(const QString &latest, const QString &flag = {}, const QString &url = {})
{
    QJsonObject win{{"latest-version", latest}, {"updateflag", flag}, {"update-url", url}};
    return toJson({{"version", QJsonObject{{"win", win}}}});
}

QString storedValue(const QString &key)
{
    return QSettings().value(key, "<unset>").toString();
}

QByteArray installerScript(const QString &marker)
{
    return QString("#!/bin/sh\necho ran > \"%1\"\n").arg(marker).toUtf8();
}

} // namespace

class TestUpdater : public QObject
{
    Q_OBJECT

private:
    // Starts a check and by default waits until the guard is released.
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

    // A stalled answer trickles in, never all of it until the test releases it.
    QString serve(const QString &path, const QByteArray &body, bool stall = false,
                  bool sendLength = true)
    {
        const QUrl url = m_server.url(path);
        m_server.setResponse(
            url.path(QUrl::FullyEncoded),
            {200, "application/octet-stream", body, {}, sendLength, stall ? 1024 : -1, stall});
        return url.toString(QUrl::FullyEncoded);
    }

    QString downloads() const { return appSettings->downloadPath; }

    TestHttpServer m_server;
    QByteArray m_versionBody;
    int m_versionStatus = 200;
    bool m_versionStall = false;
    Browser *m_browser = nullptr;
    MainWindow *m_window = nullptr;
    Updater *m_updater = nullptr;
    BoxAnswerer m_boxes;
    int m_run = 0;

private slots:
    void initTestCase()
    {
        QVERIFY(m_server.listen());
        qputenv("NORVA_SERVICE_URL", m_server.url().toString().toUtf8());
        m_server.setHandler("/kst-client/updates/version.json", [this](const QByteArray &) {
            // A stalled answer keeps trickling in, but never ends.
            if (m_versionStall)
                return TestHttpServer::Response{
                    200, "application/json", QByteArray(1 << 20, ' '), {}, true, 0, true};
            return TestHttpServer::Response{m_versionStatus, "application/json", m_versionBody, {}};
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
        m_versionStall = false;
        m_window->setQuitRequested(false);
        appSettings->updateMode = 2;
        m_updater->setAssumeHttpsVersionFile(false);
        m_updater->setInstallerLauncher(nullptr);
        m_updater->setPlatform(VersionRules::hostPlatform());
        m_updater->setVersionTimeout(30000);
        m_updater->setStallTimeout(60000);
        appSettings->downloadPath = NorvaTest::homeDir() + QString("/dl-%1").arg(++m_run);
        QVERIFY(QDir().mkpath(downloads()));
        QVERIFY(!m_updater->checkInProgress());
    }

    void cleanup()
    {
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
        QTest::addColumn<QByteArray>("file"); // empty: the server fails; "<stall>": never ends
        QTest::addColumn<bool>("silent");
        QTest::addColumn<QString>("title"); // empty: no box at all
        QTest::addColumn<QString>("text");  // ending in ":", the start of the text
        QTest::addColumn<int>("mode");
        const auto row = [](const char *name, const QByteArray &file, bool silent,
                            const QString &title = {}, const QString &text = {}, int mode = 2) {
            QTest::newRow(name) << file << silent << title << text << mode;
        };
        const QString url = m_server.url("/dl/setup.exe").toString();
        row("network error", {}, false, "版本检查失败", "失败原因:");
        // Offline, an automatic check every interval must not put up a box each time.
        row("network error, silent", {}, true);
        // A request that does not finish in time fails the same way, and frees the guard.
        row("stalled", "<stall>", false, "版本检查失败", "失败原因:连接超时");
        row("stalled, silent", "<stall>", true);
        row("up to date", releaseFile("1.7.5"), false, "检查版本",
            "当前版本 1.7.5 已经是最新版本！");
        row("up to date, silent", releaseFile("1.7.5"), true);
        row("too few parts", releaseFile("1.8"), false, "检查版本", "获取版本信息出错");
        // Mode 1 asks before it downloads, also from an automatic check.
        row("Force is optional", releaseFile("1.7.6", "Force", url), true, "升级提醒",
            "发现新版本 1.7.6 ，是否下载升级？", 1);
        // Update mode 0 offers nothing by itself (the other modes: tst_versionrules).
        row("mode 0, silent", releaseFile("1.7.6", "", url), true, {}, {}, 0);
    }
    void checkOutcomes()
    {
        QFETCH(QByteArray, file);
        QFETCH(bool, silent);
        QFETCH(QString, title);
        QFETCH(QString, text);
        QFETCH(int, mode);
        appSettings->updateMode = mode;
        // Twice: the guard is released and "否" leaves everything as it was, so it asks again.
        m_versionStatus = file.isEmpty() ? 500 : 200;
        m_versionStall = file == "<stall>";
        if (m_versionStall) {
            QCOMPARE(m_updater->versionTimeout(), 30000);
            m_updater->setVersionTimeout(300);
        }
        for (int round = 0; round < 2; ++round) {
            m_boxes.seen.clear();
            m_boxes.answers = QStringList{"否"};
            const int requestsBefore = m_server.requests().size();
            if ((file.isEmpty() || m_versionStall) && silent)
                QTest::ignoreMessage(QtWarningMsg,
                                     QRegularExpression("^automatic version check failed:"));
            runCheck(silent, file);
            QCOMPARE(m_server.requests().size(), requestsBefore + 1);
            QCOMPARE(m_server.requests().last(),
                     QString("/kst-client/updates/version.json?v=1.7.5"));
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
                QCOMPARE(box.defaultButton, QString("是"));
            QVERIFY(!m_updater->forceUpdate());
        }
    }

    // Under a minute is ignored; a minute or more re-arms the timer (whether the same period
    // restarts it is the application object's test). The balloon time holds for every window,
    // also one opened later, whichever window checked.
    void checkInterval()
    {
        QScopedPointer<MainWindow> second(m_browser->createWindow(0, false));
        const auto check = [this](int interval, int stay) {
            const QJsonObject info{{"checkUpdateInterval", interval}, {"noticeStayTime", stay}};
            runCheck(true, toJson({{"global", QJsonObject{{"systemInfo", info}}}}));
        };
        QCOMPARE(m_browser->checkUpdateInterval(), 86400);
        check(59, 7);
        QCOMPARE(m_browser->checkUpdateInterval(), 86400);
        QCOMPARE(m_window->noticeStayTime(), 7);
        QCOMPARE(second->noticeStayTime(), 7);
        QScopedPointer<MainWindow> later(m_browser->createWindow(0, false));
        QCOMPARE(later->noticeStayTime(), 7);
        check(60, 0);
        QCOMPARE(m_browser->checkUpdateInterval(), 60);
        QVERIFY(m_browser->checkTimerId() > 0);
        QCOMPARE(later->noticeStayTime(), 3);
        check(86400, 3);
    }

    // The cache is cleared (the main page reloads) once per "ver": nothing recorded yet clears,
    // the same version does not, 1.10 is newer than 1.2. A new main page of the service's own
    // origin is stored and loaded; an empty or broken one, one of another host or port, and
    // an http one after an https version file are ignored, at this start and the next.
    void reloadingDirectives()
    {
        WebView *view = m_window->currentView();
        const QString original = appSettings->defaultMainPage;
        const QString page = m_server.url("/newmain").toString();
        QUrl foreign = m_server.url("/newmain");
        foreign.setHost("localhost");
        const auto cache = [](const char *ver) {
            return QJsonObject{{"cache", QJsonObject{{"clear", "true"}, {"ver", ver}}}};
        };
        const auto mainPage = [](const QString &url) {
            return QJsonObject{
                {"win", QJsonObject{{"latest-version", "1.7.5"}, {"main-page", url}}}};
        };
        const std::tuple<QJsonObject, QUrl, QString, QString, bool> cases[] = {
            {cache("1.2"), QUrl::fromUserInput(original), "1.2", "<unset>", false},
            {cache("1.2"), QUrl("about:blank"), "1.2", "<unset>", false},
            {cache("1.10"), QUrl::fromUserInput(original), "1.10", "<unset>", false},
            {mainPage(foreign.toString()), QUrl("about:blank"), "1.10", "<unset>", false},
            {mainPage(page), QUrl("about:blank"), "1.10", "<unset>", true},
            {mainPage(page), QUrl(page), "1.10", page, false}};
        for (const auto &[version, shown, cacheVersion, storedPage, overHttps] : cases) {
            const QString offered = version.value("win").toObject().value("main-page").toString();
            if (!offered.isEmpty() && storedPage == "<unset>")
                QTest::ignoreMessage(
                    QtWarningMsg,
                    qPrintable("Ignoring a main page outside the service: \"" + offered + '"'));
            m_updater->setAssumeHttpsVersionFile(overHttps);
            QSignalSpy finished(view, &QWebEngineView::loadFinished);
            view->setUrl(QUrl("about:blank"));
            QTRY_VERIFY_WITH_TIMEOUT(!finished.isEmpty() && finished.last().value(0).toBool() &&
                                         view->url() == QUrl("about:blank"),
                                     15000);
            runCheck(true, toJson({{"version", version}}));
            QCOMPARE(view->url(), shown);
            QCOMPARE(storedValue("OtherSettings/clearCacheVersion"), cacheVersion);
            QCOMPARE(storedValue("OtherSettings/defaultMainPage"), storedPage);
            QCOMPARE(appSettings->defaultMainPage, storedPage == page ? page : original);
            // The next start reads what this one stored.
            AppSettings next;
            SettingsStore::load(next);
            QCOMPARE(next.defaultMainPage, appSettings->defaultMainPage);
        }
        QCOMPARE(appSettings->clearCacheVersion, QString("1.10"));
        QCOMPARE(m_boxes.seen.size(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(m_server.requests().contains("/newmain"), 15000);
        appSettings->defaultMainPage = original;
    }

    void installerRuns_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("name"); // of the downloaded file
        QTest::newRow("no file name") << "/dl/"
                                      << "norva-setup-1.8.0";
        // The name reaches the shell only as an argument.
        const QString shell = "x;touch pwned1;$(touch pwned2)`touch pwned3`&.run";
        QTest::newRow("shell syntax") << "/dl/" + QString(QUrl::toPercentEncoding(shell)) << shell;
    }
    void installerRuns()
    {
        // "是" downloads into the download directory; after the quit the installer runs.
        QFETCH(QString, path);
        QFETCH(QString, name);
        const QString marker = downloads() + "/marker";
        offer(serve(path, installerScript(marker)), {"是"});
        QCOMPARE(NorvaTest::runApplication(), 0);
        QVERIFY(m_window->quitRequested());
        QCOMPARE(m_boxes.seen.size(), 1);

        const QString target = downloads() + "/" + name;
        QCOMPARE(m_updater->installerPath(), target);
        QCOMPARE(NorvaTest::fileBytes(target), installerScript(marker));
        QVERIFY(QFile::permissions(target) & QFile::ExeOwner);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(marker), 15000);
        QCOMPARE(QDir(downloads()).entryList(QDir::Files).size(), 2);
        for (const QString &dir : {downloads(), QDir::currentPath(), NorvaTest::homeDir()})
            for (const char *pwned : {"pwned1", "pwned2", "pwned3"})
                QVERIFY(!QFile::exists(dir + "/" + pwned));
    }

    void secondQuestion_data()
    {
        QTest::addColumn<bool>("redirect"); // else an existing file
        QTest::addColumn<bool>("yes");
        QTest::newRow("overwrite refused") << false << false;
        QTest::newRow("overwrite confirmed") << false << true;
        QTest::newRow("redirect refused") << true << false;
        QTest::newRow("redirect confirmed") << true << true;
    }
    void secondQuestion()
    {
        // Both default to "否"; only "是" downloads (into the same file) and starts it.
        QFETCH(bool, redirect);
        QFETCH(bool, yes);
        const QString marker = downloads() + "/marker";
        const QString real = serve("/dl/real.run", installerScript(marker));
        const QString file = downloads() + (redirect ? "/moved.run" : "/real.run");
        QString url = real, title = "重定向", text = QString("重定向到 %1 ？").arg(real);
        if (redirect) {
            TestHttpServer::Response moved;
            moved.status = 302;
            moved.headers << qMakePair(QByteArray("Location"), QByteArray("/dl/real.run"));
            m_server.setResponse("/dl/moved.run", moved);
            url = m_server.url("/dl/moved.run").toString();
        } else {
            QFile old(file);
            QVERIFY(old.open(QIODevice::WriteOnly) && old.write("old") == 3);
            title = "是否覆盖已存在的 1.8.0 文件";
            text = QString("此处已存在一个文件名为  %1.\n覆盖?").arg(file);
        }
        offer(url, {"是", yes ? "是" : "否"});
        if (yes)
            QCOMPARE(NorvaTest::runApplication(), 0);
        else
            QTRY_VERIFY_WITH_TIMEOUT(!m_updater->checkInProgress(), 10000);
        QCOMPARE(m_boxes.seen.size(), 2);
        QCOMPARE(m_boxes.seen[1].title, title);
        QCOMPARE(m_boxes.seen[1].text, text);
        QCOMPARE(m_boxes.seen[1].defaultButton, QString("否"));
        QCOMPARE(m_window->quitRequested(), yes);
        QCOMPARE(NorvaTest::fileBytes(file),
                 yes ? installerScript(marker) : QByteArray(redirect ? "" : "old"));
        if (yes)
            QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(marker), 15000);
    }

    void mandatoryUpdate()
    {
        // No question and no cancel button; the dialog cannot be closed, and an existing file
        // brings a notice that closes by itself.
        QCOMPARE(m_updater->overwriteNoticeDelay(), 10000);
        m_updater->setOverwriteNoticeDelay(300);
        const QString marker = downloads() + "/marker-forced";
        const QString target = downloads() + "/forced.run";
        QFile old(target);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.close();
        const QByteArray body = installerScript(marker) + QByteArray(4 << 20, '#');
        offer(serve("/dl/forced.run", body, true), {BoxAnswerer::leaveOpen}, "force");
        QTRY_VERIFY_WITH_TIMEOUT(m_updater->downloadReply(), 10000);
        m_updater->setOverwriteNoticeDelay(10000);
        ProgressDialog *dialog = m_updater->progressDialog();
        QTRY_VERIFY_WITH_TIMEOUT(dialog->isVisible() && dialog->value() > 0, 10000);
        QCOMPARE(dialog->maximum(), body.size());
        QVERIFY(dialog->findChildren<QPushButton *>().isEmpty());
        QVERIFY(!dialog->close());
        QTest::keyClick(dialog, Qt::Key_Escape);
        QVERIFY(dialog->isVisible());
        QVERIFY(!m_updater->downloadAborted());

        m_server.release("/dl/forced.run");
        QCOMPARE(NorvaTest::runApplication(), 0);
        QVERIFY(m_updater->forceUpdate());
        QCOMPARE(m_boxes.seen.size(), 1);
        QCOMPARE(m_boxes.seen[0].title, QString("升级提醒"));
        QCOMPARE(m_boxes.seen[0].text, QString("10秒后自动下载新版本 1.8.0 安装升级"));
        QCOMPARE(NorvaTest::fileBytes(target), body);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(marker), 15000);
        QTRY_VERIFY(m_window->findChildren<QMessageBox *>().isEmpty()); // not left hidden
    }

    // Nothing starts and the client stays; a mandatory update's dialog may be closed again. A
    // download that fails (an HTTP error, cut short, nothing more after the first kilobyte)
    // leaves no file; an installer that cannot be started is told.
    void endsWithoutInstalling_data()
    {
        QTest::addColumn<QString>("how");
        for (const char *how :
             {"HTTP error", "truncated", "stalled", "cannot start", "cannot start, optional"})
            QTest::newRow(how) << QString(how);
    }
    void endsWithoutInstalling()
    {
        QFETCH(QString, how);
        const bool cannotStart = how.startsWith("cannot start"),
                   mandatory = !how.endsWith("optional");
        QString url = m_server.url("/404/part.run").toString(), launched;
        m_updater->setInstallerLauncher([&](const QString &, const QString &name) {
            launched = name;
            return false;
        });
        if (cannotStart) {
            url = serve("/dl/part.run", "#!/bin/sh\n");
        } else if (how == "truncated") {
            url = serve("/dl/part.run", QByteArray(4 << 20, '#'), true);
        } else if (how == "stalled") {
            QCOMPARE(m_updater->stallTimeout(), 60000);
            m_updater->setStallTimeout(300);
            m_server.setResponse(
                "/dl/part.run",
                {200, "application/octet-stream", QByteArray(4 << 20, '#'), {}, true, 1024, false});
            url = m_server.url("/dl/part.run").toString();
            QTest::ignoreMessage(QtWarningMsg,
                                 QRegularExpression("^installer download received nothing for"));
        }
        const QStringList answers = !cannotStart ? QStringList()
                                    : mandatory  ? QStringList{"OK"}
                                                 : QStringList{"是", "OK"};
        offer(url, answers, mandatory ? "force" : "");
        if (how == "truncated") {
            QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(downloads() + "/part.run").size() > 0, 10000);
            m_server.release("/dl/part.run", false);
        }
        QTRY_VERIFY_WITH_TIMEOUT(
            !m_updater->checkInProgress() && m_boxes.seen.size() == answers.size(), 10000);
        QVERIFY(!m_window->quitRequested());
        QCOMPARE(launched, QString(cannotStart ? "part.run" : ""));
        QCOMPARE(QFile::exists(downloads() + "/part.run"), cannotStart);
        if (cannotStart)
            QVERIFY2(m_boxes.seen.last().title == "错误" &&
                         m_boxes.seen.last().text.startsWith(QString("无法启动安装程序")),
                     qPrintable(m_boxes.seen.last().text));
        if (how == "stalled")
            QCOMPARE(m_updater->progressDialog()->labelText(),
                     QString("长时间没有收到数据，下载已停止。"));
        QVERIFY(m_updater->progressDialog()->close());
    }

    // Every window's check goes to the client's one update flow: during a download, a check
    // from another window or from the developer-tools window changes nothing. An installer
    // started from the developer-tools window ends the whole client.
    void oneFlowForTheClient()
    {
        QScopedPointer<MainWindow> second(m_browser->createWindow(0, false));
        QPointer<MainWindow> tools = m_browser->createDevToolsWindow();
        const auto versionRequests = [this] {
            return m_server.requests().filter("/kst-client/updates/version.json").size();
        };
        const int before = versionRequests();
        const QString marker = downloads() + "/marker";
        const QString target = downloads() + "/one.run";
        const QByteArray body = installerScript(marker) + QByteArray(1 << 20, '#');
        m_boxes.answers = QStringList{"是"};
        m_versionBody = releaseFile("1.8.0", "", serve("/dl/one.run", body, true));
        tools->handleCheckVersion();
        QTRY_VERIFY_WITH_TIMEOUT(m_updater->downloadReply() && QFileInfo(target).size() > 0, 10000);
        second->handleCheckVersion();
        tools->handleCheckVersion();
        m_window->checkVersion(true);
        m_server.release("/dl/one.run");
        QCOMPARE(NorvaTest::runApplication(), 0);
        QVERIFY(m_window->quitRequested());
        QTRY_VERIFY(!tools);
        QCOMPARE(versionRequests(), before + 1);
        QCOMPARE(m_boxes.seen.size(), 1);
        QCOMPARE(NorvaTest::fileBytes(target), body);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(marker), 15000);
    }

    // Update mode 2: an automatic check downloads an optional release without a question or a
    // dialog (the tray tooltip shows the progress), then asks once whether to install now. "否"
    // starts the installer when the client quits; until then the release is not fetched again.
    void backgroundDownload_data()
    {
        QTest::addColumn<bool>("installNow");
        QTest::newRow("是") << true;
        QTest::newRow("否") << false;
    }
    void backgroundDownload()
    {
        QFETCH(bool, installNow);
        QVERIFY(m_window->trayIcon());
        QStringList launched;
        m_updater->setInstallerLauncher([&](const QString &dir, const QString &name) {
            launched << dir + "/" + name;
            return true;
        });
        const QByteArray body(1 << 20, '#');
        const QString target = downloads() + "/bg.run";
        const QByteArray file = releaseFile("1.8.0", "", serve("/dl/bg.run", body, true));
        const int fetched = m_server.requests().filter("/dl/bg.run").size();
        m_boxes.answers = QStringList{installNow ? "是" : "否"};
        m_updater->setStallTimeout(2000);
        runCheck(true, file, false);
        QTRY_VERIFY_WITH_TIMEOUT(
            m_window->trayIcon()->toolTip().startsWith("青隼\n正在下载新版本 1.8.0："), 10000);
        QVERIFY(m_boxes.seen.isEmpty());
        QVERIFY(!m_updater->progressDialog());
        // Only a silence ends it: data arriving for several stall times keep it going.
        const auto percent = [this] {
            return m_window->trayIcon()->toolTip().section("：", 1).remove('%').toInt();
        };
        if (!installNow)
            QTRY_VERIFY_WITH_TIMEOUT(percent() >= 30, 20000);
        m_server.release("/dl/bg.run");
        if (installNow) {
            QCOMPARE(NorvaTest::runApplication(), 0);
            QVERIFY(m_window->quitRequested());
            QCOMPARE(launched, QStringList{target});
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(!m_updater->checkInProgress(), 10000);
            QVERIFY(launched.isEmpty());
            QCOMPARE(m_updater->pendingInstaller(), target);
            runCheck(true, file);
            QCOMPARE(m_server.requests().filter("/dl/bg.run").size(), fetched + 1);
            QCOMPARE(NorvaTest::runApplication([] { QCoreApplication::exit(0); }), 0);
            QVERIFY(!m_window->quitRequested());
            QCOMPARE(launched, QStringList{target});
            QVERIFY(m_updater->pendingInstaller().isEmpty());
        }
        QCOMPARE(m_boxes.seen.size(), 1);
        QCOMPARE(m_boxes.seen[0].title, QString("升级提醒"));
        QCOMPARE(m_boxes.seen[0].text, QString("新版本 1.8.0 已下载完成，是否现在安装？"));
        QCOMPARE(m_boxes.seen[0].buttons, QStringList({"否", "是"}));
        QCOMPARE(m_boxes.seen[0].defaultButton, QString("是"));
        QCOMPARE(m_window->trayIcon()->toolTip(), QString("青隼"));
        QCOMPARE(NorvaTest::fileBytes(target), body);
    }

    void cancelWithUnknownLength()
    {
        // Without a length -1 reaches the dialog as its maximum; cancel keeps the partial file
        // and starts nothing.
        offer(serve("/dl/cancel.run", QByteArray(4 << 20, '#'), true, false), {"是"});
        QTRY_VERIFY_WITH_TIMEOUT(m_updater->downloadReply(), 10000);
        ProgressDialog *dialog = m_updater->progressDialog();
        const QString target = downloads() + "/cancel.run";
        QTRY_VERIFY_WITH_TIMEOUT(dialog->isVisible() && QFileInfo(target).size() > 0, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(dialog->maximum(), -1, 10000);
        QCOMPARE(dialog->findChild<QPushButton *>()->text(), QString("取消"));
        QCOMPARE(NorvaTest::accessibilityProblems(dialog), QStringList());
        dialog->findChild<QPushButton *>()->click();
        QVERIFY(m_updater->downloadAborted());
        QVERIFY(!m_updater->downloadReply());
        QVERIFY(!m_updater->checkInProgress());
        QVERIFY(QFileInfo(target).size() > 0);
        QVERIFY(!m_window->quitRequested());
    }

    // Each ends the update with the error box before anything starts; no file stays and the
    // client stays. A page (a captive portal's login) or an empty answer is no installer; after
    // an https version file an http address, and on Windows a name that cannot start, are
    // refused unfetched.
    void refusedInstallers_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("type"); // empty: never fetched
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("text"); // %1: the address
        const QString page = "下载的内容不是安装程序（%1），已停止升级。";
        const QString name = "升级包的文件名 %1 不是可以启动的安装程序，已停止升级。";
        QTest::newRow("empty") << "portal.run" << QByteArray("application/octet-stream")
                               << QByteArray() << page.arg("内容为空");
        QTest::newRow("web page") << "portal.run" << QByteArray("text/html; charset=utf-8")
                                  << QByteArray("<html>login</html>")
                                  << page.arg("text/html; charset=utf-8");
        QTest::newRow("http after https")
            << "plain.run" << QByteArray() << QByteArray("#!/bin/sh")
            << "升级包的下载地址不安全（不是 https 链接），已停止升级：%1";
        for (const char *file : {"NUL.exe", "setup.zip"})
            QTest::newRow(qPrintable(QString("Windows ") + file))
                << file << QByteArray() << QByteArray("#!/bin/sh") << name.arg(file);
    }
    void refusedInstallers()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, type);
        QFETCH(QByteArray, body);
        QFETCH(QString, text);
        const QString row = QTest::currentDataTag();
        const QString url = serve("/dl/" + name, body);
        if (!type.isEmpty())
            m_server.setResponse("/dl/" + name, {200, type, body, {}});
        bool launched = false;
        m_updater->setInstallerLauncher(
            [&](const QString &, const QString &) { return launched = true; });
        m_updater->setAssumeHttpsVersionFile(row.contains("https"));
        if (row.startsWith("Windows")) {
            m_updater->setPlatform(VersionRules::Platform::Windows);
            QTest::ignoreMessage(QtWarningMsg,
                                 QRegularExpression("^installer name cannot be started:"));
        }
        offer(url, {"是", "OK"});
        QTRY_VERIFY_WITH_TIMEOUT(!m_updater->checkInProgress() && m_boxes.seen.size() == 2, 10000);
        QCOMPARE(m_boxes.seen[1].title, QString("错误"));
        QCOMPARE(m_boxes.seen[1].text, text.replace("%1", url));
        QCOMPARE(m_server.requests().contains("/dl/" + name), !type.isEmpty());
        QVERIFY(QDir(downloads()).isEmpty());
        QVERIFY(!launched && !m_window->quitRequested());
    }

    void earlyReturnsFreeTheGuard()
    {
        // No address, no download directory, an invalid address, an unwritable target: each
        // ends the update and frees the guard (runCheck checks it first).
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
                QCOMPARE(m_boxes.seen[1].text, QString("无效的下载链接: %%%: "));
        }
        QCOMPARE(m_boxes.seen[2].title, QString("错误"));
        QVERIFY2(
            m_boxes.seen[2].text.startsWith(QString("无法保存到该文件 %1: ").arg(dir + "/x.run")),
            qPrintable(m_boxes.seen[2].text));
    }
};

NORVA_TEST_MAIN(TestUpdater)
#include "tst_updater.moc"
