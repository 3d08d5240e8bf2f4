#include "app/browser.h"
#include "bridge/jschannel.h"
#include "mainwindow/mainwindow.h"
#include "mainwindow/traycontroller.h"
#include "mainwindow/windowgeometry.h"
#include "notify/notifymanager.h"
#include "notify/notifywindow.h"
#include "settings/syssettingwindow.h"
#include "store/appsettings.h"
#include "tests/support/testhttpserver.h"
#include "tests/support/testsupport.h"
#include "web/tabwidget.h"
#include "web/webview.h"

#include <QCheckBox>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QStyle>
#include <QWebChannel>
#include <QWebEngineSettings>

// The main window: its modes, close handling, quit paths, tray, menus and keys.
class TestLifecycle : public QObject
{
    Q_OBJECT

    Browser *browser = nullptr;

    // In the copy that trayHostThatComesLater starts on a display without a tray host.
    static bool lateTray() { return qEnvironmentVariableIsSet("NORVA_TEST_LATE_TRAY"); }

    static bool endsProgram(const std::function<void()> &action, int timeoutMs = 3000)
    {
        return NorvaTest::runApplication(action, timeoutMs) == 0;
    }

private slots:
    void initTestCase()
    {
        browser = new Browser;
        if (!lateTray())
            QVERIFY2(QSystemTrayIcon::isSystemTrayAvailable(), "the tests need a tray host");
    }

    void cleanupTestCase() { delete browser; }

    void init()
    {
        appSettings->isQuitWhenClose = true;
        appSettings->isMultiTab = false;
        appSettings->isBowserMultiTab = false;
    }

    void geometryRule()
    {
        QCOMPARE(mainWindowGeometry(QSize(1920, 1040), 30, 0), QRect(360, 30, 1200, 900));
        QCOMPARE(mainWindowGeometry(QSize(1920, 1040), 30, 1), QRect(360, 30, 1200, 900));
        QCOMPARE(mainWindowGeometry(QSize(1920, 1040), 30, 2), QRect(360, 0, 1200, 900));
        QCOMPARE(mainWindowGeometry(QSize(1024, 728), 30, 0), QRect(30, 30, 964, 643));
        // Exactly 1200 wide is not "wider than 1200": two title bars narrower.
        QCOMPARE(mainWindowGeometry(QSize(1200, 700), 20, 0).width(), 1160);
        QCOMPARE(mainWindowGeometry(QSize(1201, 700), 20, 0).width(), 1200);
        QCOMPARE(mainWindowGeometry(QSize(1024, 600), 30, 2), QRect(30, 0, 964, 570));
        // A real window follows the rule on the screen it opens on.
        QScopedPointer<MainWindow> w(browser->createWindow(MainWindow::SingleView, false));
        const QRect expected =
            mainWindowGeometry(QGuiApplication::primaryScreen()->availableGeometry().size(),
                               w->style()->pixelMetric(QStyle::PM_TitleBarHeight), 0);
        QCOMPARE(w->size(), expected.size());
        QCOMPARE(w->pos(), expected.topLeft());
    }

    // The page's bridge object, the tray and who deletes the window, per display mode.
    void modes()
    {
        QScopedPointer<MainWindow> w(browser->createWindow(MainWindow::SingleView, false));
        QCOMPARE(w->webChannel()->registeredObjects().value("webobj"),
                 static_cast<QObject *>(w->jsChannel()));
        QCOMPARE(w->webView()->page()->webChannel(), w->webChannel());
        QVERIFY(w->trayIcon());
        QVERIFY(!w->testAttribute(Qt::WA_DeleteOnClose));
        // Titles from the page replace the product name; an empty one changes nothing.
        QCOMPARE(w->windowTitle(), QString("青隼"));
        w->handleWebViewTitleChanged("Tasks");
        w->handleWebViewTitleChanged(QString());
        QCOMPARE(w->windowTitle(), QString("Tasks"));

        QScopedPointer<MainWindow> tabs(browser->createWindow(MainWindow::MultiTab, false));
        QCOMPARE(tabs->tabWidget()->count(), 1);
        QCOMPARE(tabs->currentView()->page()->webChannel(), tabs->webChannel());

        // Developer tools: no bridge, no tray; closing deletes them (tst_browser).
        QScopedPointer<MainWindow> tools(browser->createDevToolsWindow());
        QVERIFY(!tools->jsChannel() && !tools->webChannel() && !tools->trayIcon());
    }

