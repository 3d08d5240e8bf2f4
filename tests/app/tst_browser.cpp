#include "app/browser.h"
#include "downloads/downloadmanagerwidget.h"
#include "mainwindow/mainwindow.h"
#include "store/appsettings.h"
#include "tests/support/testsupport.h"

#include <QWebEngineProfile>

class TestBrowser : public QObject
{
    Q_OBJECT
private slots:
    void settingsRecordLivesWithBrowser()
    {
        QVERIFY(!appSettings);
        {
            Browser browser;
            QVERIFY(appSettings);
            QVERIFY(browser.dataBase());
            QVERIFY(browser.notifyManager());
            QCOMPARE(browser.checkUpdateInterval(), 86400);
            QVERIFY(browser.checkTimerId() > 0);
        }
        QVERIFY(!appSettings);
    }

    void loginStoreDirectory()
    {
        QCOMPARE(Browser::loginStoreDirectory(QStringLiteral("/p/Default")),
                 QStringLiteral("/p/Default/databases/"));
        QCOMPARE(Browser::loginStoreDirectory(QStringLiteral("/p/Default/")),
                 QStringLiteral("/p/Default/databases/"));
        // The real profile path stays inside the test's own home.
        QVERIFY(QWebEngineProfile::defaultProfile()->persistentStoragePath().startsWith(
            NorvaTest::homeDir()));
    }

    void badgeLabel()
    {
        QCOMPARE(Browser::badgeLabel(-3), QString());
        QCOMPARE(Browser::badgeLabel(0), QString());
        QCOMPARE(Browser::badgeLabel(1), QStringLiteral("1"));
        QCOMPARE(Browser::badgeLabel(99), QStringLiteral("99"));
        QCOMPARE(Browser::badgeLabel(100), QStringLiteral("..."));
    }

    void intervalRearm()
    {
        Browser browser;
        const int daily = browser.checkTimerId();
        browser.setCheckUpdateInterval(86400);
        QCOMPARE(browser.checkTimerId(), daily); // same period: the running timer stays
        browser.setCheckUpdateInterval(60);
        QCOMPARE(browser.checkUpdateInterval(), 60);
        const int minute = browser.checkTimerId();
        QVERIFY(minute > 0);
        browser.setCheckUpdateInterval(60);
        QCOMPARE(browser.checkTimerId(), minute);
        // A period beyond a Qt timer's range is capped instead of wrapping into nothing.
        browser.setCheckUpdateInterval(5000000);
        QVERIFY(browser.checkTimerId() > 0);
    }

    void timerTriggersCheck()
    {
        Browser browser;
        QSignalSpy fired(&browser, &Browser::checkTimerFired);
        browser.setCheckUpdateInterval(1);
        QVERIFY(fired.wait(5000));
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
