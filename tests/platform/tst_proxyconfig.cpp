#include "platform/proxyconfig.h"
#include "store/appsettings.h"
#include "tests/support/testsupport.h"

#include <QNetworkProxyFactory>

Q_DECLARE_METATYPE(QNetworkProxy::ProxyType)

class TestProxyConfig : public QObject
{
    Q_OBJECT

    static ProxyConfig config(int mode, int type, const QString &host, int port,
                              const QString &user)
    {
        AppSettings s;
        s.proxyMode = mode;
        s.proxyType = type;
        s.proxyHost = host;
        s.proxyPort = port;
        s.proxyUsername = user;
        s.proxyPassword = QStringLiteral("secret");
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

        using P = QNetworkProxy;
        const QString h = QStringLiteral("proxy.example");
        QTest::newRow("none") << 0 << 0 << h << 8080 << "u" << false << P::NoProxy;
        QTest::newRow("system") << 1 << 0 << h << 8080 << "u" << true << P::NoProxy;
        QTest::newRow("http") << 2 << 0 << h << 8080 << "u" << false << P::HttpProxy;
        QTest::newRow("socks5") << 2 << 1 << h << 65535 << "" << false << P::Socks5Proxy;
        QTest::newRow("host trimmed")
            << 2 << 0 << " " + h + " " << 80 << "" << false << P::HttpProxy;
        QTest::newRow("no host") << 2 << 0 << "  " << 8080 << "u" << false << P::NoProxy;
        QTest::newRow("port 0") << 2 << 0 << h << 0 << "u" << false << P::NoProxy;
        QTest::newRow("port too big") << 2 << 0 << h << 65536 << "" << false << P::NoProxy;
        QTest::newRow("unknown type") << 2 << 2 << h << 8080 << "" << false << P::NoProxy;
        QTest::newRow("unknown mode") << 7 << 0 << h << 8080 << "" << false << P::NoProxy;
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

        const ProxyConfig c = config(mode, type, host, port, user);
        QCOMPARE(c.usesSystemConfiguration(), system);
        const QNetworkProxy proxy = c.applicationProxy();
        QCOMPARE(proxy.type(), proxyType);
        if (proxyType != QNetworkProxy::NoProxy) {
            QCOMPARE(proxy.hostName(), QStringLiteral("proxy.example"));
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
            QCOMPARE(used.first(), proxy);
        }
    }

    void answersAuthentication_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("askingHost");
        QTest::addColumn<bool>("answers");
        QTest::newRow("configured host") << 2 << "alice"
                                         << "PROXY.example" << true;
        QTest::newRow("other host") << 2 << "alice"
                                    << "evil.example" << false;
        QTest::newRow("suffix host") << 2 << "alice"
                                     << "proxy.example.evil" << false;
        QTest::newRow("no user") << 2 << ""
                                 << "proxy.example" << false;
        QTest::newRow("system mode") << 1 << "alice"
                                     << "proxy.example" << false;
    }

    void answersAuthentication()
    {
        QFETCH(int, mode);
        QFETCH(QString, user);
        QFETCH(QString, askingHost);
        QFETCH(bool, answers);
        QCOMPARE(config(mode, 0, "proxy.example", 8080, user).answersAuthenticationFor(askingHost),
                 answers);
    }
};

NORVA_TEST_MAIN(TestProxyConfig)
#include "tst_proxyconfig.moc"
