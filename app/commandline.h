#pragma once

#include <QString>
#include <QStringList>

// The program's command line: --help, --version, --hidden and --remote-debugging-port. Anything
// else is left to Qt and the web engine, which read their own options from the same command line.
class CommandLine
{
public:
    enum Action { Run, ShowHelp, ShowVersion };

    struct Options
    {
        Action action = Run;
        bool hidden = false;
        // The web engine's debugging port the user asked for; 0 when none (or no valid one).
        int remoteDebuggingPort = 0;
    };

    // arguments[0] is the program.
    static Options parse(const QStringList &arguments);
    static QString helpText();
    static QString versionText();

    // Handles --help and --version before anything starts: prints and answers true.
    static bool printInformation(const Options &options, int &argc, char *argv[]);
    // The raw arguments of main, before Qt removes its own.
    static QStringList rawArguments(int argc, char *argv[]);
};