    // A tray host that comes up after the window (the panel after an autostart) gets the icon
    // at once, and the notices that were dropped while there was none are shown again. In a
    // copy of this test on a display of its own, which has no tray host at first.
    void trayHostThatComesLater()
    {
        if (!lateTray()) {
            NorvaTest::PrivateXServer x;
            QVERIFY2(!x.display().isEmpty(), "Xvfb did not start");
            QProcessEnvironment env = x.environment();
            env.insert("NORVA_TEST_LATE_TRAY", "1");
            QProcess copy;
            copy.setProcessEnvironment(env);
            copy.setProcessChannelMode(QProcess::ForwardedChannels);
            copy.start(QCoreApplication::applicationFilePath(), {"trayHostThatComesLater"});
            QVERIFY(copy.waitForFinished(180000));
            QCOMPARE(copy.exitStatus(), QProcess::NormalExit);
            QCOMPARE(copy.exitCode(), 0);
            return;
        }
        QVERIFY(!QSystemTrayIcon::isSystemTrayAvailable());
        QScopedPointer<MainWindow> w(browser->createWindow(MainWindow::SingleView, false));
        QVERIFY(!w->tray());
        QSignalSpy balloons(w.data(), &MainWindow::trayMessageShown);
        const QString notice = R"({"title":"T","content":"C"})";
        w->handleWebNoticeMsg(notice);
        QCOMPARE(balloons.count(), 0);

        QProcess trayer;
        trayer.start("trayer", {"--edge", "top", "--align", "right", "--widthtype", "request",
                                "--height", "24"});
        QVERIFY(trayer.waitForStarted(10000));
        const auto stop = qScopeGuard([&] {
            trayer.terminate();
            trayer.waitForFinished(10000);
        });
        QTRY_VERIFY_WITH_TIMEOUT(w->tray() && w->trayIcon()->isVisible(), 20000);
        w->handleWebNoticeMsg(notice);
        QCOMPARE(balloons.count(), 1);
    }

    // The icon goes up off the start-up path, but always before anyone needs it.
    void trayIconComesUpWhenNeeded()
    {
        for (int need = 0; need < 3; ++need) {
            QScopedPointer<MainWindow> w(browser->createWindow(MainWindow::SingleView, need == 2));
            QVERIFY(!w->trayIcon()->isVisible());
            if (need == 0) {
                w->loadUrl(QUrl("about:blank"));
                QTRY_VERIFY(w->trayIcon()->isVisible());
            } else if (need == 1) {
                w->showTrayMessage("t", "m", 1000);
                QVERIFY(w->trayIcon()->isVisible());
            } else {
                QTRY_VERIFY(w->isVisible());
                QVERIFY(!w->trayIcon()->isVisible());
                w->hide(); // as closing to the tray and Ctrl+H do
                QVERIFY(w->trayIcon()->isVisible());
            }
        }
    }

