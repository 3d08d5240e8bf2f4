#include "app/browser.h"
#include "mainwindow/mainwindow.h"
#include "platform/proxyconfig.h"
#include "settings/syssettingwindow.h"
#include "store/appsettings.h"
#include "store/settingsstore.h"
#include "tests/support/testhttpserver.h"
#include "tests/support/testproxyserver.h"
#include "tests/support/testsupport.h"
#include "update/updater.h"
#include "web/webpage.h"
#include "web/webview.h"

#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QWebEngineProfile>

// The service is reached under a host name that only the test proxy resolves, so everything
// that loads here went through the proxy with the stored credentials.
class TestWebProxy : public QObject
{
    Q_OBJECT

    TestHttpServer service;
    TestProxyServer proxy{QStringLiteral("alice"), QStringLiteral("open sesame")};
    Browser *browser = nullptr;
    MainWindow *window = nullptr;

    QUrl serviceUrl(const QString &path) const
    {
        return QUrl(QStringLiteral("http://norva-service.test:%1%2").arg(service.port()).arg(path));
    }

    // A user-triggered version check and the box it shows.
    void checkVersion(NorvaTest::BoxSeen *seen)
    {
        *seen = NorvaTest::BoxSeen();
        NorvaTest::answerNextBox(QString(), seen);
        window->handleCheckVersion();
        QTRY_VERIFY_WITH_TIMEOUT(seen->seen, 20000);
        QTRY_VERIFY_WITH_TIMEOUT(!window->updater()->checkInProgress(), 20000);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(service.listen());
        QVERIFY(proxy.listen());
        proxy.addHost(QStringLiteral("norva-service.test"));
        service.setHtml(QStringLiteral("/"),
                        QStringLiteral("<html><head><title>through the proxy</title></head>"
                                       "<body>main</body></html>"));
        service.setResponse(
            QStringLiteral("/kst-client/updates/version.json"),
            {200,
             "application/json",
             R"({"version":{"win":{"latest-version":"1.7.5","updateflag":"","update-url":""}}})",
             {}});
        qputenv("NORVA_SERVICE_URL", serviceUrl(QStringLiteral("/")).toString().toUtf8());

        QSettings stored;
        stored.beginGroup(QStringLiteral("NetworkProxySettings"));
        stored.setValue(QStringLiteral("proxyMode"), 2);
        stored.setValue(QStringLiteral("proxyType"), 0);
        stored.setValue(QStringLiteral("proxyHost"), QStringLiteral("127.0.0.1"));
        stored.setValue(QStringLiteral("proxyPort"), int(proxy.port()));
        stored.setValue(QStringLiteral("proxyUsername"), QStringLiteral("alice"));
        stored.setValue(QStringLiteral("proxyPassword"), QStringLiteral("open sesame"));
        stored.endGroup();
        stored.sync();

        // As at program start: the proxy is in place before the first web engine object.
        AppSettings startup;
        SettingsStore::load(startup);
        ProxyConfig::fromSettings(startup).apply();

        browser = new Browser;
        window = browser->createWindow(0, true);
        mainWindow = window;
    }

    void cleanupTestCase()
    {
        mainWindow = nullptr;
        delete window;
        delete browser;
    }

    // Single-view mode keeps the engine's own page; tabs use WebPage.
    void pageLoadsThroughTheProxy_data()
    {
        QTest::addColumn<int>("mode");
        QTest::newRow("single view") << 0;
        QTest::newRow("tabs") << 1;
    }

    void pageLoadsThroughTheProxy()
    {
        QFETCH(int, mode);
        MainWindow *w = mode == 0 ? window : browser->createWindow(mode, true);
        const QUrl url = serviceUrl(QStringLiteral("/?mode=%1").arg(mode));
        w->loadUrl(url);
        QTRY_COMPARE_WITH_TIMEOUT(w->currentView()->title(), QStringLiteral("through the proxy"),
                                  30000);
        QVERIFY(proxy.forwarded().contains(url.toString()));
        QVERIFY(proxy.challenges() > 0); // the engine did authenticate
        if (w != window)
            delete w;
    }

    // The configured proxy gets the stored user and password; any other proxy gets nothing.
    void proxyAuthenticationAnswer_data()
    {
        QTest::addColumn<QString>("proxyHost");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::newRow("configured proxy") << "127.0.0.1"
                                          << "alice"
                                          << "open sesame";
        QTest::newRow("another proxy") << "10.9.8.7" << QString() << QString();
    }

    void proxyAuthenticationAnswer()
    {
        QFETCH(QString, proxyHost);
        QFETCH(QString, user);
        QFETCH(QString, password);
        WebView view;
        auto *page = new WebPage(QWebEngineProfile::defaultProfile(), &view);
        QAuthenticator auth;
        auth.setUser(QStringLiteral("left over"));
        emit page->proxyAuthenticationRequired(serviceUrl(QStringLiteral("/")), &auth, proxyHost);
        QCOMPARE(auth.user(), user);
        QCOMPARE(auth.password(), password);
        QCOMPARE(auth.isNull(), user.isEmpty());
    }

    // Apply switches the client's own requests at once, and the page says the web engine
    // follows after a restart.
    void dialogAppliesProxyAtOnce()
    {
        const QString latest = QStringLiteral("当前版本 1.7.5 已经是最新版本！");
        NorvaTest::BoxSeen box;
        checkVersion(&box);
        QCOMPARE(box.text, latest);
        const int forwarded = proxy.forwarded().size();

        window->openSettingsDialog();
        QPointer<SysSettingWindow> dialog = window->settingsWindow();
        QVERIFY(dialog);
        QCOMPARE(dialog->findChild<QLabel *>(QStringLiteral("labelProxyRestart"))->text(),
                 QStringLiteral("(重启软件后生效)"));
        auto *apply = dialog->findChild<QPushButton *>(QStringLiteral("btnApply"));
        dialog->findChild<QRadioButton *>(QStringLiteral("radioNoUseProxy"))->click();
        apply->click();
        QCOMPARE(QNetworkProxy::applicationProxy().type(), QNetworkProxy::NoProxy);
        checkVersion(&box);
        QCOMPARE(box.title, QStringLiteral("版本检查失败"));
        QCOMPARE(proxy.forwarded().size(), forwarded);

        dialog->findChild<QRadioButton *>(QStringLiteral("radioManualConfig"))->click();
        apply->click();
        QCOMPARE(QSettings().value(QStringLiteral("NetworkProxySettings/proxyMode")).toInt(), 2);
        checkVersion(&box);
        QCOMPARE(box.text, latest);
        QCOMPARE(proxy.forwarded().size(), forwarded + 1);
        dialog->close();
    }
};

NORVA_TEST_MAIN(TestWebProxy)
#include "tst_webproxy.moc"
