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
#include <QPointer>
#include <QScreen>
#include <QTcpServer>
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

// Where a new-window request ended up.
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
        QSignalSpy finished(view, &QWebEngineView::loadFinished);
        view->setUrl(server.url(path));
        QVERIFY(finished.wait(20000));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(server.listen());
        for (const char *name : {"a", "b", "target"})
            server.setHtml(QStringLiteral("/%1").arg(name),
                           QStringLiteral("<html><head><title>%1</title></head></html>").arg(name));
        // One big link filling the top left corner, with or without a target.
        const QString link = QStringLiteral("<html><body style='margin:0'><a href='/target' %1 "
                                            "style='display:block;width:300px;height:100px'>"
                                            "target</a></body></html>");
        server.setHtml(QStringLiteral("/link"), link.arg(QString()));
        server.setHtml(QStringLiteral("/blank"), link.arg(QStringLiteral("target='_blank'")));
        browser = new Browser;
    }

    void cleanupTestCase() { delete browser; }

    void cleanup()
    {
        for (WebPopupWindow *popup : popups())
            popup->close();
        qDeleteAll(browser->windows());
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
        loadAndWait(&view, QStringLiteral("/a"));
        QCOMPARE(view.loadProgress(), 100);
        QVERIFY(icons.count() >= 2);
        QVERIFY(sameIcon(icons.first().at(0).value<QIcon>(), loading));
        QVERIFY(sameIcon(icons.last().at(0).value<QIcon>(), error));

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

    void autoZoom()
    {
        QCOMPARE(WebView::autoZoomFactor(1.0, 1.4), 1.4); // the user's zoom stays
        QCOMPARE(WebView::autoZoomFactor(1.25, 1.4), 0.75);
        QCOMPARE(WebView::autoZoomFactor(2.0, 1.4), 0.75);
        QCOMPARE(WebView::autoZoomFactor(2.5, 1.4), 0.5);
    }

    void createWindow_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("tabSetting"); // isMultiTab in multi-tab, isBowserMultiTab else
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("outcome");
        using P = QWebEnginePage;
        const auto row = [](const char *name, int mode, bool on, P::WebWindowType type, Outcome o) {
            QTest::newRow(name) << mode << on << int(type) << int(o);
        };
        const int single = MainWindow::SingleView, multi = MainWindow::MultiTab,
                  browser = MainWindow::BrowserMode;
        row("single: window", single, true, P::WebBrowserWindow, OwnView);
        row("single: tab", single, true, P::WebBrowserTab, Popup);
        row("single: background", single, true, P::WebBrowserBackgroundTab, Nothing);
        row("single: dialog", single, true, P::WebDialog, Popup);
        row("multi: tab, off", multi, false, P::WebBrowserTab, Popup);
        row("multi: tab, on", multi, true, P::WebBrowserTab, CurrentTab);
        row("multi: background", multi, false, P::WebBrowserBackgroundTab, BackgroundTab);
        row("multi: window", multi, false, P::WebBrowserWindow, NewWindow);
        row("multi: dialog", multi, true, P::WebDialog, Popup);
        row("browser: tab, off", browser, false, P::WebBrowserTab, Popup);
        row("browser: tab, on", browser, true, P::WebBrowserTab, CurrentTab);
        row("browser: background", browser, false, P::WebBrowserBackgroundTab, BackgroundTab);
        row("browser: window", browser, true, P::WebBrowserWindow, NewWindow);
        row("browser: dialog", browser, false, P::WebDialog, Popup);
    }

    void createWindow()
    {
        QFETCH(int, mode);
        QFETCH(bool, tabSetting);
        QFETCH(int, type);
        QFETCH(int, outcome);
        (mode == MainWindow::MultiTab ? appSettings->isMultiTab : appSettings->isBowserMultiTab) =
            tabSetting;
        MainWindow *w = browser->createWindow(mode, true);
        WebView *view = w->currentView();
        TabWidget *tabs = w->tabWidget();
        const int windows = browser->windows().size();

        const auto windowType = QWebEnginePage::WebWindowType(type);
        QWebEngineView *made = EngineHook::open(view, windowType);
        int got = Nothing;
        if (made == view)
            got = OwnView;
        else if (tabs && tabs->indexOf(made) >= 0)
            got = tabs->currentWebView() == made ? CurrentTab : BackgroundTab;
        else if (made && qobject_cast<WebPopupWindow *>(made->window()))
            got = Popup;
        else if (made && made == browser->windows().last()->currentView())
            got = NewWindow;
        QCOMPARE(got, outcome);
        QCOMPARE(browser->windows().size(), windows + (outcome == NewWindow ? 1 : 0));
        QCOMPARE(popups().size(), outcome == Popup ? 1 : 0);
        if (tabs)
            QCOMPARE(tabs->count(), outcome == CurrentTab || outcome == BackgroundTab ? 2 : 1);
        if (outcome == BackgroundTab)
            QCOMPARE(tabs->currentIndex(), 0);
        if (outcome == NewWindow)
            QCOMPARE(browser->windows().last()->displayMode(), int(MainWindow::SingleView));
        if (outcome == Popup || outcome == NewWindow) {
            QVERIFY(made->window()->isVisible());
            QVERIFY(!made->window()->parentWidget());
        }
        // A popup's own page gets no new windows at all.
        if (outcome == Popup) {
            QCOMPARE(EngineHook::open(static_cast<WebView *>(made), windowType), nullptr);
            QCOMPARE(popups().size(), 1);
        }
    }

    void linkClicks_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("page");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<int>("outcome");
        QTest::newRow("multi-tab, target=_blank")
            << int(MainWindow::MultiTab) << "/blank" << int(Qt::NoModifier) << int(CurrentTab);
        QTest::newRow("single view, target=_blank")
            << int(MainWindow::SingleView) << "/blank" << int(Qt::NoModifier) << int(Popup);
        QTest::newRow("single view, shift-click")
            << int(MainWindow::SingleView) << "/link" << int(Qt::ShiftModifier) << int(OwnView);
    }

    // Real clicks on a link in a shown window.
    void linkClicks()
    {
        QFETCH(int, mode);
        QFETCH(QString, page);
        QFETCH(int, modifiers);
        QFETCH(int, outcome);
        appSettings->isMultiTab = true;
        MainWindow *w = browser->createWindow(mode, true);
        WebView *view = w->currentView();
        loadAndWait(view, page);
        QVERIFY(QTest::qWaitForWindowExposed(w));
        QWidget *content = view->focusProxy();
        QVERIFY(content);
        QTRY_VERIFY(content->isVisible());
        QTest::mouseClick(content, Qt::LeftButton, Qt::KeyboardModifiers(modifiers),
                          QPoint(20, 20));

        // Wait for the target to show somewhere, then look where.
        const QUrl target = server.url(QStringLiteral("/target"));
        QTRY_VERIFY_WITH_TIMEOUT(
            view->url() == target || w->currentView()->url() == target ||
                (!popups().isEmpty() && popups().first()->view()->url() == target),
            20000);
        const int got = !popups().isEmpty()        ? Popup
                        : w->currentView() != view ? CurrentTab
                                                   : OwnView;
        QCOMPARE(got, outcome);
        QCOMPARE(view->url() == target, outcome == OwnView);
        QCOMPARE(popups().size(), outcome == Popup ? 1 : 0);
        QCOMPARE(browser->windows().size(), 1);
    }

    void contextMenuEntries()
    {
        MainWindow *w = browser->createWindow(MainWindow::MultiTab, true);
        WebView *view = w->currentView();
        std::unique_ptr<QMenu> menu(view->createContextMenu());
        QCOMPARE(NorvaTest::entries(menu.get()),
                 QStringList(
                     {"返回", "前进", "重新加载", "|", "复制页面链接", "隐藏菜单栏", "|", "设置"}));
        QVERIFY(!entry(menu.get(), "返回")->isEnabled());
        QVERIFY(!entry(menu.get(), "前进")->isEnabled());
        QVERIFY(entry(menu.get(), "重新加载")->isEnabled());

        // After two loads the history can go back; after going back, forward.
        loadAndWait(view, QStringLiteral("/a"));
        loadAndWait(view, QStringLiteral("/b"));
        menu.reset(view->createContextMenu());
        QVERIFY(entry(menu.get(), "返回")->isEnabled());
        QVERIFY(!entry(menu.get(), "前进")->isEnabled());
        QSignalSpy finished(view, &QWebEngineView::loadFinished);
        entry(menu.get(), "返回")->trigger();
        QVERIFY(finished.wait(20000));
        menu.reset(view->createContextMenu());
        QVERIFY(entry(menu.get(), "前进")->isEnabled());
        entry(menu.get(), "复制页面链接")->trigger();
        QCOMPARE(QGuiApplication::clipboard()->text(), server.url(QStringLiteral("/a")).toString());
    }

    void popupGeometry()
    {
        QCOMPARE(WebPopupWindow::goldenSize(QSize(1920, 1040)), QSize(1187, 643));
        // 250 * 0.618 is exactly 154.5: the half goes up.
        QCOMPARE(WebPopupWindow::goldenSize(QSize(250, 750)), QSize(155, 464));
        // Without a geometry request a popup opens at its size hint.
        QPointer<WebPopupWindow> plain = new WebPopupWindow(QWebEngineProfile::defaultProfile());
        const QSize expected = WebPopupWindow::goldenSize(
            QGuiApplication::primaryScreen()->availableGeometry().size());
        QCOMPARE(plain->sizeHint(), expected);
        QTRY_COMPARE(plain->size(), expected);
        plain->close();
        QTRY_VERIFY(!plain);

        // The window features of a page's request describe the outer frame.
        MainWindow *w = browser->createWindow(MainWindow::MultiTab, true);
        loadAndWait(w->currentView(), QStringLiteral("/a"));
        NorvaTest::runJs(w->currentView()->page(),
                         QStringLiteral("window.open('/target', '', "
                                        "'left=100,top=100,width=500,height=400');"));
        QTRY_COMPARE_WITH_TIMEOUT(popups().size(), 1, 20000);
        QPointer<WebPopupWindow> popup = popups().first();
        QTRY_COMPARE_WITH_TIMEOUT(popup->windowTitle(), QStringLiteral("target"), 20000);
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
                                << "渲染进程正常退出";
        QTest::newRow("abnormal") << int(QWebEnginePage::AbnormalTerminationStatus)
                                  << "渲染进程异常退出";
        QTest::newRow("crashed") << int(QWebEnginePage::CrashedTerminationStatus) << "渲染进程崩溃";
        QTest::newRow("killed") << int(QWebEnginePage::KilledTerminationStatus)
                                << "渲染进程已被终止";
        QTest::newRow("unknown") << 77 << QString();
    }

    void renderProcessPrompt()
    {
        QFETCH(int, status);
        QFETCH(QString, title);
        WebView view;
        view.setPage(new WebPage(QWebEngineProfile::defaultProfile(), &view));
        loadAndWait(&view, QStringLiteral("/a"));
        QSignalSpy started(&view, &QWebEngineView::loadStarted);
        const auto terminated = QWebEnginePage::RenderProcessTerminationStatus(status);

        NorvaTest::BoxSeen seen;
        NorvaTest::answerNextBox(QStringLiteral("否"), &seen);
        view.handleRenderProcessTerminated(terminated, 0);
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
        view.handleRenderProcessTerminated(terminated, 139);
        QCOMPARE(seen.text,
                 QStringLiteral("渲染进程已退出，状态代码为： 139\n是否需要重新加载页面？"));
        // The reload waits for the next turn of the event loop.
        QCOMPARE(started.count(), 0);
        QVERIFY(started.wait(20000));
    }
};

NORVA_TEST_MAIN(TestWebView)
#include "tst_webview.moc"