    // Without isQuitWhenClose a close hides the window, or minimises a full-screen one; the
    // tray's 退出 quits regardless and the close button quits while it is set: each logs out
    // once and closes the developer tools.
    void closeAndQuit()
    {
        appSettings->isQuitWhenClose = false;
        QScopedPointer<MainWindow> w(browser->createWindow(MainWindow::SingleView, true));
        QVERIFY(QTest::qWaitForWindowExposed(w.data()));
        QSignalSpy logout(w->jsChannel(), &JsChannel::logoutWsNoticeCenterInHtml);
        QVERIFY(!endsProgram([&] { QVERIFY(!w->close()); }, 300));
        QVERIFY(!w->isVisible());
        w->show();
        w->showFullScreen();
        QTRY_VERIFY(w->isFullScreen());
        QVERIFY(!w->close());
        QTRY_VERIFY(w->isMinimized());
        QVERIFY(w->isVisible());
        QCOMPARE(logout.count(), 0);

        QPointer<MainWindow> tools = browser->createDevToolsWindow();
        QAction *quit = w->trayMenu()->actions().constLast();
        QCOMPARE(quit->text(), QString("退出"));
        QVERIFY(endsProgram([quit] { quit->trigger(); }));
        QCOMPARE(logout.count(), 1);
        QTRY_VERIFY(!tools);
        appSettings->isQuitWhenClose = true;
        QVERIFY(endsProgram([&] { w->close(); }));
        QCOMPARE(logout.count(), 2);
    }

    void lastTabQuestion()
    {
        QScopedPointer<MainWindow> w(browser->createWindow(MainWindow::MultiTab, true));
        QSignalSpy logout(w->jsChannel(), &JsChannel::logoutWsNoticeCenterInHtml);
        QPointer<MainWindow> tools = browser->createDevToolsWindow();

        NorvaTest::BoxSeen seen;
        NorvaTest::answerNextBox("否", &seen);
        QVERIFY(!endsProgram([&] { w->closeTab(0); }, 1500));
        QVERIFY(seen.seen);
        QCOMPARE(seen.title, QString("青隼"));
        QCOMPARE(seen.text, QString("确定关闭当前标签页后退出吗？"));
        seen.buttons.sort();
        QCOMPARE(seen.buttons, (QStringList{"否", "是"}));
        QCOMPARE(w->tabWidget()->count(), 1);

        // The tab close button quits directly: no logout, developer tools stay.
        NorvaTest::answerNextBox("是");
        QVERIFY(endsProgram([&] { w->closeTab(0); }));
        QCOMPARE(logout.count(), 0);
        QVERIFY(tools);
        tools->close();

        // With two tabs the close button closes the tab without asking.
        w->tabWidget()->createTab();
        QCOMPARE(w->tabWidget()->count(), 2);
        w->closeTab(1);
        QTRY_COMPARE(w->tabWidget()->count(), 1);
    }

    // Ctrl+T opens a tab only in tab mode; Ctrl+W closes the tab, or in single view the window
    // (hidden here), and asks on the last tab; Ctrl+H hides; Escape leaves full screen and
    // Ctrl+Shift+F toggles it. An extra modifier makes another key.
    void keys()
    {
        appSettings->isQuitWhenClose = false;
        QScopedPointer<MainWindow> single(browser->createWindow(MainWindow::SingleView, true));
        QScopedPointer<MainWindow> tabs(browser->createWindow(MainWindow::MultiTab, true));
        QVERIFY(QTest::qWaitForWindowExposed(single.data()));
        const auto key = [](MainWindow *w, Qt::Key k,
                            Qt::KeyboardModifiers m = Qt::ControlModifier) {
            QTest::keyClick(w, k, m);
        };
        key(tabs.data(), Qt::Key_T);
        QCOMPARE(tabs->tabWidget()->count(), 2);
        QCOMPARE(tabs->tabWidget()->currentIndex(), 1);
        key(tabs.data(), Qt::Key_W, Qt::ControlModifier | Qt::AltModifier);
        QCOMPARE(tabs->tabWidget()->count(), 2);
        key(tabs.data(), Qt::Key_W);
        QTRY_COMPARE(tabs->tabWidget()->count(), 1);

        // Single view: no tab, no window, no navigation.
        const int windows = browser->windows().size();
        WebView *view = single->currentView();
        const QUrl url = view->url();
        key(single.data(), Qt::Key_T);
        QCOMPARE(browser->windows().size(), windows);
        QCOMPARE(single->currentView(), view);
        QCOMPARE(view->url(), url);
        QCOMPARE(tabs->tabWidget()->count(), 1);

        single->toggleFullScreen();
        QTRY_VERIFY(single->isFullScreen() && single->isMenuBarHidden());
        key(single.data(), Qt::Key_Escape, {});
        QTRY_VERIFY(!single->isFullScreen());
        QVERIFY(!single->isMenuBarHidden());
        for (const bool full : {true, false}) {
            key(single.data(), Qt::Key_F, Qt::ControlModifier | Qt::ShiftModifier);
            QTRY_COMPARE(single->isFullScreen(), full);
        }
        key(single.data(), Qt::Key_H, Qt::ControlModifier | Qt::ShiftModifier);
        QVERIFY(single->isVisible());
        key(single.data(), Qt::Key_H);
        QVERIFY(!single->isVisible());
        single->show();
        key(single.data(), Qt::Key_W);
        QTRY_VERIFY(!single->isVisible());

        // "是" on the last tab's question quits through the close handling.
        QSignalSpy logout(tabs->jsChannel(), &JsChannel::logoutWsNoticeCenterInHtml);
        NorvaTest::BoxSeen seen;
        NorvaTest::answerNextBox("是", &seen);
        QVERIFY(endsProgram([&] { key(tabs.data(), Qt::Key_W); }));
        QVERIFY(seen.seen && tabs->quitRequested());
        QCOMPARE(logout.count(), 1);
    }

