#include "store/appsettings.h"
#include "store/proxysecret.h"
#include "store/serviceurl.h"
#include "store/settingsstore.h"
#include "tests/support/testlogins.h"
#include "tests/support/testsupport.h"

#include <QSettings>
#include <QStandardPaths>

class TestSettingsStore : public QObject
{
    Q_OBJECT

    static QString storePath() { return NorvaTest::settingsPath(); }
    static AppSettings loaded()
    {
        AppSettings s;
        SettingsStore::load(s);
        return s;
    }

    // Every field, so a load that touches one it should leave alone shows.
    static QVariantList fields(const AppSettings &s)
    {
        return QVariantList() << s.version << s.isAutoRun << s.isSysNotice << s.isSysNoticeVoice
                              << s.isMultiTab << s.isBowserMultiTab << s.isCompatibility
                              << s.isQuitWhenClose << s.isShowMenuBar << s.allowSavePassword
                              << s.updateMode << s.proxyMode << s.proxyType << s.proxyPort
                              << s.proxyHost << s.proxyUsername << s.proxyPassword << s.downloadPath
                              << s.openSoftware << s.quickSearch << s.enableOpenSoftware
                              << s.enableQuickSearch << s.font << s.fontSize << s.defaultMainPage
                              << s.currentLang << s.clearCacheVersion;
    }

    // The defaults table, written out: a wrong built-in default shows here.
    static QVariantList defaults()
    {
        return QVariantList() << "1.7.5" << false << true << true << false << false << false << true
                              << true << true << 2 << 0 << 0 << 80 << ""
                              << ""
                              << ""
                              << QStandardPaths::writableLocation(QStandardPaths::DownloadLocation)
                              << "Ctrl+Alt+R"
                              << "Ctrl+Alt+S" << false << false << "微软雅黑" << 9
                              << ServiceUrl::base() << 0 << "";
    }

    static QByteArray writeJunk()
    {
        QDir().mkpath(QFileInfo(storePath()).path());
        QFile file(storePath());
        QByteArray junk("[GeneralSettings\nisAutoRun=\x01\x02\xff\xfe\n=\n[[[\n\0\0", 40);
        for (int i = 0; i < 200; ++i)
            junk += char(i * 37);
        return file.open(QIODevice::WriteOnly) && file.write(junk) == junk.size() ? junk : "";
    }

    static QStringList keptCopies()
    {
        const QFileInfo store(storePath());
        return store.dir().entryList({store.fileName() + ".unreadable-*"}, QDir::Files);
    }

private slots:
    void init()
    {
        QFile::remove(storePath());
        const QFileInfo store(storePath());
        for (const QString &copy : keptCopies())
            QFile::remove(store.dir().filePath(copy));
    }

    void emptyStoreKeepsDefaultsAndStaysEmpty()
    {
        QVERIFY(storePath().startsWith(NorvaTest::homeDir()));
        QCOMPARE(fields(AppSettings()), defaults());
        QCOMPARE(fields(loaded()), defaults());
        QVERIFY(QSettings(storePath(), QSettings::IniFormat).allKeys().isEmpty());
        const QUrl service(ServiceUrl::base());
        QCOMPARE(service.scheme(), QString("https"));
        QCOMPARE(service.toString(), service.adjusted(QUrl::RemovePath).toString() + "/");
    }

    void otherSettingsGainsCurrentLang()
    {
        QSettings(storePath(), QSettings::IniFormat)
            .setValue("OtherSettings/allowSavePassword", false);
        QCOMPARE(loaded().allowSavePassword, false);
        QSettings check(storePath(), QSettings::IniFormat);
        QCOMPARE(check.allKeys().size(), 2);
        QCOMPARE(check.value("OtherSettings/currentLang").toInt(), 0);
    }

    void storedValuesReplaceDefaults()
    {
        {
            QSettings w(storePath(), QSettings::IniFormat);
            const QVariantMap values{{"GeneralSettings/isShowMenuBar", false},
                                     {"NetworkProxySettings/proxyPort", "abc"},
                                     {"NetworkProxySettings/proxyHost", "h"},
                                     {"ShortCutSettings/openSoftware", "Ctrl+F9"},
                                     {"FontSettings/fontSize", 12},
                                     {"OtherSettings/currentLang", 2},
                                     {"OtherSettings/defaultMainPage", QString()},
                                     {"OtherSettings/clearCacheVersion", "3"}};
            for (auto it = values.begin(); it != values.end(); ++it)
                w.setValue(it.key(), it.value());
        }
        const AppSettings s = loaded();
        QCOMPARE(s.isShowMenuBar, false);
        QCOMPARE(s.isSysNotice, true);
        QCOMPARE(s.proxyPort, 0); // not a number reads as 0
        QCOMPARE(s.proxyHost, QString("h"));
        QCOMPARE(s.openSoftware, QString("Ctrl+F9"));
        QCOMPARE(s.fontSize, 12);
        QCOMPARE(s.currentLang, 2);
        QCOMPARE(s.clearCacheVersion, QString("3"));
        // An empty stored main page cannot blank the built-in one; one elsewhere is ignored.
        QCOMPARE(s.defaultMainPage, ServiceUrl::base());
        const QUrl base(ServiceUrl::base());
        QUrl otherPort = base;
        otherPort.setPort(base.port(443) + 1);
        QUrl http = base;
        http.setScheme("http");
        const QString own = ServiceUrl::base() + "app/";
        for (const QString &page : {QString("https://other.example/"), otherPort.toString(),
                                    http.toString(), QString("file:///etc/passwd"), own}) {
            QVERIFY(SettingsStore::saveValue("defaultMainPage", "OtherSettings", page));
            QCOMPARE(loaded().defaultMainPage, page == own ? own : ServiceUrl::base());
        }
    }

