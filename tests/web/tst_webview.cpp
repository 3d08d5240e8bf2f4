#include "app/browser.h"
#include "mainwindow/mainwindow.h"
#include "store/appsettings.h"
#include "tests/support/testhttpserver.h"
#include "tests/support/testsupport.h"
#include "web/tabwidget.h"
#include "web/webpage.h"
#include "web/webpopupwindow.h"
#include "web/webview.h"

#include <QMenu>
#include <QPointer>
#include <QProcess>
#include <QScreen>
#include <QWebEngineProfile>

#include <tuple>

namespace {

// createWindow is the engine's hook; the tests call it as the engine would.
struct EngineHook : WebView
{
    static QWebEngineView *open(WebView *view, QWebEnginePage::WebWindowType type)
    {
        return (view->*(&EngineHook::createWindow))(type);
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

enum Outcome { OwnView, CurrentTab, BackgroundTab, Popup, NewWindow, Nothing };

using NorvaTest::entry;

} // namespace

class TestWebView : public QObject
{
    Q_OBJECT

    TestHttpServer server;
    Browser *browser = nullptr;

    void loadAndWait(WebView *view, const QString &path)
    {
        QVERIFY(NorvaTest::load(view, path.startsWith('/') ? server.url(path) : QUrl(path)));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(server.listen());
        for (const QString name : {"a", "b", "target"})
            server.setHtml("/" + name,
                           QString("<html><head><title>%1</title></head></html>").arg(name));
        const QString link =
            "<html><body style='margin:0'><a href='/target' %1 "
            "style='display:block;width:300px;height:100px'>target</a></body></html>";
        server.setHtml("/link", link.arg(QString()));
        server.setHtml("/blank", link.arg("target='_blank'"));
        browser = new Browser;
    }

    void cleanupTestCase() { delete browser; }

    void cleanup()
    {
        for (WebPopupWindow *popup : popups())
            popup->close();
        qDeleteAll(browser->windows());
        QTRY_VERIFY(popups().isEmpty());
        appSettings->isMultiTab = appSettings->isBowserMultiTab = false;
    }

    void stateIconsFollowTheLoad()
    {
        const QIcon error(":error.png"), loading(":refresh.png");
        WebView view;
        view.setPage(new WebPage(QWebEngineProfile::defaultProfile(), &view));
        // A good load ends at 100, one to a closed port at -1; both end on the default icon.
        QSignalSpy icons(&view, &WebView::favIconChanged);
        for (const QString url : {"/a", "http://127.0.0.1:1/"}) {
            icons.clear();
            loadAndWait(&view, url);
            QCOMPARE(view.loadProgress(), url == "/a" ? 100 : -1);
            QVERIFY(icons.count() >= 2);
            QVERIFY(sameIcon(icons.first().at(0).value<QIcon>(), loading));
            QVERIFY(sameIcon(icons.last().at(0).value<QIcon>(), error));
        }
    }

    // A page loaded on a high-density screen is zoomed out. Xvfb's screen has the ratio 1, so
    // the load runs in a copy of this test under a scale factor of 2.
    void autoZoom()
    {
        QCOMPARE(WebView::autoZoomFactor(1.0, 1.4), 1.4); // the user's zoom stays
        QCOMPARE(WebView::autoZoomFactor(1.25, 1.4), 0.75);
        QCOMPARE(WebView::autoZoomFactor(2.0, 1.4), 0.75);
        QCOMPARE(WebView::autoZoomFactor(2.5, 1.4), 0.5);
        if (qEnvironmentVariable("QT_SCALE_FACTOR") != "2") {
            QProcess copy;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert("QT_SCALE_FACTOR", "2");
            copy.setProcessEnvironment(env);
            copy.setProcessChannelMode(QProcess::ForwardedChannels);
            copy.start(QCoreApplication::applicationFilePath(), {"autoZoom"});
            QVERIFY(copy.waitForFinished(180000));
            QCOMPARE(copy.exitStatus(), QProcess::NormalExit);
            QCOMPARE(copy.exitCode(), 0);
            return;
        }
        QCOMPARE(QGuiApplication::primaryScreen()->devicePixelRatio(), 2.0);
        WebView view;
        view.setPage(new WebPage(QWebEngineProfile::defaultProfile(), &view));
        loadAndWait(&view, "/a");
        QCOMPARE(view.zoomFactor(), 0.75);
    }

    // Where each mode sends each kind of new-window request, per tab setting.
    void createWindow()
    {
        using P = QWebEnginePage;
        const int single = MainWindow::SingleView, multi = MainWindow::MultiTab,
                  browserMode = MainWindow::BrowserMode;
        const std::tuple<int, bool, P::WebWindowType, Outcome> cases[] = {
            {single, true, P::WebBrowserWindow, OwnView},
            {single, true, P::WebBrowserTab, Popup},
            {single, true, P::WebBrowserBackgroundTab, Nothing},
            {multi, false, P::WebBrowserTab, Popup},
            {multi, true, P::WebBrowserTab, CurrentTab},
            {multi, false, P::WebBrowserBackgroundTab, BackgroundTab},
            {multi, false, P::WebBrowserWindow, NewWindow},
            {browserMode, true, P::WebBrowserTab, CurrentTab},
            {browserMode, false, P::WebDialog, Popup}};
        for (const auto &[mode, tabs, type, outcome] : cases) {
            appSettings->isMultiTab = appSettings->isBowserMultiTab = tabs;
            MainWindow *w = browser->createWindow(mode, true);
            WebView *view = w->currentView();
            TabWidget *tabWidget = w->tabWidget();
            QWebEngineView *made = EngineHook::open(view, type);
            const bool inTabs = made && tabWidget && tabWidget->indexOf(made) >= 0;
            const int got = made == view ? OwnView
                            : !made      ? Nothing
                            : inTabs
                                ? (tabWidget->currentWebView() == made ? CurrentTab : BackgroundTab)
                            : qobject_cast<WebPopupWindow *>(made->window()) ? Popup
                                                                             : NewWindow;
            QVERIFY2(got == outcome,
                     qPrintable(QString("mode %1, type %2: %3").arg(mode).arg(type).arg(got)));
            QCOMPARE(browser->windows().size(), outcome == NewWindow ? 2 : 1);
            QCOMPARE(popups().size(), outcome == Popup ? 1 : 0);
            if (outcome == NewWindow)
                QCOMPARE(browser->windows().last()->displayMode(), int(MainWindow::SingleView));
            if (made && made != view)
                QVERIFY(made->window()->isVisible());
            if (outcome == Popup) { // a popup's own page gets no new windows at all
                QCOMPARE(EngineHook::open(static_cast<WebView *>(made), type), nullptr);
                QCOMPARE(popups().size(), 1);
            }
            cleanup();
        }
    }