    void pageFullScreenRequests()
    {
        QWebEngineSettings::defaultSettings()->setAttribute(
            QWebEngineSettings::FullScreenSupportEnabled, true);
        TestHttpServer server;
        QVERIFY(server.listen());
        server.setHtml("/", "<html><body style='margin:0'><button id='b' "
                            "style='position:fixed;left:0;top:0;width:100%;height:100%' "
                            "onclick='document.documentElement.requestFullscreen().then("
                            "()=>{window.fsok=1})'>full</button></body></html>");
        QScopedPointer<MainWindow> w(browser->createWindow(MainWindow::SingleView, true));
        QVERIFY(QTest::qWaitForWindowExposed(w.data()));
        QVERIFY(NorvaTest::loadOk(w->currentView(), server.url()));
        QWebEnginePage *page = w->currentView()->page();
        // Real clicks: pages may only ask on a user gesture; the first may only give focus.
        const auto clickUntilFullScreen = [&w, page] {
            QWidget *content = w->currentView()->focusProxy();
            const QPoint at = content->mapToGlobal(content->rect().center());
            NorvaTest::xdotool({"mousemove", QString::number(at.x()), QString::number(at.y())});
            NorvaTest::runJs(page, "window.fsok = 0");
            for (int i = 0; i < 5 && !w->isFullScreen(); ++i) {
                NorvaTest::xdotool({"click", "1"});
                NorvaTest::waitFor([&] { return w->isFullScreen(); }, 2000);
            }
            return w->isFullScreen();
        };
        const auto pageFullScreen = [page] {
            return NorvaTest::runJs(page, "document.fullscreenElement !== null").toBool();
        };
        // Left by the page, then through the window (the View menu's entry, the keys), which
        // takes the page along, so that its next request works again.
        for (const bool byWindow : {false, true, false}) {
            QVERIFY(clickUntilFullScreen());
            QVERIFY(w->isMenuBarHidden());
            QTRY_VERIFY(NorvaTest::runJs(page, "window.fsok === 1").toBool());
            if (byWindow) {
                QTRY_VERIFY(pageFullScreen());
                w->toggleFullScreen();
                QTRY_VERIFY_WITH_TIMEOUT(!pageFullScreen(), 20000);
            } else {
                NorvaTest::runJs(page, "document.exitFullscreen()");
            }
            QTRY_VERIFY_WITH_TIMEOUT(!w->isFullScreen(), 20000);
            QVERIFY(!w->isMenuBarHidden());
        }
    }

