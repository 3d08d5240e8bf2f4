#include "app/appsettings.h"
#include "app/browser.h"
#include "mainwindow/mainwindow.h"
#include "tests/support/testhttpserver.h"
#include "tests/support/testsupport.h"
#include "web/tabwidget.h"
#include "web/webpage.h"
#include "web/webpopupwindow.h"
#include "web/webview.h"

#include <QClipboard>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QScreen>
#include <QTcpServer>
#include <QWebEngineHistory>
#include <QWebEngineProfile>

namespace {

// createWindow is the engine's hook; the tests call it as the engine would.
struct EngineHook : WebView
{
    static QWebEngineView *open(WebView *view, QWebEnginePage::WebWindowType type)
    {
        QWebEngineView *(WebView::*hook)(QWebEnginePage::WebWindowType) = &EngineHook::createWindow;
        return (view->*hook)(type);
    }
};

bool sameIcon(const QIcon &a, const QIcon &b)
{
    return !a.isNull() && !b.isNull() && a.pixmap(16, 16).toImage() == b.pixmap(16, 16).toImage();
}

QList<WebPopupWindow *> popups()
{
    QList<WebPopupWindow *> found;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *popup = qobject_cast<WebPopupWindow *>(w))
            found << popup;
    return found;
}

using NorvaTest::entries;
using NorvaTest::entry;

const QString plainPage =
    QStringLiteral("<html><head><title>%1</title></head><body>%1</body></html>");

} // namespace

class TestWebView : public QObject
{
    Q_OBJECT

    TestHttpServer server;
    Browser *browser = nullptr;

    MainWindow *window(int mode)
    {
        MainWindow *w = browser->createWindow(mode, true);
        return w;
    }

    void loadAndWait(WebView *view, const QUrl &url)
    {
        QSignalSpy finished(view, &QWebEngineView::loadFinished);
        view->setUrl(url);
        QVERIFY(finished.wait(20000));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(server.listen());
        server.setHtml(QStringLiteral("/a"), plainPage.arg(QStringLiteral("A")));
        server.setHtml(QStringLiteral("/b"), plainPage.arg(QStringLiteral("B")));
        server.setHtml(QStringLiteral("/target"), plainPage.arg(QStringLiteral("Target")));
        server.setHtml(QStringLiteral("/iconpage"),
                       QStringLiteral("<html><head><link rel=\"icon\" href=\"/icon.png\"></head>"
                                      "<body>icon</body></html>"));
        QFile png(QStringLiteral(":back.png"));
        QVERIFY(png.open(QIODevice::ReadOnly));
        TestHttpServer::Response icon;
        icon.contentType = "image/png";
        icon.body = png.readAll();
        server.setResponse(QStringLiteral("/icon.png"), icon);
        server.setHtml(QStringLiteral("/links"),
                       QStringLiteral("<html><body style='margin:0'>"
                                      "<a id='l' href='/target' style='display:block;"
                                      "width:300px;height:100px'>target</a></body></html>"));
        browser = new Browser;
    }

    void cleanupTestCase()
    {
        delete browser;
        browser = nullptr;
    }

    void cleanup()
    {
        for (WebPopupWindow *popup : popups())
            popup->close();
        for (MainWindow *w : browser->windows())
            delete w;
        QTRY_VERIFY(popups().isEmpty());
        appSettings->isMultiTab = false;
        appSettings->isBowserMultiTab = false;
    }

    void stateIconsFollowTheLoad()
    {
        const QIcon error(QStringLiteral(":error.png"));
        const QIcon loading(QStringLiteral(":refresh.png"));

        WebView view;
        view.setPage(new WebPage(QWebEngineProfile::defaultProfile(), &view));
        // Never loaded: counts as loaded, so the default icon.
        QCOMPARE(view.loadProgress(), 100);
        QVERIFY(sameIcon(view.favIcon(), error));

        QSignalSpy icons(&view, &WebView::favIconChanged);
        loadAndWait(&view, server.url(QStringLiteral("/a")));
        QCOMPARE(view.loadProgress(), 100);
        QVERIFY(icons.count() >= 2);
        QVERIFY(sameIcon(icons.first().at(0).value<QIcon>(), loading));
        QVERIFY(sameIcon(icons.last().at(0).value<QIcon>(), error));
        QVERIFY(sameIcon(view.favIcon(), error));

        // A port nobody listens on: the load fails.
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
        const QUrl dead(QStringLiteral("http://127.0.0.1:%1/").arg(closed.serverPort()));
        closed.close();
        icons.clear();
        QSignalSpy finished(&view, &QWebEngineView::loadFinished);
        view.setUrl(dead);
        QVERIFY(finished.wait(20000));
        QCOMPARE(finished.last().at(0).toBool(), false);
        QCOMPARE(view.loadProgress(), -1);
        QVERIFY(sameIcon(icons.first().at(0).value<QIcon>(), loading));
        QVERIFY(sameIcon(icons.last().at(0).value<QIcon>(), error));
    }