    // Real clicks: _blank opens a tab in multi-tab and a popup in single view, a shift-click
    // stays in the view.
    void linkClicks()
    {
        const std::tuple<int, const char *, Outcome> cases[] = {
            {MainWindow::MultiTab, "/blank", CurrentTab},
            {MainWindow::SingleView, "/blank", Popup},
            {MainWindow::SingleView, "/link", OwnView}};
        appSettings->isMultiTab = true;
        const QUrl target = server.url("/target");
        for (const auto &[mode, page, outcome] : cases) {
            MainWindow *w = browser->createWindow(mode, true);
            WebView *view = w->currentView();
            loadAndWait(view, page);
            QVERIFY(QTest::qWaitForWindowExposed(w));
            QWidget *content = view->focusProxy();
            QTRY_VERIFY(content && content->isVisible());
            QTest::mouseClick(content, Qt::LeftButton,
                              outcome == OwnView ? Qt::ShiftModifier : Qt::NoModifier, {20, 20});
            QTRY_VERIFY_WITH_TIMEOUT(
                view->url() == target || w->currentView()->url() == target ||
                    (!popups().isEmpty() && popups().first()->view()->url() == target),
                20000);
            const int got = !popups().isEmpty()        ? Popup
                            : w->currentView() != view ? CurrentTab
                                                       : OwnView;
            QCOMPARE(got, int(outcome));
            QCOMPARE(browser->windows().size(), 1);
            cleanup();
        }
    }

    void contextMenuEntries()
    {
        WebView *view = browser->createWindow(MainWindow::MultiTab, true)->currentView();
        const auto enabled = [view](const QString &text) {
            std::unique_ptr<QMenu> menu(view->createContextMenu());
            return entry(menu.get(), text)->isEnabled();
        };
        const std::unique_ptr<QMenu> menu(view->createContextMenu());
        QCOMPARE(NorvaTest::entries(menu.get()),
                 QStringList(
                     {"返回", "前进", "重新加载", "|", "复制页面链接", "隐藏菜单栏", "|", "设置"}));
        QVERIFY(!enabled("返回") && !enabled("前进") && enabled("重新加载"));
        // After two loads the history can go back; after going back, forward.
        loadAndWait(view, "/a");
        loadAndWait(view, "/b");
        QVERIFY(enabled("返回") && !enabled("前进"));
        QSignalSpy finished(view, &QWebEngineView::loadFinished);
        entry(std::unique_ptr<QMenu>(view->createContextMenu()).get(), "返回")->trigger();
        QVERIFY(finished.wait(20000));
        QVERIFY(enabled("前进"));
    }

    void popupGeometry()
    {
        QCOMPARE(WebPopupWindow::goldenSize(QSize(1920, 1040)), QSize(1187, 643));
        QCOMPARE(WebPopupWindow::goldenSize(QSize(250, 750)), QSize(155, 464)); // 154.5 goes up
        // The requested rectangle is the outer frame: the widget goes inside the margins.
        QCOMPARE(
            WebPopupWindow::geometryInsideFrame(QRect(100, 100, 800, 600), QMargins(8, 31, 8, 8)),
            QRect(108, 131, 784, 561));
        // Without a geometry request a popup opens at the golden size of the screen.
        auto *plain = new WebPopupWindow(QWebEngineProfile::defaultProfile());
        QTRY_COMPARE(plain->size(),
                     WebPopupWindow::goldenSize(
                         QGuiApplication::primaryScreen()->availableGeometry().size()));
        plain->close();

        // A page's request reaches the window (Xvfb has no window manager, so no frame).
        MainWindow *w = browser->createWindow(MainWindow::MultiTab, true);
        loadAndWait(w->currentView(), "/a");
        NorvaTest::runJs(w->currentView()->page(),
                         "window.open('/target', '', 'left=100,top=100,width=500,height=400');");
        QTRY_COMPARE_WITH_TIMEOUT(popups().size(), 1, 20000);
        QPointer<WebPopupWindow> popup = popups().first();
        QTRY_COMPARE_WITH_TIMEOUT(popup->windowTitle(), QString("target"), 20000);
        QCOMPARE(popup->geometry(),
                 QRect(100, 100, 500, 400).marginsRemoved(popup->windowHandle()->frameMargins()));
        // window.close() takes the window with its view and page.
        QPointer<QWebEnginePage> page = popup->view()->page();
        page->runJavaScript("window.close();");
        QTRY_VERIFY_WITH_TIMEOUT(!popup, 20000);
        QVERIFY(!page);
    }
};

NORVA_TEST_MAIN(TestWebView)
#include "tst_webview.moc"
