#include "app/appsettings.h"
#include "app/browser.h"
#include "mainwindow/mainwindow.h"
#include "tests/support/testhttpserver.h"
#include "tests/support/testsupport.h"
#include "web/tabwidget.h"
#include "web/webview.h"

#include <QMenu>
#include <QPointer>
#include <QTabBar>
#include <QWebEngineHistory>
#include <QWebEngineProfile>

#include <memory>

namespace {

using NorvaTest::entries;
using NorvaTest::entry;

const QString titledPage =
    QStringLiteral("<html><head><title>%1</title></head><body>%1</body></html>");

} // namespace

class TestTabWidget : public QObject
{
    Q_OBJECT

    TestHttpServer server;

    std::unique_ptr<TabWidget> makeTabs(int count)
    {
        auto tabs = std::make_unique<TabWidget>(QWebEngineProfile::defaultProfile());
        tabs->resize(800, 600);
        for (int i = 0; i < count; ++i)
            tabs->createTab();
        return tabs;
    }

    static void loadAndWait(WebView *view, const QUrl &url)
    {
        QSignalSpy finished(view, &QWebEngineView::loadFinished);
        view->setUrl(url);
        QVERIFY(finished.wait(20000));
    }

    // Page loads, without the engine's own icon look-ups.
    QStringList pagesSince(int first) const
    {
        QStringList pages = server.requests().mid(first);
        pages.removeAll(QStringLiteral("/favicon.ico"));
        return pages;
    }

    static QPoint tabCenter(TabWidget *tabs, int index)
    {
        return tabs->tabBar()->tabRect(index).center();
    }

private slots:
    void initTestCase()
    {
        qRegisterMetaType<QWebEnginePage::WebAction>();
        QVERIFY(server.listen());
        for (const char *name : {"a", "b", "c", "start"})
            server.setHtml(QStringLiteral("/%1").arg(name), titledPage.arg(name));
    }

    void newTabs()
    {
        auto tabs = makeTabs(0);
        QSignalSpy current(tabs.get(), &QTabWidget::currentChanged);
        WebView *first = tabs->createTab();
        QCOMPARE(tabs->count(), 1);
        QCOMPARE(tabs->currentWebView(), first);
        QCOMPARE(tabs->tabText(0), QStringLiteral("青隼"));
        QVERIFY(!tabs->tabIcon(0).isNull());
        QCOMPARE(first->page()->profile(), QWebEngineProfile::defaultProfile());

        WebView *second = tabs->createTab();
        QCOMPARE(tabs->currentWebView(), second);
        tabs->show();
        QVERIFY(QTest::qWaitForWindowExposed(tabs.get()));

        // A background tab is sized like the shown one and leaves the current tab alone.
        WebView *background = tabs->createBackgroundTab();
        QCOMPARE(tabs->count(), 3);
        QCOMPARE(tabs->currentWebView(), second);
        QCOMPARE(background->size(), second->size());
        QCOMPARE(tabs->webView(2), background);
        QCOMPARE(tabs->webView(3), nullptr);
        QCOMPARE(tabs->webView(-1), nullptr);
    }

    void tabsFollowTheirPages()
    {
        auto tabs = makeTabs(1);
        WebView *front = tabs->currentWebView();
        WebView *back = tabs->createBackgroundTab();
        QSignalSpy titles(tabs.get(), &TabWidget::titleChanged);
        QSignalSpy urls(tabs.get(), &TabWidget::urlChanged);
        QSignalSpy progress(tabs.get(), &TabWidget::loadProgress);
        QSignalSpy icons(tabs.get(), &TabWidget::favIconChanged);

        // The background tab updates its own text, tooltip and data but publishes nothing.
        loadAndWait(back, server.url(QStringLiteral("/b")));
        QTRY_COMPARE(tabs->tabText(1), QStringLiteral("b"));
        QCOMPARE(tabs->tabToolTip(1), QStringLiteral("b"));
        QCOMPARE(tabs->tabBar()->tabData(1).toUrl(), server.url(QStringLiteral("/b")));
        QCOMPARE(tabs->tabText(0), QStringLiteral("青隼"));
        QVERIFY(titles.isEmpty());
        QVERIFY(urls.isEmpty());
        QVERIFY(progress.isEmpty());
        QVERIFY(icons.isEmpty());

        loadAndWait(front, server.url(QStringLiteral("/a")));
        QTRY_COMPARE(tabs->tabText(0), QStringLiteral("a"));
        QCOMPARE(titles.last().at(0).toString(), QStringLiteral("a"));
        QCOMPARE(urls.last().at(0).toUrl(), server.url(QStringLiteral("/a")));
        QVERIFY(!progress.isEmpty());
        QCOMPARE(progress.last().at(0).toInt(), 100);
        QVERIFY(!icons.isEmpty());

        // Moving the tab keeps the handlers on the right tab.
        tabs->tabBar()->moveTab(1, 0);
        QCOMPARE(tabs->webView(0), back);
        loadAndWait(back, server.url(QStringLiteral("/c")));
        QTRY_COMPARE(tabs->tabText(0), QStringLiteral("c"));
        QCOMPARE(tabs->tabText(1), QStringLiteral("a"));
    }

