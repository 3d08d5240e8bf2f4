#include "platform/installerlauncher.h"
#include "tests/support/testsupport.h"
#include "update/versionfile.h"
#include "update/versionrules.h"

#include <QJsonDocument>
#include <QTemporaryDir>

#include <climits>
#include <tuple>

namespace {

using Release = VersionFile::Release;

QByteArray toJson(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

// A file with every server directive and a release of the given version and flag.
QByteArray fullFile(const QString &latest, const QString &flag)
{
    const QJsonObject forceNotice{{"status", 1}, {"stayTime", 5}, {"busicTypes", QJsonArray{6}}};
    const QJsonObject info{{"noticeStayTime", 8}, {"checkUpdateInterval", 600}};
    const QJsonObject win{{"latest-version", latest},
                          {"updateflag", flag},
                          {"update-url", "https://h/dl/setup.exe"},
                          {"main-page", "https://okr.example/new/"}};
    const QJsonObject cache{{"clear", "true"}, {"ver", "2"}};
    return toJson({{"global", QJsonObject{{"forceNotice", forceNotice}, {"systemInfo", info}}},
                   {"version", QJsonObject{{"cache", cache}, {"win", win}}}});
}

VersionFile::Input input(int mode, bool silent, bool overHttps = false)
{
    VersionFile::Input in;
    in.clearCacheVersion = "1";
    in.defaultMainPage = "https://okr.example/";
    in.serviceUrl = "https://okr.example/";
    in.updateMode = mode;
    in.silent = silent;
    in.overHttps = overHttps;
    return in;
}

} // namespace

Q_DECLARE_METATYPE(VersionFile::Release)

// The version file's evaluation and the rules of the installer download.
class TestVersionRules : public QObject
{
    Q_OBJECT

private slots:
    // The update mode only decides how an optional release is offered: mode 0 leaves it to the
    // user's own check, mode 2 downloads it unasked from an automatic check. Mandatory releases
    // and every directive apply in every mode.
    void updateModes_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("silent");
        QTest::addColumn<QString>("flag");
        QTest::addColumn<QString>("latest");
        QTest::addColumn<Release>("release");
        QTest::addColumn<bool>("ask");
        QTest::addColumn<bool>("background");
        QTest::addColumn<bool>("report");
        for (int mode : {0, 1, 2}) {
            for (bool silent : {true, false}) {
                const QByteArray name =
                    "mode " + QByteArray::number(mode) + (silent ? ", automatic" : ", asked");
                const auto row = [&](const char *what, const char *flag, const char *latest,
                                     Release release, bool ask, bool background, bool report) {
                    QTest::newRow(name + what) << mode << silent << flag << latest << release << ask
                                               << background << report;
                };
                const bool unasked = mode == 2 && silent;
                row(", optional", "", "1.8.0", Release::Optional, !silent || mode == 1, unasked,
                    false);
                row(", mandatory", "force", "1.8.0", Release::Mandatory, false, false, false);
                row(", up to date", "", "1.7.5", Release::UpToDate, false, false, !silent);
                row(", broken", "", "1.8", Release::BrokenVersion, false, false, !silent);
            }
        }
    }
    void updateModes()
    {
        QFETCH(int, mode);
        QFETCH(bool, silent);
        QFETCH(QString, flag);
        QFETCH(QString, latest);
        QFETCH(Release, release);
        QFETCH(bool, ask);
        QFETCH(bool, background);
        QFETCH(bool, report);
        const VersionFile::Decisions d =
            VersionFile::evaluate(fullFile(latest, flag), input(mode, silent));
        QVERIFY(d.parsed);
        QCOMPARE(d.release, release);
        QCOMPARE(d.ask, ask);
        QCOMPARE(d.background, background);
        QCOMPARE(d.report, report);
        if (release == Release::Optional || release == Release::Mandatory) {
            QCOMPARE(d.latestVersion, latest);
            QCOMPARE(d.updateUrl, QString("https://h/dl/setup.exe"));
            // Only a version file that came over https binds the installer to https.
            QVERIFY(!d.requireHttps);
            QVERIFY(VersionFile::evaluate(fullFile(latest, flag), input(mode, silent, true))
                        .requireHttps);
        }
        // The directives, whatever the mode.
        QVERIFY(d.installForceNotice);
        QCOMPARE(d.forceNotice.value("stayTime").toInt(), 5);
        QVERIFY(d.setNoticeStayTime);
        QCOMPARE(d.noticeStayTime, 8);
        QCOMPARE(d.checkUpdateInterval, 600);
        QVERIFY(d.clearCache);
        QCOMPARE(d.cacheVersion, QString("2"));
        QCOMPARE(d.newMainPage, QString("https://okr.example/new/"));
    }

