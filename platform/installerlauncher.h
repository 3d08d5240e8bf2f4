#pragma once

#include <QString>
#include <QStringList>

// Starts a downloaded installer detached, about one second later, from its own directory, so
// that it runs after the client has quit. The installer's name never becomes interpreter syntax.
class InstallerLauncher
{
public:
    enum class Platform { Windows, Other };
    static Platform hostPlatform();

    // How the installer is started on one platform; usable only when ok.
    struct Command
    {
        bool ok = false;
        QString program;
        QStringList arguments;
        QString nativeArguments; // Windows: the whole command line after the program
        QString workingDirectory;
    };

    // Windows' command interpreter cannot take the name as a separate argument, so only names
    // made of letters, digits, ".", "-", "_", " ", "(" and ")" are accepted there.
    static bool isAcceptedWindowsName(const QString &fileName);
    // "PING 127.0.0.1 -n 2 > NUL & " followed by the quoted name.
    static QString windowsCommandText(const QString &fileName);
    // The fixed shell text; the name arrives as "$1".
    static QString shellCommandText();

    // The command for the installer fileName in directory. Not ok when the file is not there
    // or its name is not safe: the interpreter itself would start, and the client would quit
    // for an installer that never runs.
    static Command command(const QString &directory, const QString &fileName, Platform platform);

    // Starts the installer fileName found in directory; false when it could not be started.
    static bool launch(const QString &directory, const QString &fileName);
};
