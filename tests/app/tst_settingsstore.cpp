#include "app/appsettings.h"
#include "app/serviceurl.h"
#include "app/settingsstore.h"
#include "tests/support/testsupport.h"

#include <QSettings>
#include <QStandardPaths>

#include <unistd.h>

class TestSettingsStore : public QObject
{
    Q_OBJECT

    static QString storePath()
    {
        QSettings s(QSettings::NativeFormat, QSettings::UserScope,
                    QCoreApplication::organizationName(), QCoreApplication::applicationName());
        return s.fileName();
    }

private slots:
    void init() { QFile::remove(storePath()); }

    void storeLivesInTheTestHome()
    {
        QVERIFY(storePath().startsWith(NorvaTest::homeDir()));
        QVERIFY(storePath().endsWith(QStringLiteral("Kestrel/Norva.conf")));
    }

    void defaults()
    {
        AppSettings s;
        QCOMPARE(s.version, QStringLiteral("1.7.5"));
        QCOMPARE(s.isAutoRun, false);
        QCOMPARE(s.isSysNotice, true);
        QCOMPARE(s.isSysNoticeVoice, true);
        QCOMPARE(s.isMultiTab, false);
        QCOMPARE(s.isBowserMultiTab, false);
        QCOMPARE(s.isCompatibility, false);
        QCOMPARE(s.isQuitWhenClose, true);
        QCOMPARE(s.isShowMenuBar, true);
        QCOMPARE(s.allowSavePassword, true);
        QCOMPARE(s.updateMode, 2);
        QCOMPARE(s.proxyMode, 0);
        QCOMPARE(s.proxyType, 0);
        QCOMPARE(s.proxyPort, 80);
        QVERIFY(s.proxyHost.isEmpty() && s.proxyUsername.isEmpty() && s.proxyPassword.isEmpty());
        QCOMPARE(s.downloadPath,
                 QStandardPaths::writableLocation(QStandardPaths::DownloadLocation));
        QCOMPARE(s.openSoftware, QStringLiteral("Ctrl+Alt+R"));
        QCOMPARE(s.quickSearch, QStringLiteral("Ctrl+Alt+S"));
        QCOMPARE(s.enableOpenSoftware, false);
        QCOMPARE(s.enableQuickSearch, false);
        QCOMPARE(s.font, QStringLiteral("微软雅黑"));
        QCOMPARE(s.fontSize, 9);
        QCOMPARE(s.defaultMainPage, ServiceUrl::base());
        QCOMPARE(s.currentLang, 0);
        QVERIFY(s.clearCacheVersion.isEmpty());
    }

    void emptyStoreKeepsDefaultsAndStaysEmpty()
    {
        AppSettings s;
        SettingsStore::load(s);
        QCOMPARE(s.defaultMainPage, ServiceUrl::base());
        QCOMPARE(s.currentLang, 0);
        QVERIFY(!QFile::exists(storePath()) || QFile(storePath()).size() == 0);
        QSettings check(storePath(), QSettings::IniFormat);
        QVERIFY(check.allKeys().isEmpty());
    }

    void otherSettingsGainsCurrentLang()
    {
        {
            QSettings w(storePath(), QSettings::IniFormat);
            w.setValue(QStringLiteral("OtherSettings/allowSavePassword"), false);
        }
        AppSettings s;
        SettingsStore::load(s);
        QCOMPARE(s.allowSavePassword, false);
        QSettings check(storePath(), QSettings::IniFormat);
        QCOMPARE(check.value(QStringLiteral("OtherSettings/currentLang")).toInt(), 0);
        QVERIFY(check.contains(QStringLiteral("OtherSettings/currentLang")));
        QCOMPARE(check.allKeys().size(), 2);
    }

    void storedValuesReplaceDefaults()
    {
        {
            QSettings w(storePath(), QSettings::IniFormat);
            w.setValue(QStringLiteral("GeneralSettings/isShowMenuBar"), false);
            w.setValue(QStringLiteral("GeneralSettings/isQuitWhenClose"), false);
            w.setValue(QStringLiteral("NetworkProxySettings/proxyPort"), QStringLiteral("abc"));
            w.setValue(QStringLiteral("NetworkProxySettings/proxyHost"), QStringLiteral("h"));
            w.setValue(QStringLiteral("ShortCutSettings/openSoftware"), QStringLiteral("Ctrl+F9"));
            w.setValue(QStringLiteral("SoftwareUpdateSettings/updateMode"), 7);
            w.setValue(QStringLiteral("FontSettings/fontSize"), 12);
            w.setValue(QStringLiteral("OtherSettings/currentLang"), 2);
            w.setValue(QStringLiteral("OtherSettings/defaultMainPage"), QString());
            w.setValue(QStringLiteral("OtherSettings/clearCacheVersion"), QStringLiteral("3"));
        }
        AppSettings s;
        SettingsStore::load(s);
        QCOMPARE(s.isShowMenuBar, false);
        QCOMPARE(s.isQuitWhenClose, false);
        QCOMPARE(s.isSysNotice, true);
        QCOMPARE(s.proxyPort, 0); // not a number reads as 0
        QCOMPARE(s.proxyHost, QStringLiteral("h"));
        QCOMPARE(s.openSoftware, QStringLiteral("Ctrl+F9"));
        QCOMPARE(s.updateMode, 7);
        QCOMPARE(s.fontSize, 12);
        QCOMPARE(s.currentLang, 2);
        // An empty stored main page cannot blank the built-in one.
        QCOMPARE(s.defaultMainPage, ServiceUrl::base());
        QCOMPARE(s.clearCacheVersion, QStringLiteral("3"));
    }