    void pageIconWinsOverStateIcon()
    {
        WebView view;
        view.setPage(new WebPage(QWebEngineProfile::defaultProfile(), &view));
        QSignalSpy icons(&view, &WebView::favIconChanged);
        view.setUrl(server.url(QStringLiteral("/iconpage")));
        QTRY_VERIFY_WITH_TIMEOUT(!view.icon().isNull(), 20000);
        QVERIFY(sameIcon(view.favIcon(), view.icon()));
        QVERIFY(!sameIcon(view.favIcon(), QIcon(QStringLiteral(":error.png"))));
        QVERIFY(sameIcon(icons.last().at(0).value<QIcon>(), view.icon()));
    }

    void autoZoom_data()
    {
        QTest::addColumn<qreal>("ratio");
        QTest::addColumn<qreal>("expected");
        QTest::newRow("1.0 keeps the user's zoom") << 1.0 << 1.4;
        QTest::newRow("1.25") << 1.25 << 0.75;
        QTest::newRow("2.0") << 2.0 << 0.75;
        QTest::newRow("2.5") << 2.5 << 0.5;
    }

    void autoZoom()
    {
        QFETCH(qreal, ratio);
        QFETCH(qreal, expected);
        QCOMPARE(WebView::autoZoomFactor(ratio, 1.4), expected);
    }

    void newWindowInSingleViewMode()
    {
        appSettings->isMultiTab = true;
        appSettings->isBowserMultiTab = true;
        MainWindow *w = window(MainWindow::SingleView);
        WebView *view = w->currentView();
        const int windows = browser->windows().size();

        // A new browser window loads into the window's own view.
        QCOMPARE(EngineHook::open(view, QWebEnginePage::WebBrowserWindow), view);
        QCOMPARE(browser->windows().size(), windows);

        // No tab widget: a tab request becomes a popup, whatever the settings say.
        QWebEngineView *tab = EngineHook::open(view, QWebEnginePage::WebBrowserTab);
        QVERIFY(tab);
        QVERIFY(qobject_cast<WebPopupWindow *>(tab->window()));
        QVERIFY(tab->window()->isVisible());
        QVERIFY(!tab->window()->parentWidget());

        QCOMPARE(EngineHook::open(view, QWebEnginePage::WebBrowserBackgroundTab), nullptr);
        QCOMPARE(popups().size(), 1);
        QCOMPARE(browser->windows().size(), windows);
    }

