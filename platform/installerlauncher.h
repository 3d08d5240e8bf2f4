#pragma once

#include <QString>

// Starts a downloaded installer detached, about one second later, from its own directory, so
// that it runs after the client has quit. The installer's name never becomes interpreter syntax.
class InstallerLauncher
{
public:
    // Windows' command interpreter cannot take the name as a separate argument, so only names
    // made of letters, digits, ".", "-", "_", " ", "(" and ")" are accepted there.
    static bool isAcceptedWindowsName(const QString &fileName);
    // "PING 127.0.0.1 -n 2 > NUL & " followed by the quoted name.
    static QString windowsCommandText(const QString &fileName);
    // The fixed shell text; the name arrives as "$1".
    static QString shellCommandText();

    // Starts the installer fileName found in directory; false when it could not be started.
    static bool launch(const QString &directory, const QString &fileName);
};
