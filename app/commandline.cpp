#include "app/commandline.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstdio>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace {

// Qt's own options that take a value; the next argument belongs to them.
const char *const qtValueOptions[] = {
    "platform",    "platformpluginpath", "platformtheme", "plugin", "qwindowgeometry",
    "qwindowicon", "qwindowtitle",       "session",       "style",  "stylesheet",
    "display",     "geometry",           "title",         "name",   "qmljsdebugger"};
const char *const qtFlagOptions[] = {"reverse", "widgetcount", "nograb", "dograb", "sync"};

struct Parser
{
    QCommandLineParser parser;
    QCommandLineOption hidden{QStringLiteral("hidden"),
                              QStringLiteral("Start in the notification area without showing "
                                             "the window (used when starting with the session).")};
    QCommandLineOption help{{QStringLiteral("h"), QStringLiteral("help"), QStringLiteral("?")},
                            QStringLiteral("Display this help and exit.")};
    QCommandLineOption version{{QStringLiteral("v"), QStringLiteral("version")},
                               QStringLiteral("Display the version and exit.")};
    // The engine does not take the port from the command line; main hands it over through
    // QTWEBENGINE_REMOTE_DEBUGGING.
    QCommandLineOption debuggingPort{
        QStringLiteral("remote-debugging-port"),
        QStringLiteral("Open the web engine's debugging port on 127.0.0.1:<port> (so does "
                       "QTWEBENGINE_REMOTE_DEBUGGING=<port>). Off unless asked for: any program "
                       "of any user of this computer can then read and control the pages, saved "
                       "logins included. The developer tools need no port."),
        QStringLiteral("port")};

    Parser()
    {
        // Qt's options are written with one dash ("-platform xcb"); read them the same way.
        parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
        parser.setApplicationDescription(
            QStringLiteral("Norva (青隼), the desktop client of the Kestrel objectives and tasks "
                           "service.\nA second start brings the running window to the front."));
        parser.addOption(help);
        parser.addOption(version);
        parser.addOption(hidden);
        parser.addOption(debuggingPort);
        for (const char *name : qtValueOptions) {
            QCommandLineOption option(QString::fromLatin1(name), QString(), QStringLiteral("v"));
            option.setFlags(QCommandLineOption::HiddenFromHelp);
            parser.addOption(option);
        }
        for (const char *name : qtFlagOptions) {
            QCommandLineOption option(QString::fromLatin1(name));
            option.setFlags(QCommandLineOption::HiddenFromHelp);
            parser.addOption(option);
        }
    }
};

void print(const QString &text, bool error)
{
#ifdef Q_OS_WIN
    // A GUI program started from Explorer has no console to print to.
    if (!GetConsoleWindow()) {
        MessageBoxW(nullptr, reinterpret_cast<const wchar_t *>(text.utf16()), L"Norva",
                    error ? MB_OK | MB_ICONERROR : MB_OK | MB_ICONINFORMATION);
        return;
    }
#endif
    FILE *out = error ? stderr : stdout;
    fputs(text.toLocal8Bit().constData(), out);
    fflush(out);
}

} // namespace

CommandLine::Options CommandLine::parse(const QStringList &arguments)
{
    Parser p;
    Options options;
    // Unknown options (Chromium switches for the web engine, say) do not stop parsing: the
    // options after them are still read.
    p.parser.parse(arguments);
    options.hidden = p.parser.isSet(p.hidden);
    if (p.parser.isSet(p.debuggingPort)) {
        bool ok = false;
        const int port = p.parser.value(p.debuggingPort).toInt(&ok);
        if (ok && port > 0 && port < 65536)
            options.remoteDebuggingPort = port;
    }
    if (p.parser.isSet(p.help))
        options.action = ShowHelp;
    else if (p.parser.isSet(p.version))
        options.action = ShowVersion;
    return options;
}

QString CommandLine::helpText()
{
    Parser p;
    QString text = p.parser.helpText();
    // The usage line names the program as it was started; the installed name reads better.
    const int end = text.indexOf(QLatin1Char('\n'));
    return QStringLiteral("Usage: norva [options]") + (end < 0 ? QString() : text.mid(end));
}

QString CommandLine::versionText()
{
    return QStringLiteral(NORVA_VERSION "\n");
}

bool CommandLine::printInformation(const Options &options, int &argc, char *argv[])
{
    switch (options.action) {
    case ShowHelp: {
        // The parser's help text asks the application object for the program name.
        QCoreApplication core(argc, argv);
        print(helpText(), false);
        return true;
    }
    case ShowVersion:
        print(versionText(), false);
        return true;
    case Run:
        break;
    }
    return false;
}

QStringList CommandLine::rawArguments(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return arguments;
}