    void trayMenuAndMenuBarEntry()
    {
        QScopedPointer<MainWindow> w(browser->createWindow(MainWindow::SingleView, true));
        QCOMPARE(NorvaTest::entries(w->trayMenu()).join(QLatin1Char('/')),
                 QString("隐藏菜单栏/转到最新通知/设置/更新日志/检查版本/退出"));
        QCOMPARE(w->trayIcon()->toolTip(), QString("青隼"));
        // 转到最新通知 gives the newest popup the keyboard focus.
        NotifyManager *notices = browser->notifyManager();
        notices->addNotice(NoticeItem());
        NorvaTest::entry(w->trayMenu(), "转到最新通知")->trigger();
        QTRY_VERIFY(notices->popups().last()->isActiveWindow());
        notices->popups().last()->fadeOut();
        QTRY_VERIFY(notices->popups().isEmpty());
        w->hideMenuBar();
        // Hosts that show the menu themselves send no context click: the menu shows anyway.
        w->trayMenu()->popup(QPoint(10, 10));
        QTRY_VERIFY(w->trayMenu()->isVisible());
        QCOMPARE(w->trayMenu()->actions().first()->text(), QString("显示菜单栏"));
        w->trayMenu()->hide();
        w->trayMenu()->actions().first()->trigger();
        QVERIFY(!w->isMenuBarHidden());
        w->iconActivated(QSystemTrayIcon::Context);
        QCOMPARE(w->trayMenu()->actions().first()->text(), QString("隐藏菜单栏"));
    }

    void badgeLabel()
    {
        for (const auto &[count, label] :
             {std::pair<int, const char *>{-3, ""}, {0, ""}, {1, "1"}, {99, "99"}, {100, "..."}})
            QCOMPARE(TrayController::badgeLabel(count), QString(label));
    }

    // A click, double click or middle click shows a hidden window and brings a minimised one
    // back maximised; a window that is up keeps its state; other reasons do nothing.
    void bringToFront()
    {
        QScopedPointer<MainWindow> w(browser->createWindow(MainWindow::SingleView, false));
        for (const auto reason : {QSystemTrayIcon::Trigger, QSystemTrayIcon::DoubleClick,
                                  QSystemTrayIcon::MiddleClick}) {
            w->hide();
            w->iconActivated(reason);
            QTRY_VERIFY(w->isVisible());
            w->showMinimized();
            QTRY_VERIFY(w->isMinimized());
            w->iconActivated(reason);
            QTRY_VERIFY(w->isMaximized());
            w->showNormal();
            QTRY_VERIFY(!w->isMaximized());
            w->iconActivated(reason);
            QVERIFY(!w->isMaximized() && !w->isMinimized());
        }
        w->hide();
        w->iconActivated(QSystemTrayIcon::Unknown);
        QVERIFY(!w->isVisible());
    }

    void settingsDialogOnceAndForgotten()
    {
        QScopedPointer<MainWindow> w(browser->createWindow(MainWindow::SingleView, true));
        w->openSettingsDialog();
        QPointer<SysSettingWindow> first = w->settingsWindow();
        QVERIFY(first);
        QTRY_VERIFY(first->isVisible());
        w->openSettingsDialog();
        QCOMPARE(w->settingsWindow(), first.data());
        // Escape goes to the dialog's own handling; the window must never use it afterwards.
        QTest::keyClick(first.data(), Qt::Key_Escape);
        QTRY_VERIFY(!first);
        QVERIFY(!w->settingsWindow());
        w->openSettingsDialog();
        QVERIFY(w->settingsWindow());
        // A close that only hides the window deletes an open dialog too.
        appSettings->isQuitWhenClose = false;
        QPointer<SysSettingWindow> second = w->settingsWindow();
        w->close();
        QVERIFY(!second || !second->isVisible());
        QTRY_VERIFY(!second);
    }

    // The window closes while the settings dialog runs a nested box (a mandatory update that
    // finished does this): the dialog goes, later, and nothing touches it afterwards.
    void settingsDialogClosesUnderItsOwnBox_data()
    {
        QTest::addColumn<QString>("button");
        QTest::newRow("folder chooser") << QString("btnChooseDownloadDir");
        QTest::newRow("clear data box") << QString("btnClearBrowserData");
    }

