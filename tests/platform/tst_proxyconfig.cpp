#include "platform/proxyconfig.h"
#include "store/appsettings.h"
#include "tests/support/testsupport.h"

#include <QNetworkProxyFactory>

#include <tuple>

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
    // Settings to proxy, and what the process really uses after apply().
    void rule()
    {
        using P = QNetworkProxy;
        const QString h = "proxy.example";
        // mode, type, host, port, user; system configuration, proxy type
        const std::tuple<int, int, QString, int, QString, bool, P::ProxyType> cases[] = {
            {0, 0, h, 8080, "u", false, P::NoProxy},
            {1, 0, h, 8080, "u", true, P::NoProxy},
            {2, 0, h, 8080, "u", false, P::HttpProxy},
            {2, 1, h, 65535, "", false, P::Socks5Proxy},
            {2, 0, " " + h + " ", 80, "", false, P::HttpProxy}, // the host is trimmed
            {2, 0, "  ", 8080, "u", false, P::NoProxy},
            {2, 0, h, 0, "u", false, P::NoProxy},
            {2, 0, h, 65536, "", false, P::NoProxy},
            {2, 2, h, 8080, "", false, P::NoProxy}, // unknown type
            {7, 0, h, 8080, "", false, P::NoProxy}, // unknown mode
        };
        for (const auto &[mode, type, host, port, user, system, proxyType] : cases) {
            const ProxyConfig c = config(mode, type, host, port, user);
            QCOMPARE(c.usesSystemConfiguration(), system);
            const QNetworkProxy proxy = c.applicationProxy();
            QCOMPARE(proxy.type(), proxyType);
            if (proxyType != P::NoProxy) {
                QCOMPARE(proxy.hostName(), h);
                QCOMPARE(int(proxy.port()), port);
                QCOMPARE(proxy.user(), user);
                QCOMPARE(proxy.password(), user.isEmpty() ? QString() : QString("secret"));
            }
            // Start from the opposite state, so a half-done apply shows.
            QNetworkProxyFactory::setUseSystemConfiguration(!system);
            QNetworkProxy::setApplicationProxy(P(P::HttpProxy, "stale", 1));
            c.apply();
            QCOMPARE(QNetworkProxyFactory::usesSystemConfiguration(), system);
            if (!system) {
                const QList<QNetworkProxy> used = QNetworkProxyFactory::proxyForQuery(
                    QNetworkProxyQuery(QUrl("http://norva-service.test/")));
                QCOMPARE(used, QList<QNetworkProxy>{proxy});
            }
        }
    }

    // Only the configured proxy host gets the stored credentials, and only in manual mode.
    void answersAuthentication()
    {
        const std::tuple<int, const char *, const char *, bool> cases[] = {
            {2, "alice", "PROXY.example", true},
            {2, "alice", "evil.example", false},
            {2, "alice", "proxy.example.evil", false},
            {2, "", "proxy.example", false},
            {1, "alice", "proxy.example", false}};
        for (const auto &[mode, user, askingHost, answers] : cases)
            QVERIFY2(
                config(mode, 0, "proxy.example", 8080, user).answersAuthenticationFor(askingHost) ==
                    answers,
                askingHost);
    }
};

NORVA_TEST_MAIN(TestProxyConfig)
#include "tst_proxyconfig.moc"
