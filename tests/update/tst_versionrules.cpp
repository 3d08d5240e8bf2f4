#include "platform/installerlauncher.h"
#include "tests/support/testsupport.h"
#include "update/versionrules.h"

#include <QJsonDocument>
#include <QTemporaryDir>

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

    void installerNames_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("version");
        QTest::addColumn<QString>("other");
        QTest::addColumn<QString>("windows");
        const auto row = [](const char *name, const char *url, const char *version,
                            const char *other, const char *windows) {
            QTest::newRow(name) << url << version << QString::fromUtf8(other)
                                << QString::fromUtf8(windows);
        };
        row("decoded", "http://h/dl/my%20setup.exe?x=1", "1.8.0", "my setup.exe", "my setup.exe");
        // The fallback needs the executable suffix on Windows.
        row("no name", "http://h/dl/", "1.8.0", "norva-setup-1.8.0", "norva-setup-1.8.0.exe");
        row("encoded slashes", "http://h/dl/..%2F..%2Fevil", "1.8.0", "evil", "evil");
        row("backslash", "http://h/dl/..%5Cevil.exe", "1.8.0", "norva-setup-1.8.0",
            "norva-setup-1.8.0.exe");
        row("dots", "http://h/dl/%2E%2E", "1.8.0", "norva-setup-1.8.0", "norva-setup-1.8.0.exe");
        // Interpreter syntax falls back to the safe name on Windows instead of stopping.
        row("syntax", "http://h/dl/a%26b%3B%24(x).exe", "1.8.0", "a&b;$(x).exe",
            "norva-setup-1.8.0.exe");
        row("non-ASCII", "http://h/dl/%E5%AE%89%E8%A3%85.exe", "1.8.0", "安装.exe",
            "norva-setup-1.8.0.exe");
        row("version with a path", "http://h/", "1.8/../../x", "norva-setup-1.8_.._.._x",
            "norva-setup-1.8_.._.._x.exe");
        row("version with syntax", "http://h/a|b.exe", "1.8&x", "a|b.exe", "norva-setup-1.8_x.exe");
    }
    void installerNames()
    {
        QFETCH(QString, url);
        QFETCH(QString, version);
        QFETCH(QString, other);
        QFETCH(QString, windows);
        using P = VersionRules::Platform;
        QCOMPARE(VersionRules::installerFileName(QUrl(url), version, P::Other), other);
        QCOMPARE(VersionRules::installerFileName(QUrl(url), version, P::Windows), windows);
        QVERIFY(InstallerLauncher::isAcceptedWindowsName(windows));
    }

    // After an https version file the installer and every redirect stay on https; a page or an
    // empty answer is never an installer.
    void downloadRules()
    {
        const std::tuple<const char *, bool, bool> urls[] = {
            {"https://h/setup.exe", true, true}, {"HTTPS://h/setup.exe", true, true},
            {"http://h/setup.exe", true, false}, {"ftp://h/setup.exe", true, false},
            {"http://h/setup.exe", false, true}, {"/relative", true, false}};
        for (const auto &[url, requireHttps, allowed] : urls)
            QVERIFY2(VersionRules::isAllowedDownload(QUrl(url), requireHttps) == allowed, url);

        const std::tuple<const char *, qint64, bool> replies[] = {
            {"application/octet-stream", 10, true},  {"", 10, true},
            {"application/octet-stream", 0, false},  {"text/html", 10, false},
            {"Text/HTML; charset=utf-8", 10, false}, {"text/plain", 10, true}};
        for (const auto &[type, bytes, installer] : replies)
            QVERIFY2(VersionRules::looksLikeInstaller(type, bytes) == installer, type);
    }

    // The launch rule: a missing installer or an unsafe name on Windows gives no command, so
    // the client does not quit for an installer that never starts.
    void launchCommands()
    {
        QTemporaryDir dir;
        QFile file(dir.filePath("setup 1.8.exe"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        QFile unsafe(dir.filePath("a&b.exe"));
        QVERIFY(unsafe.open(QIODevice::WriteOnly));
        unsafe.close();
        using P = InstallerLauncher::Platform;
        const std::tuple<QString, QString, P, bool> cases[] = {
            {dir.path(), "setup 1.8.exe", P::Windows, true},
            {dir.path(), "setup 1.8.exe", P::Other, true},
            {dir.path(), "missing.exe", P::Windows, false},
            {dir.path(), "missing.exe", P::Other, false},
            {dir.path(), "a&b.exe", P::Windows, false},
            {dir.path(), "a&b.exe", P::Other, true},
            {dir.path() + "/gone", "setup 1.8.exe", P::Windows, false},
            {dir.path(), "", P::Other, false}};
        for (const auto &[directory, name, platform, ok] : cases)
            QVERIFY2(InstallerLauncher::command(directory, name, platform).ok == ok,
                     qPrintable(name));
        const auto windows = InstallerLauncher::command(dir.path(), "setup 1.8.exe", P::Windows);
        QCOMPARE(windows.program, QStringLiteral("cmd.exe"));
        QCOMPARE(windows.nativeArguments,
                 QStringLiteral("/C \"PING 127.0.0.1 -n 2 > NUL & \"setup 1.8.exe\"\""));
        const auto other = InstallerLauncher::command(dir.path(), "a&b.exe", P::Other);
        QCOMPARE(other.arguments.last(), QStringLiteral("a&b.exe"));
        QCOMPARE(other.workingDirectory, dir.path());
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
