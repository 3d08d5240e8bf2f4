// The installer's file name from the download address and version of the version file, on
// both platforms, and the command that would start it. The text up to the first newline is
// the version, the rest the address.
#include "fuzz/fuzzcheck.h"
#include "platform/installerlauncher.h"
#include "update/versionrules.h"

#include <QByteArray>
#include <QUrl>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), int(size));
    const int newline = bytes.indexOf('\n');
    const QString version = QString::fromUtf8(newline < 0 ? QByteArray() : bytes.left(newline));
    const QString address = QString::fromUtf8(newline < 0 ? bytes : bytes.mid(newline + 1));

    for (const QUrl &url : {QUrl(address), QUrl::fromUserInput(address)}) {
        if (VersionRules::isAllowedDownload(url, true))
            FUZZ_CHECK(url.scheme().toLower() == QLatin1String("https"));
        const QString other =
            VersionRules::installerFileName(url, version, VersionRules::Platform::Other);
        FUZZ_CHECK(!other.isEmpty() && other != QLatin1String(".") && other != QLatin1String(".."));
        FUZZ_CHECK(!other.contains(QLatin1Char('/')) && !other.contains(QLatin1Char('\\')) &&
                   !other.contains(QChar(0)));
        const QString windows =
            VersionRules::installerFileName(url, version, VersionRules::Platform::Windows);
        // Whatever the server sends, cmd.exe only ever sees a plain name.
        FUZZ_CHECK(InstallerLauncher::isAcceptedWindowsName(windows));
        FUZZ_CHECK(windows != QLatin1String(".") && windows != QLatin1String(".."));
        if (windows.startsWith(QLatin1String("norva-setup-")) && windows != other)
            FUZZ_CHECK(windows.endsWith(QLatin1String(".exe")));
        // What may be started is an installer and never a device.
        if (VersionRules::isStartableInstallerName(windows, VersionRules::Platform::Windows)) {
            const QString lower = windows.toLower();
            FUZZ_CHECK(lower.endsWith(QLatin1String(".exe")) ||
                       lower.endsWith(QLatin1String(".msi")));
            const QString base = lower.section(QLatin1Char('.'), 0, 0).trimmed();
            FUZZ_CHECK(base != QLatin1String("nul") && base != QLatin1String("con"));
        }
        // A directory that does not exist never gives a command to run.
        FUZZ_CHECK(!InstallerLauncher::command(QStringLiteral("/nonexistent-norva-fuzz"), windows,
                                               InstallerLauncher::Platform::Windows)
                        .ok);
    }
    VersionRules::looksLikeInstaller(bytes, qint64(size));
    return 0;
}
