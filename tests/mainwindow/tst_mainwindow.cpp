#include "app/browser.h"
#include "bridge/jschannel.h"
#include "mainwindow/mainwindow.h"
#include "mainwindow/windowgeometry.h"
#include "store/appsettings.h"
#include "store/serviceurl.h"
#include "tests/support/testhttpserver.h"
#include "tests/support/testsupport.h"
#include "web/tabwidget.h"
#include "web/webview.h"

#include <QMenuBar>
#include <QScreen>
#include <QStyle>
#include <QWebChannel>

class TestMainWindow : public QObject
{
    Q_OBJECT

    TestHttpServer server;
    Browser *browser = nullptr;

private slots:
    void initTestCase()
    {
        QVERIFY(server.listen());
        server.setHtml(
            QStringLiteral("/"),
            QStringLiteral("<html><head><title>Main</title></head><body>hi</body></html>"));
        qputenv("NORVA_SERVICE_URL", server.url().toString().toUtf8());
        browser = new Browser;
    }

    void cleanupTestCase() { delete browser; }

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
    }

    void singleViewMode()
    {
        QScopedPointer<MainWindow> w(browser->createWindow(MainWindow::SingleView, false));
        QCOMPARE(w->windowTitle(), QStringLiteral("青隼"));
        QVERIFY(w->webView());
        QVERIFY(!w->tabWidget());
        QCOMPARE(w->currentView(), w->webView());
        QVERIFY(w->jsChannel());
        QVERIFY(w->webChannel());
        QCOMPARE(w->webChannel()->registeredObjects().value(QStringLiteral("webobj")),
                 static_cast<QObject *>(w->jsChannel()));
        QCOMPARE(w->webView()->page()->webChannel(), w->webChannel());
        QCOMPARE(w->menuBar()->actions().size(), 4);
        // The test display always runs a tray host; without one the tray features go untested.
        QVERIFY2(QSystemTrayIcon::isSystemTrayAvailable(), "no system tray on the test display");
        QVERIFY(w->trayIcon());
        QVERIFY(!w->testAttribute(Qt::WA_DeleteOnClose));
    }

    // The icon goes up off the start-up path, but always before anyone needs it.
    void trayIconComesUpWhenNeeded()
    {
        for (int need = 0; need < 3; ++need) {
            QScopedPointer<MainWindow> w(browser->createWindow(MainWindow::SingleView, need == 2));
            QVERIFY(!w->trayIcon()->isVisible());
            if (need == 0) {
                w->loadUrl(QUrl(QStringLiteral("about:blank")));
                QTRY_VERIFY(w->trayIcon()->isVisible());
            } else if (need == 1) {
                w->showTrayMessage(QStringLiteral("t"), QStringLiteral("m"), 1000);
                QVERIFY(w->trayIcon()->isVisible());
            } else {
                QTRY_VERIFY(w->isVisible());
                QVERIFY(!w->trayIcon()->isVisible());
                w->hide(); // as closing to the tray and Ctrl+H do
                QVERIFY(w->trayIcon()->isVisible());
            }
        }
    }

    void tabModes_data()
    {
        QTest::addColumn<int>("mode");
        QTest::newRow("multi-tab") << int(MainWindow::MultiTab);
        QTest::newRow("browser") << int(MainWindow::BrowserMode);
    }

    void tabModes()
    {
        QFETCH(int, mode);
        QScopedPointer<MainWindow> w(browser->createWindow(mode, false));
        QVERIFY(!w->webView());
        QVERIFY(w->tabWidget());
        QCOMPARE(w->tabWidget()->count(), 1);
        QCOMPARE(w->currentView(), w->tabWidget()->currentWebView());
        QCOMPARE(w->currentView()->page()->webChannel(), w->webChannel());
        QCOMPARE(w->addressField() != nullptr, mode == MainWindow::BrowserMode);
    }

    void devToolsMode()
    {
        MainWindow *w = browser->createDevToolsWindow();
        QVERIFY(w->webView());
        QVERIFY(!w->tabWidget());
        QVERIFY(!w->jsChannel());
        QVERIFY(!w->webChannel());
        QVERIFY(!w->trayIcon());
        QCOMPARE(w->menuBar()->actions().size(), 4);
        QVERIFY(w->testAttribute(Qt::WA_DeleteOnClose));
        QPointer<MainWindow> guard(w);
        w->close();
        QTRY_VERIFY(!guard);
    }

    void hiddenMenuBarSetting()
    {
        appSettings->isShowMenuBar = false;
        QScopedPointer<MainWindow> w(browser->createWindow(MainWindow::SingleView, false));
        appSettings->isShowMenuBar = true;
        w->show();
        QVERIFY(w->isMenuBarHidden());
        QCOMPARE(w->menuBar()->actions().size(), 4);
        w->showMenuBar();
        QVERIFY(!w->isMenuBarHidden());
        QCOMPARE(appSettings->isShowMenuBar, true);
    }

    void windowGeometryOnScreen()
    {
        QScopedPointer<MainWindow> w(browser->createWindow(MainWindow::SingleView, false));
        const QSize available = QGuiApplication::primaryScreen()->availableGeometry().size();
        const int t = w->style()->pixelMetric(QStyle::PM_TitleBarHeight);
        const QRect expected = mainWindowGeometry(available, t, 0);
        QCOMPARE(w->size(), expected.size());
        QCOMPARE(w->pos(), expected.topLeft());
    }

    void titleRule()
    {
        QScopedPointer<MainWindow> w(browser->createWindow(MainWindow::SingleView, false));
        w->handleWebViewTitleChanged(QStringLiteral("Tasks"));
        QCOMPARE(w->windowTitle(), QStringLiteral("Tasks"));
        w->handleWebViewTitleChanged(QString());
        QCOMPARE(w->windowTitle(), QStringLiteral("Tasks"));
    }

    void loadsTheServiceMainPage()
    {
        QCOMPARE(appSettings->defaultMainPage, server.url().toString());
        QScopedPointer<MainWindow> w(browser->createWindow(MainWindow::SingleView, false));
        w->loadUrl(QUrl(appSettings->defaultMainPage));
        w->show();
        QTRY_COMPARE_WITH_TIMEOUT(w->windowTitle(), QStringLiteral("Main"), 20000);
        QVERIFY(server.requests().contains(QStringLiteral("/")));
        QCOMPARE(w->currentView()->url(), server.url());
    }
};

NORVA_TEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
