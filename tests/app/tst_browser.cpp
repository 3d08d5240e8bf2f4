#include "app/browser.h"
#include "bridge/jschannel.h"
#include "downloads/downloadmanagerwidget.h"
#include "mainwindow/mainwindow.h"
#include "notify/noticeitem.h"
#include "notify/notifymanager.h"
#include "notify/notifywindow.h"
#include "store/appsettings.h"
#include "tests/support/testhttpserver.h"
#include "tests/support/testsupport.h"
#include "update/updater.h"
#include "web/webview.h"

#include <QAbstractEventDispatcher>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageBox>
#include <QNetworkReply>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QSettings>
#include <QWebEngineProfile>

class TestBrowser : public QObject
{
    Q_OBJECT

    TestHttpServer server;

private slots:
    void initTestCase()
    {
        QVERIFY(server.listen());
        server.setHtml("/", "<title>first</title><img src=\"/picture.png\">");
        server.setHtml("/kst-client/updates/version.json", "not json"); // silent: no box
        qputenv("NORVA_SERVICE_URL", server.url().toString().toUtf8());
    }

    void settingsRecordLivesWithBrowser()
    {
        QVERIFY(!appSettings);
        {
            Browser browser;
            QVERIFY(appSettings);
            // The saved-login file is made at first use, outside the engine's profile.
            const QString profile = QWebEngineProfile::defaultProfile()->persistentStoragePath();
            QVERIFY(profile.startsWith(NorvaTest::homeDir()));
            const QString file = Browser::loginStoreFile();
            QVERIFY(file.startsWith(NorvaTest::homeDir()));
            QVERIFY(!file.startsWith(profile));
            QVERIFY(!QFile::exists(file));
            QVERIFY(browser.dataBase());
            QVERIFY(QFile::exists(file));
            QCOMPARE(browser.checkUpdateInterval(), 86400);
            QVERIFY(browser.checkTimerId() > 0);
        }
        QVERIFY(!appSettings);
        for (const char *profile : {"/p/Default", "/p/Default/"})
            QCOMPARE(Browser::loginStoreDirectory(profile), QString("/p/Default/databases/"));
    }

    // The same period again leaves the running timer alone (watched by its remaining time: Qt
    // reuses freed timer ids); a new period starts over, a huge one is capped, the timer fires.
    void intervalRearm()
    {
        Browser browser;
        const auto remaining = [&browser] {
            return QAbstractEventDispatcher::instance()->remainingTime(browser.checkTimerId());
        };
        browser.setCheckUpdateInterval(60);
        const int armed = remaining();
        QVERIFY2(armed > 58000 && armed <= 61000, qPrintable(QString::number(armed)));
        QTRY_VERIFY_WITH_TIMEOUT(remaining() < armed - 1500, 10000);
        const int before = remaining();
        browser.setCheckUpdateInterval(60);
        QVERIFY2(remaining() <= before, "the same period restarted the timer");
        browser.setCheckUpdateInterval(86400);
        QVERIFY(remaining() > 86390000);
        // A period beyond a Qt timer's range is capped instead of wrapping into nothing.
        browser.setCheckUpdateInterval(5000000);
        QVERIFY(browser.checkTimerId() > 0);
        QSignalSpy fired(&browser, &Browser::checkTimerFired);
        browser.setCheckUpdateInterval(1);
        QVERIFY(fired.wait(5000));
    }

    // A settings file that cannot be read is reported once, and later writes are kept.
    void unreadableSettingsAreReportedOnce()
    {
        const QString path = QSettings().fileName();
        QDir().mkpath(QFileInfo(path).path());
        {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("[GeneralSettings\nisAutoRun=true\n");
        }
        Browser browser;
        QVERIFY(browser.settingsLoadResult().unreadable);
        const QString kept = browser.settingsLoadResult().keptCopy;
        QVERIFY(QFileInfo::exists(kept));
        QVERIFY(browser.saveSettingsGroup({{"isQuitWhenClose", false}}, "GeneralSettings"));
        AppSettings reread;
        SettingsStore::load(reread);
        QCOMPARE(reread.isQuitWhenClose, false);

        QWidget parent;
        parent.show();
        NorvaTest::BoxSeen seen;
        NorvaTest::answerNextBox("OK", &seen);
        QPointer<QMessageBox> box = browser.reportUnreadableSettings(&parent);
        QVERIFY(box);
        QTRY_VERIFY(seen.seen);
        QCOMPARE(seen.title, QString("青隼"));
        QCOMPARE(seen.text, "原有设置无法读取，已恢复为默认设置。\n原设置文件已另存为：" +
                                QDir::toNativeSeparators(kept));
        QCOMPARE(seen.buttons, QStringList{"OK"});
        QTRY_VERIFY(!box);
        QVERIFY(!browser.reportUnreadableSettings(&parent));
        QFile::remove(path);
        QFile::remove(kept);
    }

