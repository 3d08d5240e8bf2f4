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
    TestProxyServer proxy{QString("alice"), QString("open sesame")};
    Browser *browser = nullptr;
    MainWindow *window = nullptr;

    QUrl serviceUrl(const QString &path) const
    {
        return QUrl(QString("http://norva-service.test:%1%2").arg(service.port()).arg(path));
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
        proxy.addHost(QString("norva-service.test"));
        service.setHtml(QString("/"), QString("<html><head><title>through the proxy</title></head>"
                                              "<body>main</body></html>"));
        service.setResponse(
            QString("/kst-client/updates/version.json"),
            {200,
             "application/json",
             R"({"version":{"win":{"latest-version":"1.7.5","updateflag":"","update-url":""}}})",
             {}});
        qputenv("NORVA_SERVICE_URL", serviceUrl(QString("/")).toString().toUtf8());

        QSettings stored;
        const QVariantMap proxy{{"proxyMode", 2},           {"proxyType", 0},
                                {"proxyHost", "127.0.0.1"}, {"proxyPort", int(this->proxy.port())},
                                {"proxyUsername", "alice"}, {"proxyPassword", "open sesame"}};
        for (auto it = proxy.begin(); it != proxy.end(); ++it)
            stored.setValue("NetworkProxySettings/" + it.key(), it.value());
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
        const QUrl url = serviceUrl(QString("/?mode=%1").arg(mode));
        w->loadUrl(url);
        QTRY_COMPARE_WITH_TIMEOUT(w->currentView()->title(), QString("through the proxy"), 30000);
        QVERIFY(proxy.forwarded().contains(url.toString()));
        QVERIFY(proxy.challenges() > 0); // the engine did authenticate
        if (w != window)
            delete w;
    }

    // The configured proxy gets the stored user and password; any other proxy gets nothing.
    void proxyAuthenticationAnswer()
    {
        for (const auto &[proxyHost, user, password] :
             {std::tuple<QString, QString, QString>{"127.0.0.1", "alice", "open sesame"},
              {"10.9.8.7", QString(), QString()}}) {
            WebView view;
            auto *page = new WebPage(QWebEngineProfile::defaultProfile(), &view);
            QAuthenticator auth;
            auth.setUser("left over");
            emit page->proxyAuthenticationRequired(serviceUrl("/"), &auth, proxyHost);
            QCOMPARE(auth.user(), user);
            QCOMPARE(auth.password(), password);
            QCOMPARE(auth.isNull(), user.isEmpty());
        }
    }

    // Apply switches the client's own requests at once, and the page says the web engine
    // follows after a restart.
    void dialogAppliesProxyAtOnce()
    {
        const QString latest = QString("当前版本 1.7.5 已经是最新版本！");
        NorvaTest::BoxSeen box;
        checkVersion(&box);
        QCOMPARE(box.text, latest);
        const int forwarded = proxy.forwarded().size();

        window->openSettingsDialog();
        QPointer<SysSettingWindow> dialog = window->settingsWindow();
        QVERIFY(dialog);
        QCOMPARE(dialog->findChild<QLabel *>(QString("labelProxyRestart"))->text(),
                 QString("(重启软件后生效)"));
        auto *apply = dialog->findChild<QPushButton *>(QString("btnApply"));
        dialog->findChild<QRadioButton *>(QString("radioNoUseProxy"))->click();
        apply->click();
        QCOMPARE(QNetworkProxy::applicationProxy().type(), QNetworkProxy::NoProxy);
        checkVersion(&box);
        QCOMPARE(box.title, QString("版本检查失败"));
        QCOMPARE(proxy.forwarded().size(), forwarded);

        dialog->findChild<QRadioButton *>(QString("radioManualConfig"))->click();
        apply->click();
        QCOMPARE(QSettings().value(QString("NetworkProxySettings/proxyMode")).toInt(), 2);
        checkVersion(&box);
        QCOMPARE(box.text, latest);
        QCOMPARE(proxy.forwarded().size(), forwarded + 1);
        dialog->close();
    }
};

NORVA_TEST_MAIN(TestWebProxy)
#include "tst_webproxy.moc"