    // Seconds for the tray balloon; the time-out in milliseconds must not overflow.
    void noticeStayTimes()
    {
        const std::pair<double, int> cases[] = {
            {-5, 3},  {0, 3}, {8, 8}, {86400, 86400}, {2147484, 86400}, {double(INT_MAX), 86400},
            {1e12, 3}};
        for (const auto &[given, seconds] : cases) {
            const QJsonObject info{{"noticeStayTime", given}};
            const VersionFile::Decisions d = VersionFile::evaluate(
                toJson({{"global", QJsonObject{{"systemInfo", info}}}}), input(2, true));
            QVERIFY(d.setNoticeStayTime);
            QCOMPARE(d.noticeStayTime, seconds);
        }
    }

    void withoutRelease()
    {
        const std::pair<const char *, bool> files[] = {
            {"{\"version\":", false},
            {"{}", true},
            {R"({"version":"1.8.0"})", true},
            {R"({"version":{"cache":{}}})", true},
            {R"({"version":{"win":{"latest-version":"180"}}})", true},
            {R"({"global":{"forceNotice":{"status":2}}})", true}};
        for (const auto &[file, parsed] : files) {
            const VersionFile::Decisions d = VersionFile::evaluate(file, input(2, false));
            QVERIFY2(d.parsed == parsed && d.release == Release::None, file);
            QVERIFY(!d.report && !d.ask && !d.installForceNotice && !d.setNoticeStayTime);
            QVERIFY(!d.clearCache && d.newMainPage.isEmpty() && d.checkUpdateInterval == 0);
        }
    }