    void windowListFollowsDestruction()
    {
        Browser browser;
        MainWindow *first = browser.createWindow(0, false);
        MainWindow *tools = browser.createDevToolsWindow();
        QCOMPARE(browser.windows(), (QVector<MainWindow *>{first, tools}));
        tools->close(); // deletes itself later
        QTRY_COMPARE(browser.windows(), (QVector<MainWindow *>{first}));
        delete first;
        QVERIFY(browser.windows().isEmpty());
    }

    // Start-up work nobody waits for follows the first page, subresources included, and runs
    // once; without a page it runs after the fallback time.
    void workAfterFirstLoad_data()
    {
        QTest::addColumn<bool>("loadPage");
        QTest::addColumn<int>("fallbackMs");
        QTest::newRow("page loads") << true << 60000;
        QTest::newRow("no page: fallback") << false << 300;
    }

    void workAfterFirstLoad()
    {
        QFETCH(bool, loadPage);
        QFETCH(int, fallbackMs);
        Browser browser;
        MainWindow *window = browser.createWindow(0, false);
        const int requestsBefore = server.requests().size();
        int runs = 0;
        QStringList seenAtRun;
        if (loadPage)
            window->loadUrl(server.url());
        Browser::afterFirstLoad(
            window,
            [&] {
                ++runs;
                seenAtRun = server.requests().mid(requestsBefore);
            },
            fallbackMs);
        QCOMPARE(runs, 0);
        QTRY_COMPARE_WITH_TIMEOUT(runs, 1, 20000);
        if (loadPage) {
            QVERIFY2(seenAtRun.contains("/picture.png"), qPrintable(seenAtRun.join(' ')));
            // A second load does not run it again.
            QSignalSpy loaded(window->currentView(), &QWebEngineView::loadFinished);
            window->currentView()->reload();
            QVERIFY(loaded.wait(20000));
        }
        QCOMPARE(runs, 1);
        delete window;
    }