    // An unreadable file: every default, the file kept beside under another name, and a fresh
    // store that takes the next write instead of dropping it.
    void unreadableStoreIsKeptAsideAndReplaced()
    {
        const QByteArray junk = writeJunk();
        QVERIFY(!junk.isEmpty());
        AppSettings s;
        const QRegularExpression logged("^Unreadable settings file kept as");
        QTest::ignoreMessage(QtWarningMsg, logged);
        const SettingsStore::LoadResult result = SettingsStore::load(s);
        QCOMPARE(fields(s), defaults());
        QVERIFY(result.unreadable);
        QCOMPARE(keptCopies().size(), 1);
        QCOMPARE(result.keptCopy, QFileInfo(storePath()).dir().filePath(keptCopies().first()));
        QCOMPARE(NorvaTest::fileBytes(result.keptCopy), junk);
        QCOMPARE(NorvaTest::fileMode(result.keptCopy), 0600); // it may hold the proxy password

        QVERIFY(SettingsStore::saveGroup({{"isAutoRun", true}}, "GeneralSettings"));
        const SettingsStore::LoadResult again = SettingsStore::load(s);
        QVERIFY(!again.unreadable);
        QCOMPARE(s.isAutoRun, true);

        // A second bad file in the same second gets a name of its own.
        writeJunk();
        QTest::ignoreMessage(QtWarningMsg, logged);
        QVERIFY(SettingsStore::load(s).unreadable);
        QCOMPARE(keptCopies().size(), 2);
    }

    // It holds the proxy password: 0600 in a 0700 folder after every write; a looser one is
    // tightened.
    void storeIsTheUsersAlone()
    {
        const QString folder = QFileInfo(storePath()).path();
        QVERIFY(QDir(folder).removeRecursively());
        const auto modes = [&] {
            return qMakePair(NorvaTest::fileMode(folder), NorvaTest::fileMode(storePath()));
        };
        QVERIFY(SettingsStore::saveValue("proxyPassword", "NetworkProxySettings", "secret"));
        QCOMPARE(modes(), qMakePair(0700, 0600));

        QVERIFY(QFile::setPermissions(storePath(), QFileDevice::Permissions(0x6644))); // 0644
        QVERIFY(QFile::setPermissions(folder, QFileDevice::Permissions(0x7755)));      // 0755
        QCOMPARE(loaded().proxyPassword, QString("secret"));
        QCOMPARE(modes(), qMakePair(0700, 0600));

        QVERIFY(QFile::setPermissions(storePath(), QFileDevice::Permissions(0x6644))); // 0644
        QVERIFY(SettingsStore::saveGroup({{"proxyHost", "h"}, {"proxyPassword", "other"}},
                                         "NetworkProxySettings"));
        QCOMPARE(modes(), qMakePair(0700, 0600));
        QCOMPARE(loaded().proxyPassword, QString("other"));
    }

    // Without a keyring the proxy password stays exactly as before, also when found at start.
    void proxyPasswordWithoutKeyringStaysInTheFile()
    {
        if (qgetenv("NORVA_TEST_KEYRING") != "no")
            QSKIP("needs the private session bus of tests/support/run-test.sh");
        ProxySecret secret;
        QSignalSpy kept(&secret, &ProxySecret::kept);
        QVERIFY(
            SettingsStore::saveGroup({{"proxyHost", "proxy.example"}, {"proxyPassword", "Plain-3"}},
                                     "NetworkProxySettings"));
        QVERIFY(kept.wait(20000));
        QCOMPARE(kept.takeFirst().at(0).toBool(), false);
        secret.load();
        QVERIFY(kept.wait(20000));
        QCOMPARE(kept.takeFirst().at(0).toBool(), false);

        QSettings store(storePath(), QSettings::NativeFormat);
        store.beginGroup("NetworkProxySettings");
        QCOMPARE(store.childKeys(), (QStringList{"proxyHost", "proxyPassword"}));
        QCOMPARE(store.value("proxyPassword"), QVariant("Plain-3"));
        QCOMPARE(loaded().proxyPassword, QString("Plain-3"));
    }

    void displayModeChoice()
    {
        AppSettings s;
        QCOMPARE(startupDisplayMode(s), 0);
        s.isMultiTab = true;
        QCOMPARE(startupDisplayMode(s), 1);
        s.isBowserMultiTab = true;
        QCOMPARE(startupDisplayMode(s), 2);
    }

    void serviceUrlOverride()
    {
        const QString def = "https://default.example/";
        QCOMPARE(ServiceUrl::choose(QString(), def), def);
        for (const char *good : {"http://127.0.0.1:8765/", "https://okr.example/app/"})
            QCOMPARE(ServiceUrl::choose(good, def), QString(good));
        for (const char *bad :
             {"https://okr.example", "ftp://okr.example/", "not a url/", "http:///"}) {
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Ignoring"));
            QCOMPARE(ServiceUrl::choose(bad, def), def);
        }
    }
};

NORVA_TEST_MAIN(TestSettingsStore)
#include "tst_settingsstore.moc"
