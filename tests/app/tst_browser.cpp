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
#include "web/webview.h"

#include <QAbstractEventDispatcher>
#include <QJsonObject>
#include <QMessageBox>
#include <QNetworkReply>
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
            // The saved-login file is not touched at start, only on first use; it lives in the
            // profile, which stays inside the test's own home.
            const QString profile = QWebEngineProfile::defaultProfile()->persistentStoragePath();
            QVERIFY(profile.startsWith(NorvaTest::homeDir()));
            const QString file = Browser::loginStoreDirectory(profile) + "Databases.db";
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

    // The same period again must leave the running timer alone. Timer ids prove nothing (Qt
    // hands a freed id straight back), so the remaining time is watched: a restarted timer would
    // have its whole period ahead again. Long timers count in whole seconds, hence the wait.
    void intervalRearm()
    {
        Browser browser;
        const auto remaining = [&browser] {
            return QAbstractEventDispatcher::instance()->remainingTime(browser.checkTimerId());
        };
        browser.setCheckUpdateInterval(60);
        QCOMPARE(browser.checkUpdateInterval(), 60);
        const int armed = remaining();
        // Whole seconds, and half a second more past the half-second mark.
        QVERIFY2(armed > 58000 && armed <= 61000, qPrintable(QString::number(armed)));
        QTRY_VERIFY_WITH_TIMEOUT(remaining() < armed - 1500, 10000);
        const int before = remaining();
        browser.setCheckUpdateInterval(60);
        QVERIFY2(remaining() <= before, "the same period restarted the timer");
        // A new period starts over.
        browser.setCheckUpdateInterval(86400);
        QCOMPARE(browser.checkUpdateInterval(), 86400);
        QVERIFY(remaining() > 86390000);
        // A period beyond a Qt timer's range is capped instead of wrapping into nothing.
        browser.setCheckUpdateInterval(5000000);
        QVERIFY(browser.checkTimerId() > 0);
        // The timer starts the check.
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
        QVERIFY(!first->isVisible());
        QVERIFY(tools->isVisible());
        QCOMPARE(tools->displayMode(), int(MainWindow::DevTools));
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

    // A popup's answer reaches the page whose channel delivered the rules last; the first
    // window comes up before the page is asked to show the notice.
    void popupAnswersReachThePage()
    {
        Browser browser;
        QScopedPointer<MainWindow> window(browser.createWindow(0, false));
        mainWindow = window.data();
        const auto reset = qScopeGuard([] { mainWindow = nullptr; });
        // Answers go only to a page of the service, so the window shows one.
        QSignalSpy loaded(window->currentView(), &QWebEngineView::loadFinished);
        window->loadUrl(server.url());
        QVERIFY(loaded.wait(20000));
        JsChannel &channel = *window->jsChannel();
        QStringList answers;
        const auto record = [&](const char *what) {
            return [&, what](const QString &arg) {
                answers << what + arg + (window->isVisible() ? " up" : "");
            };
        };
        connect(&channel, &JsChannel::receiveScheduleInHtml, this, record("receive:"));
        connect(&channel, &JsChannel::rejectScheduleInHtml, this, record("reject:"));
        connect(&channel, &JsChannel::noticeReadInHtml, this, record("read:"));
        connect(&channel, &JsChannel::showMsgNotificationInHtml, this, record("show:"));

        // with the bridge, type, button, what reaches the page, whether the window comes up
        const std::tuple<bool, int, const char *, QStringList, bool> cases[] = {
            {true, 1, "notifyBtnKnown", {"read:N"}, false},
            {true, 7, "notifyBtnKnown", {"read:N"}, false}, // an unknown kind still acknowledges
            {true, 0, "notifyBtnViewDetail", {"show:J up"}, true},
            {true, 2, "notifyBtnKnown", {"receive:B", "show:J up"}, true},
            {true, 2, "notifyBtnReject", {"reject:B", "show:J up"}, true},
            {false, 2, "notifyBtnReject", {}, false},
            {false, 0, "notifyBtnViewDetail", {}, true},
        };
        for (const auto &[withChannel, type, button, expected, raisesWindow] : cases) {
            browser.setForceNotice(withChannel ? window->messages() : nullptr, QJsonObject());
            answers.clear();
            window->hide();
            NoticeItem item;
            item.targetType = type;
            item.busicId = "B";
            item.noticeJson = "J";
            item.notifyId = "N";
            browser.addNotice(item);
            NotifyWindow *popup = browser.notifyManager()->popups().last();
            QSignalSpy gone(popup, &NotifyWindow::disappear);
            QTest::mouseClick(popup->findChild<QPushButton *>(button), Qt::LeftButton);
            QCOMPARE(answers, expected);
            QCOMPARE(window->isVisible(), raisesWindow);
            QVERIFY(gone.wait()); // the popup closes with or without anybody to answer
        }
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
        QVERIFY(widget->windowFlags() & Qt::Dialog);
        browser.setupDownloadManager();
        QCOMPARE(browser.downloadManagerWidget(), widget);
    }
};

NORVA_TEST_MAIN(TestBrowser)
#include "tst_browser.moc"
