// The version file with every server directive, evaluated against varying settings. The first
// byte picks the update mode and the kind of check, the text up to the first newline is the
// recorded cache version, the rest is the file.
#include "fuzz/fuzzcheck.h"
#include "notify/forcenoticerules.h"
#include "update/versionfile.h"
#include "update/versionrules.h"

#include <QByteArray>
#include <QUrl>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const QByteArray all(reinterpret_cast<const char *>(data + 1), int(size - 1));
    const int newline = all.indexOf('\n');
    VersionFile::Input input;
    input.updateMode = data[0] % 3;
    input.silent = data[0] & 0x04;
    input.overHttps = data[0] & 0x08;
    input.clearCacheVersion = newline < 0 ? QString() : QString::fromUtf8(all.left(newline));
    input.defaultMainPage = QStringLiteral("https://okr.kestrel.example/");
    input.serviceUrl = QStringLiteral("https://okr.kestrel.example/");
    const QByteArray file = newline < 0 ? all : all.mid(newline + 1);

    const VersionFile::Decisions d = VersionFile::evaluate(file, input);
    using R = VersionFile::Release;
    if (!d.parsed)
        FUZZ_CHECK(d.release == R::None && !d.installForceNotice && !d.clearCache);
    FUZZ_CHECK(d.noticeStayTime >= 1 && d.noticeStayTime <= VersionFile::MaxNoticeStaySeconds);
    // The balloon's time-out in milliseconds must fit.
    FUZZ_CHECK(qint64(d.noticeStayTime) * 1000 <= qint64(INT_MAX));
    FUZZ_CHECK(d.checkUpdateInterval == 0 || d.checkUpdateInterval >= 60);
    FUZZ_CHECK(d.newMainPage.isEmpty() ||
               VersionRules::isUsableMainPage(d.newMainPage, input.serviceUrl, input.overHttps));
    FUZZ_CHECK(d.newMainPage.isEmpty() || d.refusedMainPage.isEmpty());
    FUZZ_CHECK(d.newMainPage != input.defaultMainPage);
    FUZZ_CHECK(!d.report || !input.silent);
    FUZZ_CHECK(!d.ask || d.release == R::Optional);
    FUZZ_CHECK(!(d.ask && d.background));
    if (d.release == R::Optional) {
        // Mode 2 downloads an automatic offer unasked; the user's own check always asks.
        FUZZ_CHECK(d.background == (input.updateMode == 2 && input.silent));
        FUZZ_CHECK(d.ask == !(d.background || (input.updateMode == 0 && input.silent)));
    }
    if (d.release == R::Optional || d.release == R::Mandatory) {
        FUZZ_CHECK(d.requireHttps == input.overHttps);
        qint32 key = 0;
        FUZZ_CHECK(VersionRules::readRelease(d.latestVersion, &key) ==
                   VersionRules::Release::Valid);
        FUZZ_CHECK(key > VersionRules::ownReleaseKey());
        for (auto platform : {VersionRules::Platform::Windows, VersionRules::Platform::Other}) {
            const QString name = VersionRules::installerFileName(QUrl::fromUserInput(d.updateUrl),
                                                                 d.latestVersion, platform);
            FUZZ_CHECK(!name.isEmpty() && !name.contains(QLatin1Char('/')));
        }
    }

    if (d.installForceNotice) {
        ForceNoticeRules rules;
        rules.configure(d.forceNotice);
        FUZZ_CHECK(rules.stayTimeMs() >= 2000 && rules.stayTimeMs() <= 86400000);
        int target = 0;
        rules.matches(target, 6, QStringLiteral("invite"));
    }
    return 0;
}
