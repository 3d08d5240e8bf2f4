#include "update/versionfile.h"

#include "update/versionrules.h"

#include <QJsonDocument>
#include <QJsonParseError>
#include <QJsonValue>

namespace {

void readDirectives(const QJsonObject &root, VersionFile::Decisions &d)
{
    if (!root.contains(QStringLiteral("global")))
        return;
    const QJsonObject global = VersionRules::readObject(root, QStringLiteral("global"));

    if (global.contains(QStringLiteral("forceNotice"))) {
        const QJsonObject forceNotice =
            VersionRules::readObject(global, QStringLiteral("forceNotice"));
        if (VersionRules::readInt(forceNotice, QStringLiteral("status")) == 1) {
            d.installForceNotice = true;
            d.forceNotice = forceNotice;
        }
    }

    if (global.contains(QStringLiteral("systemInfo"))) {
        const QJsonObject info = VersionRules::readObject(global, QStringLiteral("systemInfo"));
        const int stayTime = VersionRules::readInt(info, QStringLiteral("noticeStayTime"));
        d.setNoticeStayTime = true;
        // Capped: the balloon takes milliseconds, and a larger value would overflow them.
        d.noticeStayTime = stayTime > 0 ? qMin(stayTime, VersionFile::MaxNoticeStaySeconds) : 3;
        const int interval = VersionRules::readInt(info, QStringLiteral("checkUpdateInterval"));
        if (interval >= 60)
            d.checkUpdateInterval = interval;
    }
}

void readCacheOrder(const QJsonObject &version, const VersionFile::Input &input,
                    VersionFile::Decisions &d)
{
    const QJsonObject cache = VersionRules::readObject(version, QStringLiteral("cache"));
    if (cache.isEmpty() ||
        VersionRules::readString(cache, QStringLiteral("clear")) != QLatin1String("true"))
        return;
    const QString ver = VersionRules::readString(cache, QStringLiteral("ver"));
    if (!VersionRules::shouldClearCache(ver, input.clearCacheVersion))
        return;
    d.clearCache = true;
    d.cacheVersion = ver;
}

void readRelease(const QJsonObject &win, const VersionFile::Input &input, VersionFile::Decisions &d)
{
    using Release = VersionFile::Release;
    const QString latestVersion = VersionRules::readString(win, QStringLiteral("latest-version"));
    const QString mainPage = VersionRules::readString(win, QStringLiteral("main-page"));
    const QString updateFlag = VersionRules::readString(win, QStringLiteral("updateflag"));
    const QString updateUrl = VersionRules::readString(win, QStringLiteral("update-url"));

    // An empty or broken address would leave the client without a start page, and one of
    // another origin would hand it (and the trust of the service's pages) to someone else.
    if (!mainPage.isEmpty() && mainPage != input.defaultMainPage) {
        if (VersionRules::isUsableMainPage(mainPage, input.serviceUrl, input.overHttps))
            d.newMainPage = mainPage;
        else
            d.refusedMainPage = mainPage;
    }

    qint32 latestKey = 0;
    switch (VersionRules::readRelease(latestVersion, &latestKey)) {
    case VersionRules::Release::Unusable:
        return;
    case VersionRules::Release::TooFewParts:
        d.release = Release::BrokenVersion;
        d.report = !input.silent;
        return;
    case VersionRules::Release::Valid:
        break;
    }
    if (latestKey <= VersionRules::ownReleaseKey()) {
        d.release = Release::UpToDate;
        d.report = !input.silent;
        return;
    }

    d.latestVersion = latestVersion;
    d.updateUrl = updateUrl;
    d.requireHttps = input.overHttps;
    if (updateFlag == QLatin1String("force")) {
        d.release = Release::Mandatory;
        return;
    }
    d.release = Release::Optional;
    // Mode 0 leaves optional releases to the user's own check; mode 1 asks, and only "是"
    // downloads; mode 2 downloads by itself and asks only whether to install. A check the user
    // asked for always asks first.
    d.background = input.updateMode == 2 && input.silent;
    d.ask = !d.background && !(input.updateMode == 0 && input.silent);
}

} // namespace

VersionFile::Decisions VersionFile::evaluate(const QByteArray &bytes, const Input &input)
{
    Decisions d;
    QJsonParseError parseError;
    const QJsonDocument document =
        QJsonDocument::fromJson(QString::fromUtf8(bytes).toUtf8(), &parseError);
    if (document.isNull() || parseError.error != QJsonParseError::NoError)
        return d;
    d.parsed = true;

    const QJsonObject root = document.object();
    readDirectives(root, d);

    const QJsonValue versionValue = root.value(QStringLiteral("version"));
    if (!versionValue.isObject())
        return d;
    const QJsonObject version = versionValue.toObject();
    readCacheOrder(version, input, d);

    const QJsonObject win = VersionRules::readObject(version, QStringLiteral("win"));
    if (win.isEmpty())
        return d;
    readRelease(win, input, d);
    return d;
}
