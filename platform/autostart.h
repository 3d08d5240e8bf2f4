#pragma once

#include <QString>

// Starting the program with the user's session: an XDG autostart entry on Linux, the per-user
// Run key on Windows. The entry always names the program that made it, with --hidden.
class AutoStart
{
public:
    // Makes the entry match the setting for the program at programPath: written (or rewritten
    // when it names another path) when enabled, removed when not. False when that failed.
    static bool apply(bool enabled, const QString &programPath);
    // The same for the running program.
    static bool apply(bool enabled);

    // The file of the XDG entry: $XDG_CONFIG_HOME/autostart, ~/.config/autostart when that
    // variable is unset or not absolute.
    static QString entryFilePath();
    // The whole XDG entry for a program; empty when the path cannot be written into one.
    static QString desktopEntry(const QString &programPath);
    // The path quoted as one argument of a desktop entry's Exec key, already escaped as a
    // string value; empty when it cannot be represented.
    static QString quotedExecArgument(const QString &programPath);
    // The command the Windows Run key holds.
    static QString runKeyCommand(const QString &programPath);
};