    void nonEmptyMainPageReplaces()
    {
        QVERIFY(SettingsStore::saveValue(QStringLiteral("defaultMainPage"),
                                         QStringLiteral("OtherSettings"),
                                         QStringLiteral("https://other.example/")));
        AppSettings s;
        SettingsStore::load(s);
        QCOMPARE(s.defaultMainPage, QStringLiteral("https://other.example/"));
    }

    void groupIsWrittenInAscendingKeyOrder()
    {
        QVariantMap values;
        values.insert(QStringLiteral("isSysNotice"), false);
        values.insert(QStringLiteral("isAutoRun"), true);
        values.insert(QStringLiteral("isMultiTab"), true);
        QVERIFY(SettingsStore::saveGroup(values, QStringLiteral("GeneralSettings")));
        QFile file(storePath());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray text = file.readAll();
        const int a = text.indexOf("isAutoRun=true");
        const int m = text.indexOf("isMultiTab=true");
        const int n = text.indexOf("isSysNotice=false");
        QVERIFY(a >= 0 && m > a && n > m);
        AppSettings s;
        SettingsStore::load(s);
        QCOMPARE(s.isAutoRun, true);
        QCOMPARE(s.isSysNotice, false);
    }

    void corruptStoreNeverCrashes()
    {
        QDir().mkpath(QFileInfo(storePath()).path());
        QFile file(storePath());
        QVERIFY(file.open(QIODevice::WriteOnly));
        QByteArray junk("[GeneralSettings\nisAutoRun=\x01\x02\xff\xfe\n=\n[[[\n\0\0", 40);
        for (int i = 0; i < 200; ++i)
            junk += char(i * 37);
        file.write(junk);
        file.close();
        AppSettings s;
        SettingsStore::load(s);
        QCOMPARE(s.version, QStringLiteral("1.7.5"));
        QCOMPARE(s.defaultMainPage.isEmpty(), false);
    }

    void unreadableStoreKeepsDefaultsAndDropsWrites()
    {
        if (geteuid() == 0)
            QSKIP("root reads every file");
        QVERIFY(SettingsStore::saveValue(QStringLiteral("isAutoRun"),
                                         QStringLiteral("GeneralSettings"), true));
        QFile::setPermissions(storePath(), QFileDevice::Permissions());
        AppSettings s;
        SettingsStore::load(s);
        QCOMPARE(s.isAutoRun, false);
        QFile::setPermissions(storePath(), QFile::ReadOwner | QFile::WriteOwner);
    }

    void displayModeChoice()
    {
        AppSettings s;
        QCOMPARE(startupDisplayMode(s), 0);
        s.isMultiTab = true;
        QCOMPARE(startupDisplayMode(s), 1);
        s.isBowserMultiTab = true;
        QCOMPARE(startupDisplayMode(s), 2);
        s.isMultiTab = false;
        QCOMPARE(startupDisplayMode(s), 2);
    }

    void serviceUrlOverride_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("empty") << QString() << false;
        QTest::newRow("http") << QStringLiteral("http://127.0.0.1:8765/") << true;
        QTest::newRow("https") << QStringLiteral("https://okr.example.com/app/") << true;
        QTest::newRow("no slash") << QStringLiteral("https://okr.example.com") << false;
        QTest::newRow("ftp") << QStringLiteral("ftp://okr.example.com/") << false;
        QTest::newRow("junk") << QStringLiteral("not a url/") << false;
        QTest::newRow("no host") << QStringLiteral("http:///") << false;
    }

    void serviceUrlOverride()
    {
        QFETCH(QString, value);
        QFETCH(bool, accepted);
        const QString def = QStringLiteral("https://default.example/");
        QCOMPARE(ServiceUrl::choose(value, def), accepted ? value : def);
    }
};

NORVA_TEST_MAIN(TestSettingsStore)
#include "tst_settingsstore.moc"