    void lenientReaders()
    {
        const QJsonObject o = QJsonDocument::fromJson(R"({"obj": {"a": 1}, "str": "x", "num": 7,
            "neg": -5, "frac": 7.5, "big": 1e20, "numstr": "60", "arr": [1]})")
                                  .object();
        QCOMPARE(VersionRules::readObject(o, "obj").value("a").toInt(), 1);
        QVERIFY(VersionRules::readObject(o, "arr").isEmpty());
        QCOMPARE(VersionRules::readString(o, "str"), QString("x"));
        QVERIFY(VersionRules::readString(o, "num").isEmpty());
        QCOMPARE(VersionRules::readInt(o, "neg"), -5);
        for (const char *key : {"frac", "big", "numstr", "missing"})
            QCOMPARE(VersionRules::readInt(o, key), 0);
    }

    void versionOrder()
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

        // The cache's "ver" against the version of the last clearing; the patch part does not
        // count.
        const std::tuple<const char *, const char *, bool> caches[] = {
            {"3", "2", true},      {"2", "2", false}, {"1.2", "1.10", false},
            {"1.10", "1.2", true}, {"1.0", "", true}, {"1.2.9", "1.2.0", false},
            {".", "", false},      {"", "-1", false}};
        for (const auto &[ver, stored, clear] : caches)
            QVERIFY2(VersionRules::shouldClearCache(ver, stored) == clear,
                     qPrintable(QString("%1 against '%2'").arg(ver, stored)));
    }

    // A main page must be of the service's own origin; after an https version file, https.
    void mainPages()
    {
        const QString service = "http://okr.example/";
        QVERIFY(VersionRules::isUsableMainPage("http://okr.example/app/", service, false));
        QVERIFY(VersionRules::isUsableMainPage("http://OKR.example:80/", service, false));
        QVERIFY(!VersionRules::isUsableMainPage("http://okr.example/app/", service, true));
        QVERIFY(
            VersionRules::isUsableMainPage("https://okr.example/", "https://okr.example/", true));
        for (const char *bad : {"", "okr.example/app", "http://", "javascript:alert(1)",
                                "https://okr.example/", "http://okr.example:8080/",
                                "http://evil.example/", "http://okr.example.evil.example/",
                                "http://okr.example@evil.example/", "ftp://okr.example/"})
            QVERIFY2(!VersionRules::isUsableMainPage(bad, service, false), bad);
        // An https service does not take its http twin.
        QVERIFY(
            !VersionRules::isUsableMainPage("http://okr.example/", "https://okr.example/", false));
    }

    void installerNames()
    {
        // address, version, the name elsewhere, the name on Windows
        const std::tuple<const char *, const char *, const char *, const char *> cases[] = {
            {"http://h/dl/my%20setup.exe?x=1", "1.8.0", "my setup.exe", "my setup.exe"},
            // The fallback needs the executable suffix on Windows.
            {"http://h/dl/", "1.8.0", "norva-setup-1.8.0", "norva-setup-1.8.0.exe"},
            {"http://h/dl/..%2F..%2Fevil", "1.8.0", "evil", "evil"},
            {"http://h/dl/..%5Cevil.exe", "1.8.0", "norva-setup-1.8.0", "norva-setup-1.8.0.exe"},
            {"http://h/dl/%2E%2E", "1.8.0", "norva-setup-1.8.0", "norva-setup-1.8.0.exe"},
            // Interpreter syntax falls back to the safe name on Windows instead of stopping.
            {"http://h/dl/a%26b%3B%24(x).exe", "1.8.0", "a&b;$(x).exe", "norva-setup-1.8.0.exe"},
            {"http://h/dl/%E5%AE%89%E8%A3%85.exe", "1.8.0", "安装.exe", "norva-setup-1.8.0.exe"},
            {"http://h/", "1.8/../../x", "norva-setup-1.8_.._.._x", "norva-setup-1.8_.._.._x.exe"},
            {"http://h/a|b.exe", "1.8&x", "a|b.exe", "norva-setup-1.8_x.exe"}};
        using P = VersionRules::Platform;
        for (const auto &[url, version, other, windows] : cases) {
            QCOMPARE(VersionRules::installerFileName(QUrl(url), version, P::Other), QString(other));
            QCOMPARE(VersionRules::installerFileName(QUrl(url), version, P::Windows),
                     QString(windows));
            QVERIFY(InstallerLauncher::isAcceptedWindowsName(windows));
        }

        // Only an .exe or .msi that names no device can be started on Windows; Windows looks
        // for a device whatever the extension and the blanks before it.
        const std::pair<const char *, bool> startable[] = {
            {"setup.exe", true},    {"Setup 1.8.MSI", true}, {"norva-setup-1.8.0.exe", true},
            {"COM10.exe", true},    {"console.exe", true},   {"nul-setup.exe", true},
            {"setup.zip", false},   {"evil", false},         {"setup.exe.", false},
            {"setup.exe ", false},  {".exe", false},         {"NUL.exe", false},
            {" nul .msi", false},   {"Con.exe", false},      {"PRN.exe", false},
            {"aux.tar.exe", false}, {"COM1.exe", false},     {"lpt9.msi", false}};
        for (const auto &[name, ok] : startable) {
            QVERIFY2(VersionRules::isStartableInstallerName(name, P::Windows) == ok, name);
            QVERIFY2(VersionRules::isStartableInstallerName(name, P::Other), name);
        }
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
        for (const char *name : {"setup 1.8.exe", "a&b.exe"}) {
            QFile file(dir.filePath(name));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
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
        QCOMPARE(windows.program, QString("cmd.exe"));
        QCOMPARE(windows.nativeArguments,
                 QString("/C \"PING 127.0.0.1 -n 2 > NUL & \"setup 1.8.exe\"\""));
        // The name only ever arrives as "$1".
        const auto other = InstallerLauncher::command(dir.path(), "a&b.exe", P::Other);
        QCOMPARE(other.arguments, (QStringList{"-c", "sleep 1; exec \"./$1\"", "sh", "a&b.exe"}));
        QCOMPARE(other.workingDirectory, dir.path());

        QVERIFY(InstallerLauncher::isAcceptedWindowsName("Norva Setup (1.8.0)_x-64.exe"));
        for (const char *bad : {"a&b.exe", "a|b.exe", "a\"b.exe", "a%PATH%.exe", "a^b.exe",
                                "a<b.exe", "a;b.exe", "中文.exe", ""})
            QVERIFY2(!InstallerLauncher::isAcceptedWindowsName(QString::fromUtf8(bad)), bad);
    }
};

NORVA_TEST_MAIN(TestVersionRules)
#include "tst_versionrules.moc"
