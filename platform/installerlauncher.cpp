#include "platform/installerlauncher.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

InstallerLauncher::Platform InstallerLauncher::hostPlatform()
{
#ifdef Q_OS_WIN
    return Platform::Windows;
#else
    return Platform::Other;
#endif
}

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

InstallerLauncher::Command InstallerLauncher::command(const QString &directory,
                                                      const QString &fileName, Platform platform)
{
    Command c;
    if (fileName.isEmpty() || fileName.contains(QLatin1Char('/')) || !QDir(directory).exists() ||
        !QFileInfo(QDir(directory).filePath(fileName)).isFile())
        return c;
    if (platform == Platform::Windows) {
        if (fileName.contains(QLatin1Char('\\')) || !isAcceptedWindowsName(fileName))
            return c;
        c.program = QStringLiteral("cmd.exe");
        // Native arguments: Qt's own quoting would escape the inner quotes in a way cmd.exe
        // does not understand. cmd.exe strips the outer pair and runs the text as written.
        c.nativeArguments =
            QStringLiteral("/C \"") + windowsCommandText(fileName) + QLatin1Char('"');
        c.workingDirectory = QDir::toNativeSeparators(directory);
    } else {
        c.program = QStringLiteral("/bin/sh");
        c.arguments =
            QStringList{QStringLiteral("-c"), shellCommandText(), QStringLiteral("sh"), fileName};
        c.workingDirectory = directory;
    }
    c.ok = true;
    return c;
}

bool InstallerLauncher::launch(const QString &directory, const QString &fileName)
{
    const Command c = command(directory, fileName, hostPlatform());
    if (!c.ok)
        return false;
    QProcess process;
    process.setProgram(c.program);
    process.setArguments(c.arguments);
#ifdef Q_OS_WIN
    process.setNativeArguments(c.nativeArguments);
#else
    const QString path = QDir(directory).filePath(fileName);
    QFile::setPermissions(path, QFile::permissions(path) | QFile::ExeOwner | QFile::ExeUser);
#endif
    process.setWorkingDirectory(c.workingDirectory);
    return process.startDetached();
}
