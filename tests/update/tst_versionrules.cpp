#include "platform/installerlauncher.h"
#include "tests/support/testsupport.h"
#include "update/versionrules.h"

#include <QJsonDocument>

#include <tuple>

class TestVersionRules : public QObject
{
    Q_OBJECT

private slots:
    void lenientReaders()
    {
        const QJsonObject o = QJsonDocument::fromJson(R"({"obj": {"a": 1}, "str": "x", "num": 7,
            "neg": -5, "frac": 7.5, "big": 1e20, "numstr": "60", "arr": [1]})")
                                  .object();
        QCOMPARE(VersionRules::readObject(o, "obj").value("a").toInt(), 1);
        QVERIFY(VersionRules::readObject(o, "arr").isEmpty());
        QCOMPARE(VersionRules::readString(o, "str"), QStringLiteral("x"));
        QVERIFY(VersionRules::readString(o, "num").isEmpty());
        QCOMPARE(VersionRules::readInt(o, "neg"), -5);
        for (const char *key : {"frac", "big", "numstr", "missing"})
            QCOMPARE(VersionRules::readInt(o, key), 0);
    }

    void releaseKeys()
    {
        using R = VersionRules::Release;
        const std::tuple<const char *, R, qint32> cases[] = {
            {"1.7.5", R::Valid, 0x10705},   {"1..7.6", R::Valid, 0x10706},
            {"2.0.0.9", R::Valid, 0x20000}, {"1.x.3", R::Valid, 0x10003},
            {"1.8", R::TooFewParts, 0},     {"176", R::Unusable, 0}};
        for (const auto &[text, state, key] : cases) {
            qint32 got = -1;
            QVERIFY2(VersionRules::readRelease(text, &got) == state, text);
            if (state == R::Valid)
                QCOMPARE(got, key);
        }
        QCOMPARE(VersionRules::ownReleaseKey(), 0x10705);
        // The comparison is the signed 32-bit one.
        QVERIFY(VersionRules::releaseKey(0x8000, 0, 0) < 0);
    }

    void cacheOrder()
    {
        // "ver" against the version of the last clearing; the patch part does not count.
        const std::tuple<const char *, const char *, bool> cases[] = {
            {"3", "2", true},      {"2", "2", false}, {"1.2", "1.10", false},
            {"1.10", "1.2", true}, {"1.0", "", true}, {"1.2.9", "1.2.0", false},
            {".", "", false},      {"", "-1", false}};
        for (const auto &[ver, stored, clear] : cases)
            QVERIFY2(VersionRules::shouldClearCache(ver, stored) == clear,
                     qPrintable(QString("%1 against '%2'").arg(ver, stored)));
    }

    void mainPages()
    {
        QVERIFY(VersionRules::isUsableMainPage("https://okr.example/app/"));
        for (const char *bad : {"", "okr.example/app", "http://", "javascript:alert(1)"})
            QVERIFY2(!VersionRules::isUsableMainPage(bad), bad);
    }

    void installerNames()
    {
        const char *cases[][3] = {{"http://h/dl/my%20setup.exe?x=1", "1.8.0", "my setup.exe"},
                                  {"http://h/dl/", "1.8.0", "norva-setup-1.8.0"},
                                  {"http://h/dl/..%2F..%2Fevil", "1.8.0", "evil"},
                                  {"http://h/dl/..%5Cevil.exe", "1.8.0", "norva-setup-1.8.0"},
                                  {"http://h/dl/%2E%2E", "1.8.0", "norva-setup-1.8.0"},
                                  {"http://h/dl/a%26b%3B%24(x).exe", "1.8.0", "a&b;$(x).exe"},
                                  {"http://h/", "1.8/../../x", "norva-setup-1.8_.._.._x"}};
        for (const auto &c : cases)
            QCOMPARE(VersionRules::installerFileName(QUrl(c[0]), c[1]), QString(c[2]));
    }

    void windowsCommand()
    {
        QVERIFY(InstallerLauncher::isAcceptedWindowsName("Norva Setup (1.8.0)_x-64.exe"));
        for (const char *bad : {"a&b.exe", "a|b.exe", "a\"b.exe", "a%PATH%.exe", "a^b.exe",
                                "a<b.exe", "a;b.exe", "中文.exe", ""})
            QVERIFY2(!InstallerLauncher::isAcceptedWindowsName(QString::fromUtf8(bad)), bad);
        QCOMPARE(InstallerLauncher::windowsCommandText("setup 1.8.exe"),
                 QStringLiteral("PING 127.0.0.1 -n 2 > NUL & \"setup 1.8.exe\""));
        // The name only ever arrives as "$1".
        QCOMPARE(InstallerLauncher::shellCommandText(), QStringLiteral("sleep 1; exec \"./$1\""));
    }
};

NORVA_TEST_MAIN(TestVersionRules)
#include "tst_versionrules.moc"
