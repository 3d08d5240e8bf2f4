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

using NorvaTest::entry;

class TestTabWidget : public QObject
{
    Q_OBJECT

    TestHttpServer server;

    static std::unique_ptr<TabWidget> makeTabs(int count)
    {
        auto tabs = std::make_unique<TabWidget>(QWebEngineProfile::defaultProfile());
        tabs->resize(800, 600);
        for (int i = 0; i < count; ++i)
            tabs->createTab();
        return tabs;
    }

    void loadAndWait(WebView *view, const char *path)
    {
        QSignalSpy finished(view, &QWebEngineView::loadFinished);
        view->setUrl(server.url(QString::fromLatin1(path)));
        QVERIFY(finished.wait(20000));
    }

    static std::unique_ptr<QMenu> menuOnTab(TabWidget *tabs, int index)
    {
        return std::unique_ptr<QMenu>(
            tabs->createContextMenu(tabs->tabBar()->tabRect(index).center()));
    }

private slots:
    void initTestCase()
    {
        qRegisterMetaType<QWebEnginePage::WebAction>();
        QVERIFY(server.listen());
        for (const char *name : {"a", "b", "c"})
            server.setHtml(QStringLiteral("/%1").arg(name),
                           QStringLiteral("<html><head><title>%1</title></head></html>").arg(name));
    }

    // Only the current tab publishes; a change of tab republishes its state, and so does
    // losing the last tab (index -1).
    void changeOfTabRepublishesState()
    {
        auto tabs = makeTabs(1);
        WebView *first = tabs->currentWebView();
        loadAndWait(first, "/a");
        loadAndWait(first, "/b");
        QVERIFY(first->isWebActionEnabled(QWebEnginePage::Back));

        QSignalSpy titles(tabs.get(), &TabWidget::titleChanged);
        QSignalSpy urls(tabs.get(), &TabWidget::urlChanged);
        QSignalSpy icons(tabs.get(), &TabWidget::favIconChanged);
        QSignalSpy actions(tabs.get(), &TabWidget::webActionEnabledChanged);
        QSignalSpy progress(tabs.get(), &TabWidget::loadProgress);
        WebView *second = tabs->createBackgroundTab();
        loadAndWait(second, "/c");
        QTRY_COMPARE(tabs->tabText(1), QStringLiteral("c"));
        QVERIFY(titles.isEmpty());
        QVERIFY(progress.isEmpty());
        actions.clear();
        icons.clear();

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
        actions.clear();
        tabs->removeTab(1);
        tabs->removeTab(0);
        QCOMPARE(tabs->currentIndex(), -1);
        QCOMPARE(titles.last().at(0).toString(), QString());
        QCOMPARE(urls.last().at(0).toUrl(), QUrl());
        QVERIFY(icons.last().at(0).value<QIcon>().isNull());
        QVERIFY(actions.count() >= 4);
        const auto last4 = actions.mid(actions.count() - 4);
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(last4.at(i).at(0).value<QWebEnginePage::WebAction>(), order.at(i));
            QCOMPARE(last4.at(i).at(1).toBool(), order.at(i) == QWebEnginePage::Reload);
        }
        delete first;
        delete second;
    }

    void closeRules()
    {
        // The last tab stays, whoever asks.
        auto tabs = makeTabs(1);
        WebView *only = tabs->currentWebView();
        tabs->closeTab(0);
        QMetaObject::invokeMethod(tabs.get(), "closeOtherTabs", Q_ARG(int, 0));
        emit only->page()->windowCloseRequested();
        QCOMPARE(tabs->count(), 1);
        QCOMPARE(tabs->currentWebView(), only);

        // With two tabs the page may close its own tab; the view goes later.
        QPointer<WebView> second = tabs->createTab();
        emit second->page()->windowCloseRequested();
        QCOMPARE(tabs->count(), 1);
        QTRY_VERIFY(!second);
        tabs->closeTab(5); // out of range: nothing
        QCOMPARE(tabs->count(), 1);

        // Closing the current tab selects the one shown before and gives it the focus.
        tabs->createTab();
        tabs->createTab();
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
        for (int i = 0; i < 4; ++i) {
            views << tabs->webView(i);
            connect(views.at(i), &QObject::destroyed, this, [&closed, i] { closed << i; });
        }
        tabs->setCurrentIndex(0);
        entry(menuOnTab(tabs.get(), 2).get(), "关闭其他标签")->trigger();
        QCOMPARE(tabs->count(), 1);
        QCOMPARE(tabs->currentWebView(), views.at(2));
        QTRY_COMPARE(closed, QList<int>({3, 1, 0}));
    }

    // The clone is a fresh load of the shown address; moving through the tabs wraps around.
    void cloneAndCycle()
    {
        auto tabs = makeTabs(1);
        loadAndWait(tabs->currentWebView(), "/a");
        tabs->createBackgroundTab()->setUrl(server.url(QStringLiteral("/b")));
        const QUrl shown = tabs->webView(1)->url();
        entry(menuOnTab(tabs.get(), 1).get(), "复制标签")->trigger();
        QCOMPARE(tabs->count(), 3);
        QCOMPARE(tabs->currentIndex(), 2);
        QTRY_COMPARE_WITH_TIMEOUT(tabs->currentWebView()->url(), shown, 20000);
        QVERIFY(!tabs->currentWebView()->history()->canGoBack());

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
};

NORVA_TEST_MAIN(TestTabWidget)
#include "tst_tabwidget.moc"
