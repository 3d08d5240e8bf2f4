// NORVA_TEST_WITH_KEYRING: runs against a real, unlocked Secret Service of its own.
#include "app/browser.h"
#include "store/appsettings.h"
#include "store/database.h"
#include "store/passwordcodec.h"
#include "store/passwordvault.h"
#include "store/proxysecret.h"
#include "store/settingsstore.h"
#include "tests/support/testsupport.h"

#include <QNetworkProxy>
#include <QProcess>
#include <QSettings>
#include <QSqlQuery>
#include <QWebEngineProfile>

namespace {

const QString kGroup = "NetworkProxySettings";

QString secretTool(const QStringList &args)
{
    QProcess tool;
    tool.start("secret-tool", args);
    tool.closeWriteChannel();
    if (!tool.waitForFinished(20000))
        return "(secret-tool hangs)";
    return QString::fromUtf8(tool.readAllStandardOutput());
}

const QStringList kItem{"server", "Kestrel/Norva", "user", "proxy-password"};

// What the keyring holds for the proxy, seen through secret-tool.
QString keyringPassword()
{
    return QString::fromUtf8(
        QByteArray::fromBase64(secretTool(QStringList{"lookup"} + kItem).toLatin1()));
}

QString settingsPath()
{
    return QSettings(QSettings::NativeFormat, QSettings::UserScope,
                     QCoreApplication::organizationName(), QCoreApplication::applicationName())
        .fileName();
}

QByteArray settingsBytes()
{
    return NorvaTest::fileBytes(settingsPath());
}

using Logins = QList<QPair<QString, QString>>;

// The login file of older versions, in the web profile, with these logins scrambled.
bool makeOldLoginFile(const QString &file, const Logins &logins)
{
    bool ok = QDir().mkpath(QFileInfo(file).path());
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "old");
        db.setDatabaseName(file);
        ok = ok && db.open();
        QSqlQuery query(db);
        ok = ok && query.exec("CREATE TABLE user (id INTEGER PRIMARY KEY NOT NULL, name "
                              "VARCHAR(40) NOT NULL, password VARCHAR(100) NOT NULL, url "
                              "VARCHAR(255), ext VARCHAR(255), createdate DATE)");
        for (const auto &login : logins) {
            QString stored;
            ok = ok && encodePassword(login.second, stored) &&
                 query.prepare("INSERT INTO user (name, password) VALUES (?, ?)");
            query.addBindValue(login.first);
            query.addBindValue(stored);
            ok = ok && query.exec();
        }
    }
    QSqlDatabase::removeDatabase("old");
    return ok;
}

