// NORVA_TEST_WITH_KEYRING: runs against a real, unlocked Secret Service of its own.
#include "app/browser.h"
#include "store/appsettings.h"
#include "store/database.h"
#include "store/proxysecret.h"
#include "store/settingsstore.h"
#include "tests/support/testlogins.h"
#include "tests/support/testsupport.h"

#include <QNetworkProxy>
#include <QWebEngineProfile>

using NorvaTest::Logins;
using NorvaTest::passwordsIn;

namespace {

const QString kGroup = "NetworkProxySettings";
const QStringList kItem{"server", "Kestrel/Norva", "user", "proxy-password"};

QString keyringPassword()
{
    const QString text = NorvaTest::secretTool(QStringList{"lookup"} + kItem);
    return QString::fromUtf8(QByteArray::fromBase64(text.toLatin1()));
}
QByteArray settingsBytes()
{
    return NorvaTest::fileBytes(NorvaTest::settingsPath());
}

// Saves the settings and waits until the proxy password has gone where it is kept.
bool saveAndKeep(const QVariantMap &values)
{
    ProxySecret secret;
    QSignalSpy kept(&secret, &ProxySecret::kept);
    return SettingsStore::saveGroup(values, kGroup) && kept.wait(20000);
}

} // namespace

// The proxy password leaves the settings file for the keyring, at the first start that has one
// and at every later save, and comes back from there at the next start.
class TestProxySecret : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (qgetenv("NORVA_TEST_KEYRING") != "yes")
            QSKIP("needs the keyring that tests/support/run-test.sh --keyring starts");
    }
    void init()
    {
        QFile::remove(NorvaTest::settingsPath());
        NorvaTest::secretTool(QStringList{"clear"} + kItem);
    }

    void clearPasswordMovesToTheKeyring()
    {
        QVERIFY(SettingsStore::saveGroup({{"proxyMode", 2},
                                          {"proxyHost", "proxy.example"},
                                          {"proxyUsername", "alice"},
                                          {"proxyPassword", "Proxy-Secret-9"}},
                                         kGroup));
        QVERIFY(settingsBytes().contains("Proxy-Secret-9")); // as an older version left it
        {
            ProxySecret secret;
            QSignalSpy kept(&secret, &ProxySecret::kept);
            secret.load();
            QVERIFY(kept.wait(20000));
            QCOMPARE(kept.first().at(0).toBool(), true);
        }
        QVERIFY(!settingsBytes().contains("Proxy-Secret-9"));
        QVERIFY(settingsBytes().contains("proxy.example"));
        QCOMPARE(keyringPassword(), QString("Proxy-Secret-9"));
    }

    void settingsWritesHandThePasswordToTheKeyring()
    {
        QVERIFY(saveAndKeep({{"proxyHost", "proxy2.example"}, {"proxyPassword", "New-Secret-7"}}));
        QVERIFY(settingsBytes().contains("proxy2.example"));
        QVERIFY(!settingsBytes().contains("New-Secret-7"));
        QCOMPARE(keyringPassword(), QString("New-Secret-7"));

        // An emptied password is no secret: the file gets the empty text, the item goes.
        QVERIFY(saveAndKeep({{"proxyPassword", ""}}));
        QCOMPARE(keyringPassword(), QString());
        QString clear = "unset";
        QVERIFY(SettingsStore::clearProxyPassword(clear));
        QCOMPARE(clear, QString());
    }

    // The application applies the password read back from the keyring at start, and seals the
    // logins it saves and those it copied from an older version's file, whose passwords then leave
    // it.
    void browserUsesTheKeyring()
    {
        const QString oldFile = Browser::loginStoreDirectory(
                                    QWebEngineProfile::defaultProfile()->persistentStoragePath()) +
                                "Databases.db";
        Logins logins{{"13600000000", "Old-Secret-2"}, {"张三", "旧的密码-3"}};
        QVERIFY(NorvaTest::writeOldLoginFile(oldFile, logins));
        QCOMPARE(passwordsIn(oldFile, logins).size(), 2);
        QVERIFY(saveAndKeep({{"proxyMode", 2},
                             {"proxyHost", "127.0.0.1"},
                             {"proxyPort", 3128},
                             {"proxyUsername", "bob"},
                             {"proxyPassword", "Browser-Secret-5"}}));

        Browser browser;
        QTRY_COMPARE_WITH_TIMEOUT(appSettings->proxyPassword, QString("Browser-Secret-5"), 20000);
        QCOMPARE(QNetworkProxy::applicationProxy().password(), QString("Browser-Secret-5"));
        QCOMPARE(QNetworkProxy::applicationProxy().user(), QString("bob"));

        DataBase *store = browser.dataBase();
        QVERIFY(NorvaTest::waitFor([store] { return store->passwordsReadable(); }));
        QVERIFY(store->saveLoginInfo("13800000000", "Login-Secret-1"));
        logins << qMakePair(QString("13800000000"), QString("Login-Secret-1"));
        QCOMPARE(NorvaTest::logins(store), logins);
        QCOMPARE(passwordsIn(Browser::loginStoreFile(), logins), QStringList());
        QCOMPARE(passwordsIn(oldFile, logins), QStringList());
    }
};

NORVA_TEST_MAIN(TestProxySecret)
#include "tst_proxysecret.moc"
