#include "tests/support/testhttpserver.h"
#include "tests/support/testsupport.h"
#include "web/tabwidget.h"
#include "web/webview.h"

#include <QMenu>
#include <QPointer>
#include <QTabBar>
#include <QWebEngineHistory>
#include <QWebEngineProfile>

class TestTabWidget : public QObject
{
    Q_OBJECT

    TestHttpServer server;

    void loadAndWait(WebView *view, const char *path)
    {
        QVERIFY(NorvaTest::load(view, server.url(path)));
    }

    static void triggerOnTab(TabWidget &tabs, int index, const QString &text)
    {
        QMenu *menu = tabs.createContextMenu(tabs.tabBar()->tabRect(index).center());
        NorvaTest::entry(menu, text)->trigger();
        delete menu;
    }

private slots:
    void initTestCase()
    {
        qRegisterMetaType<QWebEnginePage::WebAction>();
        QVERIFY(server.listen());
        for (const QString name : {"a", "b", "c"})
            server.setHtml("/" + name,
                           QString("<html><head><title>%1</title></head></html>").arg(name));
    }

    // Only the current tab publishes; a change of tab (also to -1) republishes its state.
    void changeOfTabRepublishesState()
    {
        TabWidget tabs(QWebEngineProfile::defaultProfile());
        WebView *first = tabs.createTab();
        loadAndWait(first, "/a");
        loadAndWait(first, "/b");
        QSignalSpy titles(&tabs, &TabWidget::titleChanged);
        QSignalSpy urls(&tabs, &TabWidget::urlChanged);
        QSignalSpy icons(&tabs, &TabWidget::favIconChanged);
        QSignalSpy actions(&tabs, &TabWidget::webActionEnabledChanged);
        WebView *second = tabs.createBackgroundTab();
        loadAndWait(second, "/c");
        QTRY_COMPARE(tabs.tabText(1), QString("c"));
        QVERIFY(titles.isEmpty());
        actions.clear();
        icons.clear();

        tabs.setCurrentIndex(1);
        QCOMPARE(titles.count(), 1);
        QCOMPARE(titles.last().at(0).toString(), QString("c"));
        QCOMPARE(urls.last().at(0).toUrl(), server.url("/c"));
        QCOMPARE(icons.count(), 1);
        QVERIFY(!icons.last().at(0).value<QIcon>().isNull());
        QCOMPARE(actions.count(), 4);
        QCOMPARE(actions.at(0).at(1).toBool(), false); // the new tab cannot go back
        QCOMPARE(actions.at(3).at(1).toBool(), true);
        actions.clear();
        tabs.setCurrentIndex(0);
        QCOMPARE(actions.at(0).at(1).toBool(), true);

        // No tab left: Back, Forward, Stop off, Reload on.
        actions.clear();
        tabs.removeTab(1);
        tabs.removeTab(0);
        QCOMPARE(tabs.currentIndex(), -1);
        QCOMPARE(titles.last().at(0).toString(), QString());
        QCOMPARE(urls.last().at(0).toUrl(), QUrl());
        QVERIFY(icons.last().at(0).value<QIcon>().isNull());
        QVERIFY(actions.count() >= 4);
        using P = QWebEnginePage;
        const P::WebAction order[] = {P::Back, P::Forward, P::Stop, P::Reload};
        for (int i = 0; i < 4; ++i) {
            const QList<QVariant> &signal = actions.at(actions.count() - 4 + i);
            QCOMPARE(signal.at(0).value<QWebEnginePage::WebAction>(), order[i]);
            QCOMPARE(signal.at(1).toBool(), i == 3);
        }
    }

    void closeRules()
    {
        // Close others walks down from the end; the last tab then stays, whoever asks.
        QList<int> closed; // outlives the tabs: the last view reports its end too
        TabWidget tabs(QWebEngineProfile::defaultProfile());
        for (int i = 0; i < 4; ++i)
            connect(tabs.createTab(), &QObject::destroyed, this, [&closed, i] { closed << i; });
        WebView *only = tabs.webView(2);
        tabs.setCurrentIndex(0);
        triggerOnTab(tabs, 2, "关闭其他标签");
        QTRY_COMPARE(closed, QList<int>({3, 1, 0}));
        tabs.closeTab(0);
        QMetaObject::invokeMethod(&tabs, "closeOtherTabs", Q_ARG(int, 0));
        emit only->page()->windowCloseRequested();
        QCOMPARE(tabs.count(), 1);
        QCOMPARE(tabs.currentWebView(), only);

        // With two tabs the page may close its own tab; the view goes later.
        QPointer<WebView> second = tabs.createTab();
        emit second->page()->windowCloseRequested();
        QCOMPARE(tabs.count(), 1);
        QTRY_VERIFY(!second);

        // Closing the current tab selects the one shown before and gives it the focus.
        tabs.createTab();
        tabs.createTab();
        tabs.show();
        tabs.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&tabs));
        tabs.setCurrentIndex(0);
        tabs.setCurrentIndex(2);
        tabs.currentWebView()->setFocus(Qt::OtherFocusReason);
        QTRY_VERIFY(tabs.currentWebView()->hasFocus());
        tabs.closeTab(2);
        QCOMPARE(tabs.currentWebView(), only);
        QTRY_VERIFY(only->hasFocus());
    }

    // The clone is a fresh load of the shown address; moving through the tabs wraps around.
    void cloneAndCycle()
    {
        TabWidget tabs(QWebEngineProfile::defaultProfile());
        loadAndWait(tabs.createTab(), "/a");
        tabs.createBackgroundTab()->setUrl(server.url("/b"));
        triggerOnTab(tabs, 1, "复制标签");
        QCOMPARE(tabs.count(), 3);
        QCOMPARE(tabs.currentIndex(), 2);
        QTRY_COMPARE_WITH_TIMEOUT(tabs.currentWebView()->url(), server.url("/b"), 20000);
        QVERIFY(!tabs.currentWebView()->history()->canGoBack());
        tabs.nextTab();
        QCOMPARE(tabs.currentIndex(), 0);
        tabs.previousTab();
        QCOMPARE(tabs.currentIndex(), 2);
    }
};

NORVA_TEST_MAIN(TestTabWidget)
#include "tst_tabwidget.moc"
