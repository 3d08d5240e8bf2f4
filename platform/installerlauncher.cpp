#include "platform/installerlauncher.h"

#include <QDir>
#include <QFile>
#include <QProcess>

bool InstallerLauncher::isAcceptedWindowsName(const QString &fileName)
{
    if (fileName.trimmed().isEmpty())
        return false;
    for (const QChar c : fileName) {
        const ushort u = c.unicode();
        const bool accepted = (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') ||
                              (u >= '0' && u <= '9') || u == '.' || u == '-' || u == '_' ||
                              u == ' ' || u == '(' || u == ')';
        if (!accepted)
            return false;
    }
    return true;
}

QString InstallerLauncher::windowsCommandText(const QString &fileName)
{
    return QStringLiteral("PING 127.0.0.1 -n 2 > NUL & \"") + fileName + QLatin1Char('"');
}

QString InstallerLauncher::shellCommandText()
{
    return QStringLiteral("sleep 1; exec \"./$1\"");
}

bool InstallerLauncher::launch(const QString &directory, const QString &fileName)
{
    if (fileName.isEmpty() || !QDir(directory).exists())
        return false;
#ifdef Q_OS_WIN
    if (!isAcceptedWindowsName(fileName))
        return false;
    QProcess process;
    process.setProgram(QStringLiteral("cmd.exe"));
    // Native arguments: Qt's own quoting would escape the inner quotes in a way cmd.exe does not
    // understand. cmd.exe strips the outer pair and runs the text as written.
    process.setNativeArguments(QStringLiteral("/C \"") + windowsCommandText(fileName) +
                               QLatin1Char('"'));
    process.setWorkingDirectory(QDir::toNativeSeparators(directory));
    return process.startDetached();
#else
    const QString path = QDir(directory).filePath(fileName);
    QFile::setPermissions(path, QFile::permissions(path) | QFile::ExeOwner | QFile::ExeUser);
    return QProcess::startDetached(
        QStringLiteral("/bin/sh"),
        {QStringLiteral("-c"), shellCommandText(), QStringLiteral("sh"), fileName}, directory);
#endif
}
