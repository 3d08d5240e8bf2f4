#include "tests/support/testsupport.h"
#include "update/versionfile.h"

#include <QJsonDocument>

#include <climits>

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
    in.updateMode = mode;
    in.silent = silent;
    in.overHttps = overHttps;
    return in;
}

} // namespace

Q_DECLARE_METATYPE(VersionFile::Release)

class TestVersionFile : public QObject
{
    Q_OBJECT

private slots:
    // The update mode only decides whether an optional release is offered: mode 0 leaves it to
    // the user's own check. Mandatory releases and every directive apply in every mode.
    void updateModes_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("silent");
        QTest::addColumn<QString>("flag");
        QTest::addColumn<QString>("latest");
        QTest::addColumn<Release>("release");
        QTest::addColumn<bool>("ask");
        QTest::addColumn<bool>("report");
        for (int mode : {0, 1, 2}) {
            for (bool silent : {true, false}) {
                const QByteArray name =
                    "mode " + QByteArray::number(mode) + (silent ? ", automatic" : ", asked");
                QTest::newRow(name + ", optional")
                    << mode << silent << ""
                    << "1.8.0" << Release::Optional << !(mode == 0 && silent) << false;
                QTest::newRow(name + ", mandatory")
                    << mode << silent << "force"
                    << "1.8.0" << Release::Mandatory << false << false;
                QTest::newRow(name + ", up to date")
                    << mode << silent << ""
                    << "1.7.5" << Release::UpToDate << false << !silent;
                QTest::newRow(name + ", broken")
                    << mode << silent << ""
                    << "1.8" << Release::BrokenVersion << false << !silent;
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
        QFETCH(bool, report);
        const VersionFile::Decisions d =
            VersionFile::evaluate(fullFile(latest, flag), input(mode, silent));
        QVERIFY(d.parsed);
        QCOMPARE(d.release, release);
        QCOMPARE(d.ask, ask);
        QCOMPARE(d.report, report);
        if (release == Release::Optional || release == Release::Mandatory) {
            QCOMPARE(d.latestVersion, latest);
            QCOMPARE(d.updateUrl, QStringLiteral("https://h/dl/setup.exe"));
        }
        // The directives, whatever the mode.
        QVERIFY(d.installForceNotice);
        QCOMPARE(d.forceNotice.value("stayTime").toInt(), 5);
        QVERIFY(d.setNoticeStayTime);
        QCOMPARE(d.noticeStayTime, 8);
        QCOMPARE(d.checkUpdateInterval, 600);
        QVERIFY(d.clearCache);
        QCOMPARE(d.cacheVersion, QStringLiteral("2"));
        QCOMPARE(d.newMainPage, QStringLiteral("https://okr.example/new/"));
    }

    // Seconds for the tray balloon; the time-out in milliseconds must not overflow.
    void noticeStayTimes_data()
    {
        QTest::addColumn<double>("given");
        QTest::addColumn<int>("seconds");
        QTest::newRow("negative") << -5.0 << 3;
        QTest::newRow("zero") << 0.0 << 3;
        QTest::newRow("eight") << 8.0 << 8;
        QTest::newRow("one day") << 86400.0 << 86400;
        QTest::newRow("just beyond int milliseconds") << 2147484.0 << 86400;
        QTest::newRow("largest int") << double(INT_MAX) << 86400;
        QTest::newRow("beyond int") << 1e12 << 3;
    }
    void noticeStayTimes()
    {
        QFETCH(double, given);
        QFETCH(int, seconds);
        const QJsonObject info{{"noticeStayTime", given}};
        const VersionFile::Decisions d = VersionFile::evaluate(
            toJson({{"global", QJsonObject{{"systemInfo", info}}}}), input(2, true));
        QVERIFY(d.setNoticeStayTime);
        QCOMPARE(d.noticeStayTime, seconds);
        QVERIFY(qint64(d.noticeStayTime) * 1000 <= INT_MAX);
    }

    void withoutRelease_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<bool>("parsed");
        QTest::newRow("not JSON") << QByteArray("{\"version\":") << false;
        QTest::newRow("no version") << QByteArray("{}") << true;
        QTest::newRow("version is a string") << QByteArray(R"({"version":"1.8.0"})") << true;
        QTest::newRow("no win") << QByteArray(R"({"version":{"cache":{}}})") << true;
        QTest::newRow("no dot") << QByteArray(R"({"version":{"win":{"latest-version":"180"}}})")
                                << true;
        QTest::newRow("status 2") << QByteArray(R"({"global":{"forceNotice":{"status":2}}})")
                                  << true;
    }
    void withoutRelease()
    {
        QFETCH(QByteArray, file);
        QFETCH(bool, parsed);
        const VersionFile::Decisions d = VersionFile::evaluate(file, input(2, false));
        QCOMPARE(d.parsed, parsed);
        QCOMPARE(d.release, Release::None);
        QVERIFY(!d.report && !d.ask && !d.installForceNotice && !d.setNoticeStayTime);
        QVERIFY(!d.clearCache && d.newMainPage.isEmpty() && d.checkUpdateInterval == 0);
    }

    // Only a version file that came over https binds the installer to https.
    void httpsFollowsTheVersionFile()
    {
        for (bool overHttps : {false, true}) {
            const VersionFile::Decisions d =
                VersionFile::evaluate(fullFile("1.8.0", ""), input(2, false, overHttps));
            QCOMPARE(d.requireHttps, overHttps);
        }
    }
};

NORVA_TEST_MAIN(TestVersionFile)
#include "tst_versionfile.moc"