    void settingsDialogClosesUnderItsOwnBox()
    {
        QFETCH(QString, button);
        appSettings->isQuitWhenClose = false;
        QScopedPointer<MainWindow> w(browser->createWindow(MainWindow::SingleView, true));
        w->openSettingsDialog();
        QPointer<SysSettingWindow> dialog = w->settingsWindow();
        QVERIFY(dialog);
        if (auto *cache = dialog->findChild<QCheckBox *>(QString("chkCacheFile")))
            cache->setChecked(true);
        auto *trigger = dialog->findChild<QPushButton *>(button);
        QVERIFY(trigger);
        bool closed = false;
        QTimer poll;
        poll.setInterval(20);
        connect(&poll, &QTimer::timeout, [&] {
            QWidget *modal = QApplication::activeModalWidget();
            if (modal && modal != dialog && modal->isVisible()) {
                poll.stop();
                closed = true;
                w->close();
            }
        });
        poll.start();
        QTimer::singleShot(0, trigger, &QPushButton::click);
        QTRY_VERIFY_WITH_TIMEOUT(closed, 20000);
        QTRY_VERIFY(!dialog);
        QVERIFY(!w->settingsWindow());
        QVERIFY(!w->isVisible());
    }

    void menus()
    {
        QScopedPointer<MainWindow> w(browser->createWindow(MainWindow::SingleView, false));
        // Entry texts are exact, trailing blanks included; "|" is a separator.
        const QStringList expected = {
            QString("文件:设置/退出"), QString("修改:撤销/重做/|/剪切/复制/粘贴/粘贴匹配样式/全选"),
            QString("视图:停止/重新加载  /|/放大/缩小/重置/|/切换全屏  "),
            QString("帮助:隐藏菜单栏/网络测试/更新日志/检查版本/调试工具")};
        QStringList actual;
        for (QAction *menu : w->menuBar()->actions())
            actual << menu->text() + QLatin1Char(':') +
                          NorvaTest::entries(menu->menu()).join(QLatin1Char('/'));
        QCOMPARE(actual, expected);
        const QList<QAction *> help = w->menuBar()->actions()[3]->menu()->actions();
        QVERIFY(!help[1]->isEnabled());
        help[0]->trigger();
        QVERIFY(w->isMenuBarHidden());
        QCOMPARE(appSettings->isShowMenuBar, true);

        // A stored hidden menu bar hides it at start; showing it again changes neither the
        // record nor the store.
        appSettings->isShowMenuBar = false;
        const auto restore = qScopeGuard([] { appSettings->isShowMenuBar = true; });
        QScopedPointer<MainWindow> hidden(browser->createWindow(MainWindow::SingleView, true));
        QVERIFY(hidden->isMenuBarHidden());
        QCOMPARE(hidden->menuBar()->actions().size(), 4);
        hidden->showMenuBar();
        QVERIFY(!hidden->isMenuBarHidden());
        QCOMPARE(appSettings->isShowMenuBar, false);
        QVERIFY(!QSettings().contains("GeneralSettings/isShowMenuBar"));
    }

    void zoomOnTheDevToolsView()
    {
        MainWindow *tools = browser->createDevToolsWindow();
        QMenu *view = tools->menuBar()->actions()[2]->menu();
        QAction *zoomIn = view->actions()[3];
        QAction *reset = view->actions()[5];
        for (int i = 0; i < 3; ++i)
            zoomIn->trigger();
        QTRY_VERIFY(qAbs(tools->webView()->zoomFactor() - 1.6) < 1e-9);
        view->actions()[4]->trigger(); // zoom out
        QVERIFY(qAbs(tools->webView()->zoomFactor() - 1.4) < 1e-9);
        reset->trigger();
        QCOMPARE(tools->webView()->zoomFactor(), 1.0);
        tools->close();
    }
};

NORVA_TEST_MAIN(TestLifecycle)
#include "tst_lifecycle.moc"
