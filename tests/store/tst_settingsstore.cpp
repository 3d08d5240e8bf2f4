#include "store/appsettings.h"
#include "store/serviceurl.h"
#include "store/settingsstore.h"
#include "tests/support/testsupport.h"

#include <QSettings>

class TestSettingsStore : public QObject
{
    Q_OBJECT

    static QString storePath()
    {
        return QSettings(QSettings::NativeFormat, QSettings::UserScope,
                         QCoreApplication::organizationName(), QCoreApplication::applicationName())
            .fileName();
    }

    static AppSettings loaded()
    {
        AppSettings s;
        SettingsStore::load(s);
        return s;
    }

private slots:
    void init() { QFile::remove(storePath()); }

    void emptyStoreKeepsDefaultsAndStaysEmpty()
    {
        QVERIFY(storePath().startsWith(NorvaTest::homeDir()));
        const AppSettings s = loaded();
        QCOMPARE(s.version, QStringLiteral("1.7.5"));
        QCOMPARE(s.defaultMainPage, ServiceUrl::base());
        QCOMPARE(s.openSoftware, QStringLiteral("Ctrl+Alt+R"));
        QVERIFY(QSettings(storePath(), QSettings::IniFormat).allKeys().isEmpty());
    }

    void otherSettingsGainsCurrentLang()
    {
        QSettings(storePath(), QSettings::IniFormat)
            .setValue(QStringLiteral("OtherSettings/allowSavePassword"), false);
        QCOMPARE(loaded().allowSavePassword, false);
        QSettings check(storePath(), QSettings::IniFormat);
        QCOMPARE(check.allKeys().size(), 2);
        QCOMPARE(check.value(QStringLiteral("OtherSettings/currentLang")).toInt(), 0);
    }

    void storedValuesReplaceDefaults()
    {
        {
            QSettings w(storePath(), QSettings::IniFormat);
            w.setValue(QStringLiteral("GeneralSettings/isShowMenuBar"), false);
            w.setValue(QStringLiteral("NetworkProxySettings/proxyPort"), QStringLiteral("abc"));
            w.setValue(QStringLiteral("NetworkProxySettings/proxyHost"), QStringLiteral("h"));
            w.setValue(QStringLiteral("ShortCutSettings/openSoftware"), QStringLiteral("Ctrl+F9"));
            w.setValue(QStringLiteral("FontSettings/fontSize"), 12);
            w.setValue(QStringLiteral("OtherSettings/currentLang"), 2);
            w.setValue(QStringLiteral("OtherSettings/defaultMainPage"), QString());
            w.setValue(QStringLiteral("OtherSettings/clearCacheVersion"), QStringLiteral("3"));
        }
        const AppSettings s = loaded();
        QCOMPARE(s.isShowMenuBar, false);
        QCOMPARE(s.isSysNotice, true);
        QCOMPARE(s.proxyPort, 0); // not a number reads as 0
        QCOMPARE(s.proxyHost, QStringLiteral("h"));
        QCOMPARE(s.openSoftware, QStringLiteral("Ctrl+F9"));
        QCOMPARE(s.fontSize, 12);
        QCOMPARE(s.currentLang, 2);
        // An empty stored main page cannot blank the built-in one; a non-empty one replaces it.
        QCOMPARE(s.defaultMainPage, ServiceUrl::base());
        QCOMPARE(s.clearCacheVersion, QStringLiteral("3"));
        QVERIFY(SettingsStore::saveValue(QStringLiteral("defaultMainPage"),
                                         QStringLiteral("OtherSettings"),
                                         QStringLiteral("https://other.example/")));
        QCOMPARE(loaded().defaultMainPage, QStringLiteral("https://other.example/"));
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
        QVERIFY(a >= 0 && m > a && text.indexOf("isSysNotice=false") > m);
        QCOMPARE(loaded().isSysNotice, false);
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
        QCOMPARE(loaded().defaultMainPage.isEmpty(), false);
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
        const QString def = QStringLiteral("https://default.example/");
        QCOMPARE(ServiceUrl::choose(QString(), def), def);
        for (const QString &good :
             {QStringLiteral("http://127.0.0.1:8765/"), QStringLiteral("https://okr.example/app/")})
            QCOMPARE(ServiceUrl::choose(good, def), good);
        for (const QString &bad :
             {QStringLiteral("https://okr.example"), QStringLiteral("ftp://okr.example/"),
              QStringLiteral("not a url/"), QStringLiteral("http:///")}) {
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^Ignoring")));
            QCOMPARE(ServiceUrl::choose(bad, def), def);
        }
    }
};

NORVA_TEST_MAIN(TestSettingsStore)
#include "tst_settingsstore.moc"