// The password forms of these logins that a file's bytes give away.
QStringList passwordsIn(const QString &file, const Logins &logins)
{
    const QByteArray bytes = NorvaTest::fileBytes(file);
    QStringList found;
    for (const auto &login : logins) {
        QString stored;
        encodePassword(login.second, stored);
        if (bytes.contains(login.second.toUtf8()))
            found << login.second;
        if (bytes.contains(stored.toLatin1()))
            found << stored;
    }
    return found;
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
        QFile::remove(settingsPath());
        secretTool(QStringList{"clear"} + kItem);
    }

    void clearPasswordMovesToTheKeyring()
    {
        // As an older version left it.
        QVERIFY(SettingsStore::saveGroup({{"proxyMode", 2},
                                          {"proxyHost", "proxy.example"},
                                          {"proxyUsername", "alice"},
                                          {"proxyPassword", "Proxy-Secret-9"}},
                                         kGroup));
        QVERIFY(settingsBytes().contains("Proxy-Secret-9"));
        {
            ProxySecret secret;
            QSignalSpy kept(&secret, &ProxySecret::kept);
            secret.load();
            QVERIFY(kept.wait(20000));
            QCOMPARE(kept.first().at(0).toBool(), true);
        }
        QVERIFY(!settingsBytes().contains("Proxy-Secret-9"));
        QCOMPARE(keyringPassword(), QString("Proxy-Secret-9"));
        AppSettings record;
        SettingsStore::load(record);
        QCOMPARE(record.proxyHost, QString("proxy.example"));
        QCOMPARE(record.proxyPassword, QString());

        ProxySecret secret;
        QSignalSpy loaded(&secret, &ProxySecret::loaded);
        secret.load();
        QVERIFY(loaded.wait(20000));
        QCOMPARE(loaded.first().at(0).toString(), QString("Proxy-Secret-9"));
    }

    void settingsWritesHandThePasswordToTheKeyring()
    {
        ProxySecret secret;
        QSignalSpy kept(&secret, &ProxySecret::kept);
        QVERIFY(SettingsStore::saveGroup(
            {{"proxyHost", "proxy2.example"}, {"proxyPassword", "New-Secret-7"}}, kGroup));
        QVERIFY(kept.wait(20000));
        QCOMPARE(kept.takeFirst().at(0).toBool(), true);
        QVERIFY(settingsBytes().contains("proxy2.example"));
        QVERIFY(!settingsBytes().contains("New-Secret-7"));
        QCOMPARE(keyringPassword(), QString("New-Secret-7"));

        // An emptied password is no secret: the file gets the empty text, the item goes.
        QVERIFY(SettingsStore::saveGroup({{"proxyPassword", ""}}, kGroup));
        QVERIFY(kept.wait(20000));
        QCOMPARE(keyringPassword(), QString());
        QString clear = "unset";
        QVERIFY(SettingsStore::clearProxyPassword(clear));
        QCOMPARE(clear, QString());
        QVERIFY(!SettingsStore::isProxyPasswordInKeyring());
    }

    // The application object reads the password back for the proxy it applies, and seals the
    // logins it saves and those it copied from an older version's file, whose passwords then
    // leave that file.
    void browserUsesTheKeyring()
    {
        const QString oldFile = Browser::loginStoreDirectory(
                                    QWebEngineProfile::defaultProfile()->persistentStoragePath()) +
                                "Databases.db";
        Logins logins{{"13600000000", "Old-Secret-2"}, {"张三", "旧的密码-3"}};
        QVERIFY(makeOldLoginFile(oldFile, logins));
        QCOMPARE(passwordsIn(oldFile, logins).size(), 2);

        {
            ProxySecret secret;
            QSignalSpy kept(&secret, &ProxySecret::kept);
            QVERIFY(SettingsStore::saveGroup({{"proxyMode", 2},
                                              {"proxyHost", "127.0.0.1"},
                                              {"proxyPort", 3128},
                                              {"proxyUsername", "bob"},
                                              {"proxyPassword", "Browser-Secret-5"}},
                                             kGroup));
            QVERIFY(kept.wait(20000));
        }
        Browser browser;
        QTRY_COMPARE_WITH_TIMEOUT(appSettings->proxyPassword, QString("Browser-Secret-5"), 20000);
        QCOMPARE(QNetworkProxy::applicationProxy().password(), QString("Browser-Secret-5"));
        QCOMPARE(QNetworkProxy::applicationProxy().user(), QString("bob"));

        DataBase *store = browser.dataBase();
        QVERIFY(NorvaTest::waitFor([store] { return store->passwordsReadable(); }));
        QVERIFY(store->saveLoginInfo("13800000000", "Login-Secret-1"));
        logins << qMakePair(QString("13800000000"), QString("Login-Secret-1"));
        QSqlQuery query(QSqlDatabase::database());
        QVERIFY(query.exec("SELECT password FROM user"));
        while (query.next())
            QVERIFY2(PasswordVault::isSealed(query.value(0).toString()),
                     qPrintable(query.value(0).toString()));
        query.finish();
        Logins list;
        QVERIFY(store->getLoginInfos(list));
        QCOMPARE(list, logins);
        QCOMPARE(passwordsIn(Browser::loginStoreFile(), logins), QStringList());

        // Nor in the old file, once the copies are sealed.
        QCOMPARE(passwordsIn(oldFile, logins), QStringList());
    }
};

NORVA_TEST_MAIN(TestProxySecret)
#include "tst_proxysecret.moc"