    // Each popup answers the page that sent its notice, even after a check from the
    // developer-tools window; a closed source falls back to the first main window's service
    // page; with none left the answer is logged as lost and an invitation stays open.
    void popupAnswersReachTheirPage()
    {
        const QString versionPath = "/kst-client/updates/version.json";
        server.setHtml(versionPath, R"({"global": {"forceNotice": {"status": 1,
            "stayTime": 600, "busicTypes": [2, 6], "noticeInfo": [
            {"targetType": 1, "busicType": 2, "key": ["*"]},
            {"targetType": 2, "busicType": 6, "key": ["*"]}]}}})");
        const auto restore = qScopeGuard([&] { server.setHtml(versionPath, "not json"); });
        Browser browser;
        appSettings->isSysNoticeVoice = false;
        MainWindow *first = browser.createWindow(0, false);
        QPointer<MainWindow> second = browser.createWindow(0, false);
        mainWindow = first;
        const auto reset = qScopeGuard([&] {
            mainWindow = nullptr;
            delete second.data();
            delete first;
        });
        QStringList answers;
        for (MainWindow *w : {first, second.data()}) {
            QSignalSpy loaded(w->currentView(), &QWebEngineView::loadFinished);
            w->loadUrl(server.url());
            QVERIFY(loaded.wait(20000));
            const QString tag = w == first ? "1 " : "2 ";
            const auto record = [&answers, w, tag](const QString &what) {
                answers << tag + what + (w->isVisible() ? " up" : "");
            };
            JsChannel *channel = w->jsChannel();
            for (const auto &signal : {std::pair{&JsChannel::receiveScheduleInHtml, "receive:"},
                                       {&JsChannel::rejectScheduleInHtml, "reject:"},
                                       {&JsChannel::noticeReadInHtml, "read:"}})
                connect(channel, signal.first, this,
                        [=, name = signal.second](const QString &id) { record(name + id); });
            connect(channel, &JsChannel::showMsgNotificationInHtml, this, [=](const QString &json) {
                const QJsonObject extras =
                    QJsonDocument::fromJson(json.toUtf8()).object().value("extras").toObject();
                record("show:" + extras.value("busicId").toString());
            });
        }

        QPointer<MainWindow> tools = browser.createDevToolsWindow();
        tools->handleCheckVersion();
        QTRY_COMPARE_WITH_TIMEOUT(browser.notifyManager()->allowedBusicTypes(), QList<int>({2, 6}),
                                  20000);
        QTRY_VERIFY(!browser.updater()->checkInProgress());
        tools->close();
        QTRY_VERIFY(!tools);

        int serial = 0;
        const auto popupFrom = [&](MainWindow *w, int busicType) {
            const int id = ++serial;
            w->handleWebNoticeMsg(QString(R"({"title": "T", "content": "C", "type": "t",
                "extras": {"busicType": %1, "busicId": "B%2", "notifyId": "N%2"}})")
                                      .arg(busicType)
                                      .arg(id));
            return browser.notifyManager()->popups().last();
        };
        const auto click = [&](NotifyWindow *popup, const char *button) {
            answers.clear();
            for (MainWindow *w : browser.windows())
                w->hide();
            QTest::mouseClick(popup->findChild<QPushButton *>(button), Qt::LeftButton);
        };
        const auto fading = [](NotifyWindow *popup) {
            const auto all = popup->findChildren<QPropertyAnimation *>();
            return std::any_of(all.begin(), all.end(), [](QPropertyAnimation *a) {
                return a->propertyName() == "windowOpacity" && a->endValue() == 0.0;
            });
        };

        // The answering window comes up before its page shows the notice.
        click(popupFrom(second, 2), "notifyBtnKnown");
        QCOMPARE(answers, QStringList({"2 read:N1"}));
        click(popupFrom(first, 6), "notifyBtnKnown");
        QCOMPARE(answers, QStringList({"1 receive:B2", "1 show:B2 up"}));
        click(popupFrom(second, 6), "notifyBtnReject");
        QCOMPARE(answers, QStringList({"2 reject:B3", "2 show:B3 up"}));
        click(popupFrom(second, 2), "notifyBtnViewDetail");
        QCOMPARE(answers, QStringList({"2 show:B4 up"}));

        // The sending window closed: the first main window's page takes the answer.
        NotifyWindow *orphan = popupFrom(second, 6);
        delete second.data();
        click(orphan, "notifyBtnKnown");
        QCOMPARE(answers, QStringList({"1 receive:B5", "1 show:B5 up"}));
        QVERIFY(fading(orphan));

        // No service page left: nothing is sent, only the detail brings the window up.
        NotifyWindow *invitation = popupFrom(first, 6);
        QSignalSpy left(first->currentView(), &QWebEngineView::loadFinished);
        first->loadUrl(QUrl("about:blank"));
        QVERIFY(left.wait(20000));
        const QRegularExpression lost("^popup answer .* not delivered");
        for (const char *button : {"notifyBtnKnown", "notifyBtnReject"}) {
            QTest::ignoreMessage(QtWarningMsg, lost);
            click(invitation, button);
            QVERIFY(answers.isEmpty());
            QVERIFY(!first->isVisible());
            QVERIFY(invitation->isVisible());
            QVERIFY(!fading(invitation));
        }
        QTest::ignoreMessage(QtWarningMsg, lost);
        click(invitation, "notifyBtnViewDetail");
        QVERIFY(answers.isEmpty());
        QVERIFY(first->isVisible());
        QVERIFY(fading(invitation));
    }

    // A key without Ctrl, Alt or Meta is never taken from the desktop: it gives the failure
    // balloon like a combination another program holds.
    void bareHotkeyIsRefused()
    {
        Browser browser;
        QScopedPointer<MainWindow> window(browser.createWindow(0, false));
        mainWindow = window.data();
        const auto reset = qScopeGuard([] { mainWindow = nullptr; });
        QSignalSpy balloons(window.data(), &MainWindow::trayMessageShown);
        for (const char *keys : {"F8", "Shift+K"}) {
            appSettings->openSoftware = keys;
            browser.registerOpenSoftwareHotkey();
            QVERIFY(browser.openSoftwareHotkey());
            QVERIFY2(!browser.openSoftwareHotkey()->isRegistered(), keys);
            QCOMPARE(balloons.count(), 1);
            QCOMPARE(balloons.takeFirst().at(0).toString(), QString("全局热键提醒"));
        }
    }

    // Made at the first download, once.
    void downloadManagerOnce()
    {
        Browser browser;
        QVERIFY(!browser.downloadManagerWidget());
        browser.setupDownloadManager();
        auto *widget = browser.downloadManagerWidget();
        QVERIFY(widget);
        browser.setupDownloadManager();
        QCOMPARE(browser.downloadManagerWidget(), widget);
    }
};

NORVA_TEST_MAIN(TestBrowser)
#include "tst_browser.moc"
