#pragma once

#include "platform/installerlauncher.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QUrl>

// The pure rules of the version check and the installer download: lenient reading of the
// version file, the version keys and their comparison, the cache order and the target name.
class VersionRules
{
public:
    // Lenient readers: a missing key or a value of another type reads as the empty value.
    static QJsonObject readObject(const QJsonObject &parent, const QString &key);
    static QString readString(const QJsonObject &parent, const QString &key);
    // Only an integral JSON number that fits an int counts; anything else reads as 0.
    static int readInt(const QJsonObject &parent, const QString &key);

    // Splits at "." and drops the empty parts.
    static QStringList parts(const QString &text);
    // A decimal integer; text that is not a number reads as 0.
    static int partValue(const QString &part);

    enum class Release {
        Unusable,    // empty or without any "."
        TooFewParts, // fewer than three parts after splitting
        Valid
    };
    // Reads "latest-version"; for a valid one, *key receives its release key.
    static Release readRelease(const QString &text, qint32 *key);
    // ((major << 8 | minor) << 8) | patch, as a signed 32-bit value.
    static qint32 releaseKey(int major, int minor, int patch);
    // The key of the program's own version (0x10705 for 1.7.5).
    static qint32 ownReleaseKey();

    // (major << 8 | minor) << 8, as a signed 32-bit value.
    static qint32 cacheKey(int major, int minor);
    // Whether a cache order for "ver" must clear, given the version of the last clearing.
    static bool shouldClearCache(const QString &ver, const QString &storedVersion);

    // A main page address from the version file that can be stored and loaded: one of the
    // service's own origin, and no http one after an https version file.
    static bool isUsableMainPage(const QString &page, const QString &serviceUrl, bool overHttps);

    using Platform = InstallerLauncher::Platform;
    static Platform hostPlatform() { return InstallerLauncher::hostPlatform(); }

    // The installer's file name taken from the download address. A name that could leave the
    // download directory, none at all, or on Windows one the command interpreter cannot take
    // safely, becomes "norva-setup-" + version (with ".exe" on Windows).
    static QString installerFileName(const QUrl &url, const QString &version,
                                     Platform platform = hostPlatform());

    // Whether the command interpreter can start the file as an installer. On Windows the name
    // must end in ".exe" or ".msi" and must not name a device (CON, NUL, COM0-9, LPT0-9, also with
    // an extension such as NUL.exe); elsewhere any name will do.
    static bool isStartableInstallerName(const QString &fileName,
                                         Platform platform = hostPlatform());

    // Whether the installer may come from url: after a version file that came over https,
    // only https will do, for the installer and for every redirect.
    static bool isAllowedDownload(const QUrl &url, bool requireHttps);
    // Whether a finished reply can be an installer: something arrived, and it is no web page
    // (a captive portal's login page, an error page).
    static bool looksLikeInstaller(const QByteArray &contentType, qint64 bytes);
};
