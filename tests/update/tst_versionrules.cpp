#include "platform/installerlauncher.h"
#include "tests/support/testsupport.h"
#include "update/versionrules.h"

#include <QJsonDocument>

class TestVersionRules : public QObject
{
    Q_OBJECT

    static QJsonObject json(const char *text)
    {
        return QJsonDocument::fromJson(QByteArray(text)).object();
    }

private slots:
    void lenientReaders()
    {
        const QJsonObject o = json(R"({"obj": {"a": 1}, "str": "x", "num": 7, "frac": 7.5,
                                        "big": 1e20, "neg": -5, "numstr": "60", "arr": [1],
                                        "nul": null, "bool": true})");
        QCOMPARE(VersionRules::readObject(o, "obj").value("a").toInt(), 1);
        QVERIFY(VersionRules::readObject(o, "str").isEmpty());
        QVERIFY(VersionRules::readObject(o, "arr").isEmpty());
        QVERIFY(VersionRules::readObject(o, "missing").isEmpty());
        QCOMPARE(VersionRules::readString(o, "str"), QStringLiteral("x"));
        QVERIFY(VersionRules::readString(o, "num").isEmpty());
        QVERIFY(VersionRules::readString(o, "nul").isEmpty());
        QVERIFY(VersionRules::readString(o, "obj").isEmpty());
        QCOMPARE(VersionRules::readInt(o, "num"), 7);
        QCOMPARE(VersionRules::readInt(o, "neg"), -5);
        QCOMPARE(VersionRules::readInt(o, "frac"), 0);
        QCOMPARE(VersionRules::readInt(o, "big"), 0);
        QCOMPARE(VersionRules::readInt(o, "numstr"), 0);
        QCOMPARE(VersionRules::readInt(o, "bool"), 0);
        QCOMPARE(VersionRules::readInt(o, "missing"), 0);
    }

    void releaseKeys_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("state");
        QTest::addColumn<int>("key");
        const int valid = int(VersionRules::Release::Valid);
        const int few = int(VersionRules::Release::TooFewParts);
        const int unusable = int(VersionRules::Release::Unusable);
        QTest::newRow("own") << "1.7.5" << valid << 0x10705;
        QTest::newRow("next patch") << "1.7.6" << valid << 0x10706;
        QTest::newRow("empty parts dropped") << "1..7.6" << valid << 0x10706;
        QTest::newRow("fourth part ignored") << "2.0.0.9" << valid << 0x20000;
        QTest::newRow("text part reads 0") << "1.x.3" << valid << 0x10003;
        QTest::newRow("two parts") << "1.8" << few << 0;
        QTest::newRow("only dots") << "..." << few << 0;
        QTest::newRow("no dot") << "176" << unusable << 0;
        QTest::newRow("empty") << "" << unusable << 0;
    }
    void releaseKeys()
    {
        QFETCH(QString, text);
        QFETCH(int, state);
        QFETCH(int, key);
        qint32 got = -1;
        QCOMPARE(int(VersionRules::readRelease(text, &got)), state);
        if (state == int(VersionRules::Release::Valid))
            QCOMPARE(got, key);
    }

    void releaseComparison()
    {
        QCOMPARE(VersionRules::ownReleaseKey(), 0x10705);
        QCOMPARE(VersionRules::ownReleaseKey(), 67333);
        QVERIFY(VersionRules::releaseKey(1, 8, 0) > VersionRules::ownReleaseKey());
        QVERIFY(VersionRules::releaseKey(1, 7, 4) < VersionRules::ownReleaseKey());
        // Parts above a byte spill into the next one, and a top bit makes the key negative:
        // the comparison is the signed 32-bit one.
        QCOMPARE(VersionRules::releaseKey(1, 7, 256), VersionRules::releaseKey(1, 7, 0) | 0x100);
        QVERIFY(VersionRules::releaseKey(0x8000, 0, 0) < 0);
    }

    void cacheOrder_data()
    {
        QTest::addColumn<QString>("ver");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<bool>("clear");
        QTest::newRow("integer newer") << "3"
                                       << "2" << true;
        QTest::newRow("integer same") << "2"
                                      << "2" << false;
        QTest::newRow("1.2 against 1.10") << "1.2"
                                          << "1.10" << false;
        QTest::newRow("1.10 against 1.2") << "1.10"
                                          << "1.2" << true;
        QTest::newRow("empty stored") << "1.0"
                                      << "" << true;
        QTest::newRow("patch ignored") << "1.2.9"
                                       << "1.2.0" << false;
        QTest::newRow("stored one part") << "2.0"
                                         << "1" << true;
        QTest::newRow("ver one part with dot") << "1."
                                               << "1.5" << false;
        QTest::newRow("ver only dots") << "."
                                       << "" << false;
        QTest::newRow("ver only dots, stored set") << ".."
                                                   << "1.0" << false;
        QTest::newRow("ver empty") << ""
                                   << "-1" << false;
        QTest::newRow("stored only dots") << "1.0"
                                          << "." << true;
        QTest::newRow("no dot against dotted") << "3"
                                               << "1.10" << true;
        QTest::newRow("text reads 0") << "abc"
                                      << "" << false;
    }
    void cacheOrder()
    {
        QFETCH(QString, ver);
        QFETCH(QString, stored);
        QFETCH(bool, clear);
        QCOMPARE(VersionRules::shouldClearCache(ver, stored), clear);
    }

    void mainPages()
    {
        QVERIFY(VersionRules::isUsableMainPage("https://okr.example/app/"));
        QVERIFY(VersionRules::isUsableMainPage("http://127.0.0.1:8080/"));
        QVERIFY(!VersionRules::isUsableMainPage(""));
        QVERIFY(!VersionRules::isUsableMainPage("   "));
        QVERIFY(!VersionRules::isUsableMainPage("okr.example/app"));
        QVERIFY(!VersionRules::isUsableMainPage("http://"));
        QVERIFY(!VersionRules::isUsableMainPage("http://exa mple.com/"));
        QVERIFY(!VersionRules::isUsableMainPage("javascript:alert(1)"));
    }

    void installerNames_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("name");
        QTest::newRow("plain") << "http://h/dl/setup-1.8.0.exe"
                               << "setup-1.8.0.exe";
        QTest::newRow("decoded") << "http://h/dl/my%20setup.exe"
                                 << "my setup.exe";
        QTest::newRow("query ignored") << "http://h/dl/a.exe?x=1"
                                       << "a.exe";
        QTest::newRow("no name") << "http://h/dl/"
                                 << "norva-setup-1.8.0";
        QTest::newRow("host only") << "http://h"
                                   << "norva-setup-1.8.0";
        // The decoded path is cut at its last "/", so only the last segment is ever taken.
        QTest::newRow("encoded slash") << "http://h/dl/..%2F..%2Fevil"
                                       << "evil";
        QTest::newRow("encoded slash at end") << "http://h/dl/..%2F"
                                              << "norva-setup-1.8.0";
        QTest::newRow("encoded backslash") << "http://h/dl/..%5Cevil.exe"
                                           << "norva-setup-1.8.0";
        QTest::newRow("dot dot") << "http://h/dl/%2E%2E"
                                 << "norva-setup-1.8.0";
        QTest::newRow("shell syntax kept") << "http://h/dl/a%26b%3B%24(x).exe"
                                           << "a&b;$(x).exe";
    }
    void installerNames()
    {
        QFETCH(QString, url);
        QFETCH(QString, name);
        QCOMPARE(VersionRules::installerFileName(QUrl(url), "1.8.0"), name);
    }

    void installerNameFallbackStaysInside()
    {
        QCOMPARE(VersionRules::installerFileName(QUrl("http://h/"), "1.8/../../x"),
                 QStringLiteral("norva-setup-1.8_.._.._x"));
    }

    void windowsCommand()
    {
        QVERIFY(InstallerLauncher::isAcceptedWindowsName("Norva Setup (1.8.0)_x-64.exe"));
        for (const char *bad : {"a&b.exe", "a|b.exe", "a\"b.exe", "a%PATH%.exe", "a^b.exe",
                                "a<b.exe", "a>b.exe", "a;b.exe", "中文.exe", "", " "})
            QVERIFY2(!InstallerLauncher::isAcceptedWindowsName(QString::fromUtf8(bad)), bad);
        QCOMPARE(InstallerLauncher::windowsCommandText("setup 1.8.exe"),
                 QStringLiteral("PING 127.0.0.1 -n 2 > NUL & \"setup 1.8.exe\""));
        // The shell text is fixed; the name only ever arrives as "$1".
        QCOMPARE(InstallerLauncher::shellCommandText(), QStringLiteral("sleep 1; exec \"./$1\""));
    }
};

NORVA_TEST_MAIN(TestVersionRules)
#include "tst_versionrules.moc"
