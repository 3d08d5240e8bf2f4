#include "platform/autostart.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QSaveFile>
#include <QSettings>

Q_LOGGING_CATEGORY(lcAutoStart, "norva.autostart")

namespace {

const char entryFileName[] = "example.kestrel.Norva.desktop";

#ifdef Q_OS_WIN
const char runKeyPath[] = "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const char runValueName[] = "Norva";
#else
bool writeEntry(const QString &path, const QByteArray &content)
{
    QFile existing(path);
    if (existing.open(QIODevice::ReadOnly) && existing.readAll() == content)
        return true;
    existing.close();
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        qCWarning(lcAutoStart) << "cannot create the directory of" << path;
        return false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size() ||
        !file.commit()) {
        qCWarning(lcAutoStart) << "cannot write" << path << file.errorString();
        return false;
    }
    return true;
}

bool removeEntry(const QString &path)
{
    QFile file(path);
    if (!file.exists() || file.remove())
        return true;
    qCWarning(lcAutoStart) << "cannot remove" << path << file.errorString();
    return false;
}
#endif

} // namespace

QString AutoStart::entryFilePath()
{
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    // The XDG rules say a relative value is invalid and is to be ignored.
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::homePath() + QStringLiteral("/.config");
    return QDir::cleanPath(base + QStringLiteral("/autostart/")) + QLatin1Char('/') +
           QLatin1String(entryFileName);
}

QString AutoStart::quotedExecArgument(const QString &programPath)
{
    if (programPath.isEmpty() || QDir::isRelativePath(programPath))
        return QString();
    QString quoted;
    for (const QChar c : programPath) {
        // Control characters cannot be carried through Exec reliably.
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return QString();
        // Inside a quoted argument these four are escaped with a backslash.
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') ||
            c == QLatin1Char('\\'))
            quoted += QLatin1Char('\\');
        // A literal percent sign is doubled, or it starts a field code.
        if (c == QLatin1Char('%'))
            quoted += QLatin1Char('%');
        quoted += c;
    }
    // The value is then a string, whose own escaping doubles every backslash once more.
    quoted.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QString AutoStart::desktopEntry(const QString &programPath)
{
    const QString exec = quotedExecArgument(programPath);
    if (exec.isEmpty())
        return QString();
    // TryExec: should the program vanish from this path, the session skips the entry.
    QString tryExec = programPath;
    tryExec.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=青隼\n"
                          "Name[en]=Norva\n"
                          "Comment=登录后在通知区域启动青隼\n"
                          "Comment[en]=Start Norva in the notification area at login\n"
                          "Icon=example.kestrel.Norva\n"
                          "TryExec=%1\n"
                          "Exec=%2 --hidden\n"
                          "Terminal=false\n"
                          "X-GNOME-Autostart-enabled=true\n")
        .arg(tryExec, exec);
}

QString AutoStart::runKeyCommand(const QString &programPath)
{
    // Spelled out rather than toNativeSeparators, so the rule reads the same on every system.
    QString path = programPath;
    path.replace(QLatin1Char('/'), QLatin1Char('\\'));
    return QLatin1Char('"') + path + QStringLiteral("\" --hidden");
}

bool AutoStart::apply(bool enabled)
{
    return apply(enabled, QCoreApplication::applicationFilePath());
}

bool AutoStart::apply(bool enabled, const QString &programPath)
{
#ifdef Q_OS_WIN
    QSettings run(QLatin1String(runKeyPath), QSettings::NativeFormat);
    const QString name = QLatin1String(runValueName);
    if (enabled && !programPath.isEmpty()) {
        const QString command = runKeyCommand(programPath);
        if (run.value(name).toString() != command)
            run.setValue(name, command);
    } else {
        run.remove(name);
    }
    run.sync();
    if (run.status() != QSettings::NoError) {
        qCWarning(lcAutoStart) << "cannot update the Run key";
        return false;
    }
    return true;
#else
    const QString path = entryFilePath();
    if (!enabled)
        return removeEntry(path);
    const QString entry = desktopEntry(programPath);
    if (entry.isEmpty()) {
        // Better no entry than one that starts something else.
        qCWarning(lcAutoStart) << "the program path" << programPath
                               << "cannot be written into an autostart entry";
        removeEntry(path);
        return false;
    }
    return writeEntry(path, entry.toUtf8());
#endif
}
