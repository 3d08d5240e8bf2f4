#include "store/appsettings.h"
#include "store/serviceurl.h"
#include "store/settingsstore.h"
#include "tests/support/testsupport.h"

#include <QSettings>
#include <QStandardPaths>

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

    // Every field against the documented defaults.
    static void verifyDefaults(const AppSettings &s)
    {
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
        QCOMPARE(s.proxyHost, QString());
        QCOMPARE(s.proxyUsername, QString());
        QCOMPARE(s.proxyPassword, QString());
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
        QCOMPARE(s.clearCacheVersion, QString());
    }

    static QByteArray writeJunk()
    {
        QDir().mkpath(QFileInfo(storePath()).path());
        QFile file(storePath());
        if (!file.open(QIODevice::WriteOnly))
            return QByteArray();
        QByteArray junk("[GeneralSettings\nisAutoRun=\x01\x02\xff\xfe\n=\n[[[\n\0\0", 40);
        for (int i = 0; i < 200; ++i)
            junk += char(i * 37);
        file.write(junk);
        return junk;
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
        verifyDefaults(loaded());
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

    // An unreadable file: every default, the file kept beside under another name, and a fresh
    // store that takes the next write instead of dropping it.
    void unreadableStoreIsKeptAsideAndReplaced()
    {
        const QByteArray junk = writeJunk();
        QVERIFY(!junk.isEmpty());
        AppSettings s;
        const QRegularExpression logged(QStringLiteral("^Unreadable settings file kept as"));
        QTest::ignoreMessage(QtWarningMsg, logged);
        const SettingsStore::LoadResult result = SettingsStore::load(s);
        verifyDefaults(s);
        QVERIFY(result.unreadable);
        QCOMPARE(keptCopies().size(), 1);
        QCOMPARE(result.keptCopy, QFileInfo(storePath()).dir().filePath(keptCopies().first()));
        QFile kept(result.keptCopy);
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), junk);

        QVERIFY(SettingsStore::saveGroup({{"isAutoRun", true}}, "GeneralSettings"));
        const SettingsStore::LoadResult again = SettingsStore::load(s);
        QVERIFY(!again.unreadable);
        QCOMPARE(s.isAutoRun, true);

        // A second bad file in the same second gets a name of its own.
        writeJunk();
        const QDateTime when(QDate(2026, 1, 2), QTime(3, 4, 5));
        QCOMPARE(SettingsStore::unreadableCopyName("/c/Norva.conf", when),
                 QStringLiteral("/c/Norva.conf.unreadable-20260102-030405"));
        QTest::ignoreMessage(QtWarningMsg, logged);
        QVERIFY(SettingsStore::load(s).unreadable);
        QCOMPARE(keptCopies().size(), 2);
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