    void changeOfTabRepublishesState()
    {
        auto tabs = makeTabs(1);
        WebView *first = tabs->currentWebView();
        loadAndWait(first, server.url(QStringLiteral("/a")));
        loadAndWait(first, server.url(QStringLiteral("/b")));
        QVERIFY(first->isWebActionEnabled(QWebEnginePage::Back));
        WebView *second = tabs->createBackgroundTab();
        loadAndWait(second, server.url(QStringLiteral("/c")));

        QSignalSpy titles(tabs.get(), &TabWidget::titleChanged);
        QSignalSpy urls(tabs.get(), &TabWidget::urlChanged);
        QSignalSpy icons(tabs.get(), &TabWidget::favIconChanged);
        QSignalSpy actions(tabs.get(), &TabWidget::webActionEnabledChanged);
        QSignalSpy progress(tabs.get(), &TabWidget::loadProgress);

        tabs->setCurrentIndex(1);
        QCOMPARE(titles.count(), 1);
        QCOMPARE(titles.last().at(0).toString(), QStringLiteral("c"));
        QCOMPARE(urls.last().at(0).toUrl(), server.url(QStringLiteral("/c")));
        QCOMPARE(icons.count(), 1);
        QVERIFY(!icons.last().at(0).value<QIcon>().isNull());
        QCOMPARE(actions.count(), 4);
        const QList<QWebEnginePage::WebAction> order = {
            QWebEnginePage::Back, QWebEnginePage::Forward, QWebEnginePage::Stop,
            QWebEnginePage::Reload};
        for (int i = 0; i < 4; ++i)
            QCOMPARE(actions.at(i).at(0).value<QWebEnginePage::WebAction>(), order.at(i));
        QCOMPARE(actions.at(0).at(1).toBool(), false); // the new tab cannot go back
        QCOMPARE(actions.at(3).at(1).toBool(), true);
        QVERIFY(progress.isEmpty());

        actions.clear();
        tabs->setCurrentIndex(0);
        QCOMPARE(actions.at(0).at(1).toBool(), true);

        // No tab left (only reachable from outside the tab widget's own operations).
        titles.clear();
        urls.clear();
        icons.clear();
        actions.clear();
        tabs->removeTab(1);
        tabs->removeTab(0);
        QCOMPARE(tabs->currentIndex(), -1);
        QCOMPARE(titles.last().at(0).toString(), QString());
        QCOMPARE(urls.last().at(0).toUrl(), QUrl());
        QVERIFY(icons.last().at(0).value<QIcon>().isNull());
        QCOMPARE(actions.count() >= 4, true);
        const auto last4 = actions.mid(actions.count() - 4);
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(last4.at(i).at(0).value<QWebEnginePage::WebAction>(), order.at(i));
            QCOMPARE(last4.at(i).at(1).toBool(), order.at(i) == QWebEnginePage::Reload);
        }
        delete first;
        delete second;
    }

    void theLastTabStays()
    {
        auto tabs = makeTabs(1);
        WebView *only = tabs->currentWebView();
        tabs->closeTab(0);
        QCOMPARE(tabs->count(), 1);
        QMetaObject::invokeMethod(tabs.get(), "closeOtherTabs", Q_ARG(int, 0));
        QCOMPARE(tabs->count(), 1);
        emit only->page()->windowCloseRequested();
        QCOMPARE(tabs->count(), 1);
        QCOMPARE(tabs->currentWebView(), only);

        // With two tabs the page may close its own tab; the view goes later.
        WebView *second = tabs->createTab();
        QPointer<WebView> gone(second);
        emit second->page()->windowCloseRequested();
        QCOMPARE(tabs->count(), 1);
        QTRY_VERIFY(!gone);
        tabs->closeTab(5); // out of range: nothing
        QCOMPARE(tabs->count(), 1);
    }

    void closingSelectsThePreviousTabAndMovesTheFocus()
    {
        auto tabs = makeTabs(3);
        tabs->show();
        tabs->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(tabs.get()));
        WebView *first = tabs->webView(0);
        tabs->setCurrentIndex(0);
        tabs->setCurrentIndex(2);
        tabs->currentWebView()->setFocus(Qt::OtherFocusReason);
        QTRY_VERIFY(tabs->currentWebView()->hasFocus());
        tabs->closeTab(2);
        QCOMPARE(tabs->currentWebView(), first);
        QTRY_VERIFY(first->hasFocus());
    }

    void closeOthersWalksDownFromTheEnd()
    {
        QList<int> closed; // outlives the tabs: the last view reports its end too
        auto tabs = makeTabs(4);
        QList<WebView *> views;
        for (int i = 0; i < 4; ++i)
            views << tabs->webView(i);
        for (int i = 0; i < 4; ++i)
            connect(views.at(i), &QObject::destroyed, this, [&closed, i] { closed << i; });
        tabs->setCurrentIndex(0);

        std::unique_ptr<QMenu> menu(tabs->createContextMenu(tabCenter(tabs.get(), 2)));
        entry(menu.get(), "关闭其他标签")->trigger();
        QCOMPARE(tabs->count(), 1);
        QCOMPARE(tabs->currentWebView(), views.at(2));
        QTRY_COMPARE(closed, QList<int>({3, 1, 0}));
    }

    void cloneLoadsTheShownAddress()
    {
        auto tabs = makeTabs(1);
        loadAndWait(tabs->currentWebView(), server.url(QStringLiteral("/a")));
        tabs->createBackgroundTab();
        tabs->webView(1)->setUrl(server.url(QStringLiteral("/b")));

        std::unique_ptr<QMenu> menu(tabs->createContextMenu(tabCenter(tabs.get(), 1)));
        const QUrl shown = tabs->webView(1)->url();
        entry(menu.get(), "复制标签")->trigger();
        QCOMPARE(tabs->count(), 3);
        QCOMPARE(tabs->currentIndex(), 2);
        QTRY_COMPARE_WITH_TIMEOUT(tabs->currentWebView()->url(), shown, 20000);
        // A fresh load: no history carried over.
        QVERIFY(!tabs->currentWebView()->history()->canGoBack());
    }

    void cyclingWraps()
    {
        auto tabs = makeTabs(3);
        tabs->setCurrentIndex(2);
        tabs->nextTab();
        QCOMPARE(tabs->currentIndex(), 0);
        tabs->nextTab();
        QCOMPARE(tabs->currentIndex(), 1);
        tabs->setCurrentIndex(0);
        tabs->previousTab();
        QCOMPARE(tabs->currentIndex(), 2);
        tabs->previousTab();
        QCOMPARE(tabs->currentIndex(), 1);
    }

    void contextMenuEntries()
    {
        auto tabs = makeTabs(2);
        tabs->show();
        QVERIFY(QTest::qWaitForWindowExposed(tabs.get()));

        std::unique_ptr<QMenu> onTab(tabs->createContextMenu(tabCenter(tabs.get(), 1)));
        QVERIFY(!onTab->parent());
        QCOMPARE(entries(onTab.get()),
                 QStringList({"新标签", "复制标签", "|", "关闭标签", "关闭其他标签", "|",
                              "刷新标签", "重新加载所有标签"}));
        QCOMPARE(entry(onTab.get(), "新标签")->shortcut(), QKeySequence(QStringLiteral("Ctrl+T")));
        QCOMPARE(entry(onTab.get(), "关闭标签")->shortcut(),
                 QKeySequence(QStringLiteral("Ctrl+W")));
        QCOMPARE(entry(onTab.get(), "刷新标签")->shortcut(), QKeySequence(QKeySequence::Refresh));
        QVERIFY(entry(onTab.get(), "重新加载所有标签")->shortcut().isEmpty());

        const QPoint empty(tabs->tabBar()->width() - 2, tabs->tabBar()->height() / 2);
        if (tabs->tabBar()->tabAt(empty) == -1) {
            std::unique_ptr<QMenu> offTab(tabs->createContextMenu(empty));
            QCOMPARE(entries(offTab.get()), QStringList({"新标签", "|", "重新加载所有标签"}));
        }
        std::unique_ptr<QMenu> outside(tabs->createContextMenu(QPoint(-50, -50)));
        QCOMPARE(entries(outside.get()), QStringList({"新标签", "|", "重新加载所有标签"}));
    }

    void startTabs()
    {
        auto tabs = makeTabs(1);
        tabs->setStartUrl(server.url(QStringLiteral("/start")));
        QCOMPARE(tabs->startUrl(), server.url(QStringLiteral("/start")));
        QTRY_COMPARE_WITH_TIMEOUT(tabs->tabText(0), QStringLiteral("start"), 20000);

        std::unique_ptr<QMenu> menu(tabs->createContextMenu(QPoint(-50, -50)));
        entry(menu.get(), "新标签")->trigger();
        QCOMPARE(tabs->count(), 2);
        QCOMPARE(tabs->currentIndex(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(tabs->tabText(1), QStringLiteral("start"), 20000);

        // Double-clicking a tab opens nothing; the empty part of the bar opens a start tab.
        tabs->show();
        QVERIFY(QTest::qWaitForWindowExposed(tabs.get()));
        QTest::mouseDClick(tabs->tabBar(), Qt::LeftButton, Qt::NoModifier,
                           tabCenter(tabs.get(), 0));
        QCOMPARE(tabs->count(), 2);
        emit tabs->tabBar()->tabBarDoubleClicked(-1);
        QCOMPARE(tabs->count(), 3);
        QCOMPARE(tabs->currentIndex(), 2);
    }

    void reloading()
    {
        auto tabs = makeTabs(2);
        loadAndWait(tabs->webView(0), server.url(QStringLiteral("/a")));
        loadAndWait(tabs->webView(1), server.url(QStringLiteral("/b")));
        const int before = server.requests().size();

        std::unique_ptr<QMenu> menu(tabs->createContextMenu(tabCenter(tabs.get(), 0)));
        QSignalSpy first(tabs->webView(0), &QWebEngineView::loadFinished);
        entry(menu.get(), "刷新标签")->trigger();
        QVERIFY(first.wait(20000));
        QCOMPARE(pagesSince(before), QStringList({"/a"}));

        QSignalSpy second(tabs->webView(1), &QWebEngineView::loadFinished);
        first.clear();
        entry(menu.get(), "重新加载所有标签")->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(!first.isEmpty() && !second.isEmpty(), 20000);
        QTRY_COMPARE_WITH_TIMEOUT(pagesSince(before).size(), 3, 20000);
        QStringList again = pagesSince(before).mid(1);
        again.sort();
        QCOMPARE(again, QStringList({"/a", "/b"}));
    }

    void closeEntryGoesThroughTheMainWindow()
    {
        Browser browser;
        std::unique_ptr<MainWindow> w(browser.createWindow(MainWindow::MultiTab, true));
        TabWidget *tabs = w->tabWidget();
        QVERIFY(tabs);
        tabs->createTab();
        QCOMPARE(tabs->count(), 2);
        std::unique_ptr<QMenu> menu(tabs->createContextMenu(tabCenter(tabs, 1)));
        entry(menu.get(), "关闭标签")->trigger();
        QCOMPARE(tabs->count(), 1);
    }
};

NORVA_TEST_MAIN(TestTabWidget)
#include "tst_tabwidget.moc"
