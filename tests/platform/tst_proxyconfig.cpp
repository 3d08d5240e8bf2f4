#include "platform/proxyconfig.h"
#include "store/appsettings.h"
#include "tests/support/testhttpserver.h"
#include "tests/support/testproxyserver.h"
#include "tests/support/testsupport.h"

#include <QNetworkAccessManager>
#include <QNetworkProxyFactory>
#include <QNetworkReply>

Q_DECLARE_METATYPE(QNetworkProxy::ProxyType)

class TestProxyConfig : public QObject
{
    Q_OBJECT

    static ProxyConfig config(int mode, int type, const QString &host, int port,
                              const QString &user = QString(), const QString &password = QString())
    {
        AppSettings s;
        s.proxyMode = mode;
        s.proxyType = type;
        s.proxyHost = host;
        s.proxyPort = port;
        s.proxyUsername = user;
        s.proxyPassword = password;
        return ProxyConfig::fromSettings(s);
    }

private slots:
    void rule_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("port");
        QTest::addColumn<QString>("user");
        QTest::addColumn<bool>("system");
        QTest::addColumn<QNetworkProxy::ProxyType>("proxyType");
        QTest::addColumn<QString>("proxyHost");

        using P = QNetworkProxy;
        const QString h = QStringLiteral("proxy.example");
        QTest::newRow("none") << 0 << 0 << h << 8080 << "u" << false << P::NoProxy << "";
        QTest::newRow("system") << 1 << 0 << h << 8080 << "u" << true << P::NoProxy << "";
        QTest::newRow("http") << 2 << 0 << h << 8080 << "u" << false << P::HttpProxy << h;
        QTest::newRow("socks5") << 2 << 1 << h << 1080 << "" << false << P::Socks5Proxy << h;
        QTest::newRow("host trimmed")
            << 2 << 0 << " proxy.example " << 3128 << "" << false << P::HttpProxy << h;
        QTest::newRow("no host") << 2 << 0 << "  " << 8080 << "u" << false << P::NoProxy << "";
        QTest::newRow("port 0") << 2 << 0 << h << 0 << "u" << false << P::NoProxy << "";
        QTest::newRow("port too big") << 2 << 0 << h << 65536 << "" << false << P::NoProxy << "";
        QTest::newRow("port 65535") << 2 << 1 << h << 65535 << "" << false << P::Socks5Proxy << h;
        QTest::newRow("unknown type") << 2 << 2 << h << 8080 << "" << false << P::NoProxy << "";
        QTest::newRow("unknown mode") << 7 << 0 << h << 8080 << "" << false << P::NoProxy << "";
    }

    // Settings to proxy, and what the process really uses after apply().
    void rule()
    {
        QFETCH(int, mode);
        QFETCH(int, type);
        QFETCH(QString, host);
        QFETCH(int, port);
        QFETCH(QString, user);
        QFETCH(bool, system);
        QFETCH(QNetworkProxy::ProxyType, proxyType);
        QFETCH(QString, proxyHost);

        const ProxyConfig c = config(mode, type, host, port, user, QStringLiteral("secret"));
        QCOMPARE(c.usesSystemConfiguration(), system);
        const QNetworkProxy proxy = c.applicationProxy();
        QCOMPARE(proxy.type(), proxyType);
        QCOMPARE(proxy.hostName(), proxyHost);
        if (proxyType != QNetworkProxy::NoProxy) {
            QCOMPARE(int(proxy.port()), port);
            QCOMPARE(proxy.user(), user);
            QCOMPARE(proxy.password(), user.isEmpty() ? QString() : QStringLiteral("secret"));
        }

        // Start from the opposite state, so a half-done apply shows.
        QNetworkProxyFactory::setUseSystemConfiguration(!system);
        QNetworkProxy::setApplicationProxy(QNetworkProxy(QNetworkProxy::HttpProxy, "stale", 1));
        c.apply();
        QCOMPARE(QNetworkProxyFactory::usesSystemConfiguration(), system);
        if (!system) {
            const QList<QNetworkProxy> used = QNetworkProxyFactory::proxyForQuery(
                QNetworkProxyQuery(QUrl(QStringLiteral("http://norva-service.test/"))));
            QCOMPARE(used.size(), 1);
            QCOMPARE(used.first().type(), proxyType);
            QCOMPARE(used.first().hostName(), proxyHost);
        }
    }

    void answersAuthentication_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("askingHost");
        QTest::addColumn<bool>("answers");

        QTest::newRow("configured host") << 2 << "alice"
                                         << "proxy.example" << true;
        QTest::newRow("host case") << 2 << "alice"
                                   << "PROXY.example" << true;
        QTest::newRow("other host") << 2 << "alice"
                                    << "evil.example" << false;
        QTest::newRow("suffix host") << 2 << "alice"
                                     << "proxy.example.evil" << false;
        QTest::newRow("empty host") << 2 << "alice"
                                    << "" << false;
        QTest::newRow("no user") << 2 << ""
                                 << "proxy.example" << false;
        QTest::newRow("system mode") << 1 << "alice"
                                     << "proxy.example" << false;
        QTest::newRow("no proxy") << 0 << "alice"
                                  << "proxy.example" << false;
    }

    void answersAuthentication()
    {
        QFETCH(int, mode);
        QFETCH(QString, user);
        QFETCH(QString, askingHost);
        QFETCH(bool, answers);
        const ProxyConfig c = config(mode, 0, QStringLiteral("proxy.example"), 8080, user, "pw");
        QCOMPARE(c.answersAuthenticationFor(askingHost), answers);
    }

    // The client's own requests reach a host that only the proxy knows, with the stored
    // credentials; a wrong password or no proxy does not get there.
    void ownRequestsUseTheProxy_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QNetworkReply::NetworkError>("error");
        QTest::newRow("manual") << 2 << "open sesame" << QNetworkReply::NoError;
        QTest::newRow("wrong password")
            << 2 << "guess" << QNetworkReply::ProxyAuthenticationRequiredError;
        QTest::newRow("no proxy") << 0 << "open sesame" << QNetworkReply::HostNotFoundError;
    }

    void ownRequestsUseTheProxy()
    {
        QFETCH(int, mode);
        QFETCH(QString, password);
        QFETCH(QNetworkReply::NetworkError, error);

        TestHttpServer service;
        QVERIFY(service.listen());
        service.setHtml(QStringLiteral("/hello"), QStringLiteral("hello through the proxy"));
        TestProxyServer proxy(QStringLiteral("alice"), QStringLiteral("open sesame"));
        QVERIFY(proxy.listen());
        proxy.addHost(QStringLiteral("norva-service.test"));

        config(mode, 0, QStringLiteral("127.0.0.1"), proxy.port(), QStringLiteral("alice"),
               password)
            .apply();
        QNetworkAccessManager manager;
        const QUrl url(QStringLiteral("http://norva-service.test:%1/hello").arg(service.port()));
        QNetworkReply *reply = manager.get(QNetworkRequest(url));
        QSignalSpy finished(reply, &QNetworkReply::finished);
        QVERIFY(finished.wait(20000));
        QCOMPARE(reply->error(), error);
        if (error == QNetworkReply::NoError) {
            QCOMPARE(reply->readAll(), QByteArray("hello through the proxy"));
            QCOMPARE(proxy.forwarded(), QStringList{url.toString()});
        } else {
            QVERIFY(proxy.forwarded().isEmpty());
        }
        delete reply;
    }
};

NORVA_TEST_MAIN(TestProxyConfig)
#include "tst_proxyconfig.moc"