    void newWindowInTabModes_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("multiTab");
        QTest::addColumn<bool>("browserMultiTab");
        QTest::addColumn<bool>("tabExpected");
        QTest::newRow("multi-tab, both off") << 1 << false << false << false;
        QTest::newRow("multi-tab, isMultiTab") << 1 << true << false << true;
        QTest::newRow("browser, both off") << 2 << false << false << false;
        QTest::newRow("browser, isBowserMultiTab") << 2 << false << true << true;
        QTest::newRow("browser, both on") << 2 << true << true << true;
    }

    void newWindowInTabModes()
    {
        QFETCH(int, mode);
        QFETCH(bool, multiTab);
        QFETCH(bool, browserMultiTab);
        QFETCH(bool, tabExpected);
        appSettings->isMultiTab = multiTab;
        appSettings->isBowserMultiTab = browserMultiTab;
        MainWindow *w = window(mode);
        TabWidget *tabs = w->tabWidget();
        QVERIFY(tabs);
        WebView *view = tabs->currentWebView();

        QWebEngineView *tab = EngineHook::open(view, QWebEnginePage::WebBrowserTab);
        QVERIFY(tab);
        if (tabExpected) {
            QCOMPARE(tabs->count(), 2);
            QCOMPARE(tabs->currentWebView(), tab);
            QVERIFY(popups().isEmpty());
        } else {
            QCOMPARE(tabs->count(), 1);
            QVERIFY(qobject_cast<WebPopupWindow *>(tab->window()));
        }

        // Background tabs do not look at the settings and leave the current tab alone.
        tabs->setCurrentIndex(0);
        QWebEngineView *background =
            EngineHook::open(view, QWebEnginePage::WebBrowserBackgroundTab);
        QVERIFY(background);
        QCOMPARE(tabs->indexOf(background), tabs->count() - 1);
        QCOMPARE(tabs->currentIndex(), 0);

        // A new browser window is a new single-view main window, shown at once.
        const int windows = browser->windows().size();
        QWebEngineView *other = EngineHook::open(view, QWebEnginePage::WebBrowserWindow);
        QCOMPARE(browser->windows().size(), windows + 1);
        MainWindow *created = browser->windows().last();
        QCOMPARE(created->displayMode(), int(MainWindow::SingleView));
        QVERIFY(created->isVisible());
        QCOMPARE(other, created->currentView());
    }

    void dialogsOpenPopupsThatRelayDevTools()
    {
        for (int mode : {0, 1, 2}) {
            MainWindow *w = window(mode);
            WebView *view = w->currentView();
            QWebEngineView *dialog = EngineHook::open(view, QWebEnginePage::WebDialog);
            QVERIFY(dialog);
            auto *popup = qobject_cast<WebPopupWindow *>(dialog->window());
            QVERIFY(popup);
            QVERIFY(popup->isVisible());

            QSignalSpy relayed(view, &WebView::devToolsRequested);
            emit popup->view()->devToolsRequested(popup->view()->page());
            QCOMPARE(relayed.count(), 1);
            QCOMPARE(relayed.first().at(0).value<QWebEnginePage *>(), popup->view()->page());
        }
    }

    void popupsGetNoNewWindows()
    {
        appSettings->isMultiTab = true;
        MainWindow *w = window(MainWindow::MultiTab);
        QWebEngineView *dialog = EngineHook::open(w->currentView(), QWebEnginePage::WebDialog);
        auto *popupView = qobject_cast<WebView *>(dialog);
        QVERIFY(popupView);
        for (auto type : {QWebEnginePage::WebBrowserWindow, QWebEnginePage::WebBrowserTab,
                          QWebEnginePage::WebDialog, QWebEnginePage::WebBrowserBackgroundTab})
            QCOMPARE(EngineHook::open(popupView, type), nullptr);
        QCOMPARE(popups().size(), 1);
        QCOMPARE(w->tabWidget()->count(), 1);

        // The same through the page: window.open inside the popup gives null.
        loadAndWait(popupView, server.url(QStringLiteral("/a")));
        // The engine asks for the window when the page's call reaches it, before the result
        // of a later script comes back.
        NorvaTest::runJs(popupView->page(), QStringLiteral("window.open('/b'); 1"));
        QCOMPARE(NorvaTest::runJs(popupView->page(), QStringLiteral("2")), QVariant(2));
        QCOMPARE(popups().size(), 1);
        QCOMPARE(w->tabWidget()->count(), 1);

        // The same check from the tab itself does open a tab.
        loadAndWait(w->currentView(), server.url(QStringLiteral("/a")));
        NorvaTest::runJs(w->currentView()->page(), QStringLiteral("window.open('/b'); 1"));
        QCOMPARE(NorvaTest::runJs(w->currentView()->page(), QStringLiteral("2")), QVariant(2));
        QCOMPARE(w->tabWidget()->count(), 2);
    }

    void linkWithTargetOpensATab()
    {
        appSettings->isMultiTab = true;
        MainWindow *w = window(MainWindow::MultiTab);
        TabWidget *tabs = w->tabWidget();
        loadAndWait(tabs->currentWebView(), server.url(QStringLiteral("/a")));
        NorvaTest::runJs(tabs->currentWebView()->page(),
                         QStringLiteral("var a = document.createElement('a');"
                                        "a.href = '/b'; a.target = '_blank';"
                                        "document.body.appendChild(a); a.click();"));
        QTRY_COMPARE_WITH_TIMEOUT(tabs->count(), 2, 20000);
        QTRY_COMPARE_WITH_TIMEOUT(tabs->currentWebView()->url(), server.url(QStringLiteral("/b")),
                                  20000);
        QVERIFY(popups().isEmpty());
    }

    void shiftClickLoadsIntoTheSingleView()
    {
        MainWindow *w = window(MainWindow::SingleView);
        WebView *view = w->currentView();
        loadAndWait(view, server.url(QStringLiteral("/links")));
        QVERIFY(QTest::qWaitForWindowExposed(w));
        const int windows = browser->windows().size();
        QWidget *content = view->focusProxy();
        QVERIFY(content);
        QTRY_VERIFY(content->isVisible());
        QTest::mouseClick(content, Qt::LeftButton, Qt::ShiftModifier, QPoint(20, 20));
        QTRY_COMPARE_WITH_TIMEOUT(view->url(), server.url(QStringLiteral("/target")), 20000);
        QCOMPARE(browser->windows().size(), windows);
        QVERIFY(popups().isEmpty());
    }

    void contextMenuEntries()
    {
        MainWindow *w = window(MainWindow::MultiTab);
        WebView *view = w->currentView();

        std::unique_ptr<QMenu> menu(view->createContextMenu());
        QCOMPARE(entries(menu.get()), QStringList({"返回", "前进", "重新加载", "|", "复制页面链接",
                                                   "隐藏菜单栏", "|", "设置"}));
        QVERIFY(!entry(menu.get(), "返回")->isEnabled());
        QVERIFY(!entry(menu.get(), "前进")->isEnabled());
        QVERIFY(entry(menu.get(), "重新加载")->isEnabled());

        // The menu-bar entry toggles the bar without touching the stored setting.
        const bool stored = appSettings->isShowMenuBar;
        entry(menu.get(), "隐藏菜单栏")->trigger();
        QVERIFY(w->isMenuBarHidden());
        menu.reset(view->createContextMenu());
        QAction *show = entry(menu.get(), "显示菜单栏");
        QVERIFY(show);
        QVERIFY(!entry(menu.get(), "隐藏菜单栏"));
        show->trigger();
        QVERIFY(!w->isMenuBarHidden());
        QCOMPARE(appSettings->isShowMenuBar, stored);

        // After two loads the history can go back; after going back, forward.
        loadAndWait(view, server.url(QStringLiteral("/a")));
        loadAndWait(view, server.url(QStringLiteral("/b")));
        menu.reset(view->createContextMenu());
        QVERIFY(entry(menu.get(), "返回")->isEnabled());
        QVERIFY(!entry(menu.get(), "前进")->isEnabled());

        QSignalSpy finished(view, &QWebEngineView::loadFinished);
        entry(menu.get(), "返回")->trigger();
        QVERIFY(finished.wait(20000));
        QCOMPARE(view->url(), server.url(QStringLiteral("/a")));
        menu.reset(view->createContextMenu());
        QVERIFY(entry(menu.get(), "前进")->isEnabled());

        entry(menu.get(), "复制页面链接")->trigger();
        QCOMPARE(QGuiApplication::clipboard()->text(), server.url(QStringLiteral("/a")).toString());
    }

    void contextMenuNeedsTheFocus()
    {
        MainWindow *w = window(MainWindow::SingleView);
        WebView *view = w->currentView();
        loadAndWait(view, server.url(QStringLiteral("/a")));
        w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w));
        QWidget *content = view->focusProxy();
        QVERIFY(content);

        // Focus in the page: our own menu, parented to the view.
        content->setFocus(Qt::OtherFocusReason);
        QTRY_VERIFY(view->hasFocus());
        QTest::mouseClick(content, Qt::RightButton, Qt::NoModifier, QPoint(30, 30));
        QMenu *ours = nullptr;
        QTRY_VERIFY_WITH_TIMEOUT((ours = [view]() -> QMenu * {
                                     for (QMenu *m : view->findChildren<QMenu *>())
                                         if (m->isVisible())
                                             return m;
                                     return nullptr;
                                 }()),
                                 20000);
        QVERIFY(entry(ours, "复制页面链接"));
        QPointer<QMenu> guard(ours);
        ours->close();
        QTRY_VERIFY(!guard); // it deletes itself once closed

        // Focus elsewhere: the engine's standard menu instead. A real press would move the
        // focus into the page first, so the event goes to the view directly.
        w->setFocus(Qt::OtherFocusReason);
        QTRY_VERIFY(!view->hasFocus());
        QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(30, 30),
                                view->mapToGlobal(QPoint(30, 30)));
        QApplication::sendEvent(view, &event);
        // Our menu would be made and popped up right inside the handler; the engine's own one
        // has nothing to show without a real click behind it.
        QVERIFY(view->findChildren<QMenu *>().isEmpty());
    }

    void popupSizing()
    {
        QCOMPARE(WebPopupWindow::goldenSize(QSize(1920, 1040)), QSize(1187, 643));
        // 250 * 0.618 is exactly 154.5: the half goes up.
        QCOMPARE(WebPopupWindow::goldenSize(QSize(250, 750)), QSize(155, 464));
        QCOMPARE(
            WebPopupWindow::geometryInsideFrame(QRect(100, 100, 800, 600), QMargins(8, 31, 8, 8)),
            QRect(108, 131, 784, 561));

        // Without a geometry request a popup opens at its size hint.
        QPointer<WebPopupWindow> popup = new WebPopupWindow(QWebEngineProfile::defaultProfile());
        QVERIFY(popup->isVisible());
        QVERIFY(!popup->parentWidget());
        const QSize expected = WebPopupWindow::goldenSize(
            QGuiApplication::primaryScreen()->availableGeometry().size());
        QCOMPARE(popup->sizeHint(), expected);
        QTRY_COMPARE(popup->size(), expected);
        auto *page = qobject_cast<WebPage *>(popup->view()->page());
        QVERIFY(page);
        QCOMPARE(page->parent(), popup->view());
        QCOMPARE(popup->view()->contextMenuPolicy(), Qt::NoContextMenu);
        popup->close();
        QTRY_VERIFY(!popup);
    }

    void pagePopupLifecycle()
    {
        MainWindow *w = window(MainWindow::MultiTab);
        loadAndWait(w->currentView(), server.url(QStringLiteral("/a")));
        NorvaTest::runJs(w->currentView()->page(),
                         QStringLiteral("window.open('/target', '', "
                                        "'left=100,top=100,width=500,height=400');"));
        QTRY_COMPARE_WITH_TIMEOUT(popups().size(), 1, 20000);
        QPointer<WebPopupWindow> popup = popups().first();
        QCOMPARE(w->tabWidget()->count(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(popup->windowTitle(), QStringLiteral("Target"), 20000);
        // The window features describe the outer frame.
        QVERIFY(popup->windowHandle());
        QCOMPARE(popup->geometry(),
                 QRect(100, 100, 500, 400).marginsRemoved(popup->windowHandle()->frameMargins()));

        // The page closes its own window, which goes with its view and page.
        QPointer<QWebEnginePage> page = popup->view()->page();
        page->runJavaScript(QStringLiteral("window.close();"));
        QTRY_VERIFY_WITH_TIMEOUT(!popup, 20000);
        QVERIFY(!page);
    }

    void renderProcessPrompt_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("title");
        QTest::newRow("normal") << int(QWebEnginePage::NormalTerminationStatus)
                                << QStringLiteral("渲染进程正常退出");
        QTest::newRow("abnormal") << int(QWebEnginePage::AbnormalTerminationStatus)
                                  << QStringLiteral("渲染进程异常退出");
        QTest::newRow("crashed") << int(QWebEnginePage::CrashedTerminationStatus)
                                 << QStringLiteral("渲染进程崩溃");
        QTest::newRow("killed") << int(QWebEnginePage::KilledTerminationStatus)
                                << QStringLiteral("渲染进程已被终止");
        QTest::newRow("unknown") << 77 << QString();
    }

    void renderProcessPrompt()
    {
        QFETCH(int, status);
        QFETCH(QString, title);
        WebView view;
        view.setPage(new WebPage(QWebEngineProfile::defaultProfile(), &view));
        loadAndWait(&view, server.url(QStringLiteral("/a")));
        QSignalSpy started(&view, &QWebEngineView::loadStarted);

        NorvaTest::BoxSeen seen;
        NorvaTest::answerNextBox(QStringLiteral("否"), &seen);
        view.handleRenderProcessTerminated(QWebEnginePage::RenderProcessTerminationStatus(status),
                                           0);
        QVERIFY(seen.seen);
        QCOMPARE(seen.title, title);
        QCOMPARE(seen.text,
                 QStringLiteral("渲染进程已退出，状态代码为： 0\n是否需要重新加载页面？"));
        QCOMPARE(seen.buttons.size(), 2);
        QVERIFY(seen.buttons.contains(QStringLiteral("是")));
        QVERIFY(seen.buttons.contains(QStringLiteral("否")));
        // Let any zero-delay timer run: "否" must not reload.
        bool turned = false;
        QTimer::singleShot(0, this, [&turned] { turned = true; });
        QTRY_VERIFY(turned);
        QCOMPARE(started.count(), 0);

        NorvaTest::answerNextBox(QStringLiteral("是"), &seen);
        view.handleRenderProcessTerminated(QWebEnginePage::RenderProcessTerminationStatus(status),
                                           139);
        QCOMPARE(seen.text,
                 QStringLiteral("渲染进程已退出，状态代码为： 139\n是否需要重新加载页面？"));
        // The reload waits for the next turn of the event loop.
        QCOMPARE(started.count(), 0);
        QVERIFY(started.wait(20000));
    }
};

NORVA_TEST_MAIN(TestWebView)
#include "tst_webview.moc"
