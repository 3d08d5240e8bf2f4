#include "update/versionrules.h"

#include "store/serviceurl.h"

#include <QJsonValue>

#include <climits>
#include <cmath>

QJsonObject VersionRules::readObject(const QJsonObject &parent, const QString &key)
{
    const QJsonValue value = parent.value(key);
    return value.isObject() ? value.toObject() : QJsonObject();
}

QString VersionRules::readString(const QJsonObject &parent, const QString &key)
{
    const QJsonValue value = parent.value(key);
    return value.isString() ? value.toString() : QString();
}

int VersionRules::readInt(const QJsonObject &parent, const QString &key)
{
    const QJsonValue value = parent.value(key);
    if (!value.isDouble())
        return 0;
    const double number = value.toDouble();
    // Checked before converting: a server value beyond int must not wrap into something usable.
    if (!std::isfinite(number) || number != std::floor(number) || number < double(INT_MIN) ||
        number > double(INT_MAX))
        return 0;
    return int(number);
}

QStringList VersionRules::parts(const QString &text)
{
    return text.split(QLatin1Char('.'), Qt::SkipEmptyParts);
}

int VersionRules::partValue(const QString &part)
{
    bool ok = false;
    const int value = part.toInt(&ok, 10);
    return ok ? value : 0;
}

qint32 VersionRules::releaseKey(int major, int minor, int patch)
{
    // Unsigned arithmetic so that large parts wrap the way a 32-bit register does.
    const quint32 key = ((quint32(major) << 8 | quint32(minor)) << 8) | quint32(patch);
    return qint32(key);
}

qint32 VersionRules::cacheKey(int major, int minor)
{
    const quint32 key = (quint32(major) << 8 | quint32(minor)) << 8;
    return qint32(key);
}

VersionRules::Release VersionRules::readRelease(const QString &text, qint32 *key)
{
    if (text.isEmpty() || !text.contains(QLatin1Char('.')))
        return Release::Unusable;
    const QStringList p = parts(text);
    if (p.size() < 3)
        return Release::TooFewParts;
    if (key)
        *key = releaseKey(partValue(p.at(0)), partValue(p.at(1)), partValue(p.at(2)));
    return Release::Valid;
}

qint32 VersionRules::ownReleaseKey()
{
    qint32 key = 0;
    readRelease(QStringLiteral(NORVA_VERSION), &key);
    return key;
}

bool VersionRules::shouldClearCache(const QString &ver, const QString &storedVersion)
{
    const QStringList verParts = parts(ver);
    // An order without any version part cannot be compared with anything: it clears nothing.
    if (verParts.isEmpty())
        return false;
    if (ver.contains(QLatin1Char('.'))) {
        const QStringList storedParts = parts(storedVersion);
        // Nothing usable recorded counts as never cleared.
        if (storedParts.isEmpty())
            return true;
        if (verParts.size() >= 2 && storedParts.size() >= 2)
            return cacheKey(partValue(verParts.at(0)), partValue(verParts.at(1))) >
                   cacheKey(partValue(storedParts.at(0)), partValue(storedParts.at(1)));
        return partValue(verParts.at(0)) > partValue(storedParts.at(0));
    }
    return partValue(ver) > partValue(storedVersion);
}

bool VersionRules::isUsableMainPage(const QString &page, const QString &serviceUrl, bool overHttps)
{
    return ServiceUrl::isMainPageOf(page, serviceUrl, overHttps);
}

QString VersionRules::installerFileName(const QUrl &url, const QString &version, Platform platform)
{
    const bool windows = platform == Platform::Windows;
    const QString name = url.fileName(QUrl::FullyDecoded);
    bool usable = !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") &&
                  !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\')) &&
                  !name.contains(QChar(0));
    // cmd.exe reads the name as command text: anything that could be syntax there is replaced.
    if (usable && windows)
        usable = InstallerLauncher::isAcceptedWindowsName(name);
    if (usable)
        return name;

    QString fallback = QStringLiteral("norva-setup-") + version;
    // The version comes from the server too; it must not smuggle a path (or, on Windows, any
    // interpreter syntax) in either.
    for (QChar &c : fallback) {
        const ushort u = c.unicode();
        const bool plain = (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') ||
                           (u >= '0' && u <= '9') || u == '.' || u == '-' || u == '_';
        if (windows ? !plain : (c == QLatin1Char('/') || c == QLatin1Char('\\') || u == 0))
            c = QLatin1Char('_');
    }
    if (windows)
        fallback += QStringLiteral(".exe");
    return fallback;
}

bool VersionRules::isStartableInstallerName(const QString &fileName, Platform platform)
{
    if (platform != Platform::Windows)
        return true;
    const QString lower = fileName.toLower();
    if (!lower.endsWith(QLatin1String(".exe")) && !lower.endsWith(QLatin1String(".msi")))
        return false;
    // Windows ignores the extension, and blanks before it, when it looks for a device; blanks in
    // front are taken away too, to be safe.
    const QString base = lower.section(QLatin1Char('.'), 0, 0).trimmed();
    if (base.isEmpty())
        return false;
    static const QStringList devices = {QStringLiteral("con"), QStringLiteral("prn"),
                                        QStringLiteral("aux"), QStringLiteral("nul")};
    if (devices.contains(base))
        return false;
    const bool numbered =
        base.size() == 4 &&
        (base.startsWith(QLatin1String("com")) || base.startsWith(QLatin1String("lpt"))) &&
        base.at(3) >= QLatin1Char('0') && base.at(3) <= QLatin1Char('9');
    return !numbered;
}

bool VersionRules::isAllowedDownload(const QUrl &url, bool requireHttps)
{
    return !requireHttps || url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0;
}

bool VersionRules::looksLikeInstaller(const QByteArray &contentType, qint64 bytes)
{
    if (bytes <= 0)
        return false;
    const QByteArray mime = contentType.split(';').first().trimmed().toLower();
    return mime != "text/html";
}
