// A tiny single-instance program for tst_singleapplication.
//   singleapp_probe ID [--message TEXT] [--timeout MS] [--hidden] [--minimized] [--maximized]
//                      [--early]
// --early first looks for a running instance without an application object, as the program
// does; one found that way prints "delivered early" at once.
// The first start prints "primary" and then one line per message received; later starts
// print "sending", then "delivered" or "failed", and exit 0. The message "quit" ends the primary.
#include "platform/qtsingleapplication.h"

#include <QTextStream>
#include <QWidget>

#include <cstdio>

namespace {
void say(const QString &line)
{
    QTextStream out(stdout);
    out << line << '\n';
    out.flush();
}

QString argAfter(const QStringList &args, const QString &name, const QString &fallback)
{
    const int i = args.indexOf(name);
    return i >= 0 && i + 1 < args.size() ? args.at(i + 1) : fallback;
}
} // namespace

int main(int argc, char *argv[])
{
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    if (args.isEmpty()) {
        std::fprintf(stderr, "usage: singleapp_probe ID [options]\n");
        return 2;
    }
    const QString id = args.first();

    if (args.contains(QStringLiteral("--early")) &&
        QtSingleApplication::messageRunningInstance(
            id, argAfter(args, QStringLiteral("--message"), QStringLiteral("hello")),
            argAfter(args, QStringLiteral("--timeout"), QStringLiteral("10000")).toInt())) {
        say(QStringLiteral("delivered early"));
        return 0;
    }

    QtSingleApplication app(id, argc, argv);
    if (app.isRunning()) {
        say(QStringLiteral("sending"));
        const bool ok = app.sendMessage(
            argAfter(args, QStringLiteral("--message"), QStringLiteral("hello")),
            argAfter(args, QStringLiteral("--timeout"), QStringLiteral("10000")).toInt());
        say(ok ? QStringLiteral("delivered") : QStringLiteral("failed"));
        return 0;
    }

    QApplication::setQuitOnLastWindowClosed(false);
    QWidget window;
    window.setWindowTitle(QStringLiteral("singleapp-probe ") + id);
    window.resize(200, 100);
    app.setActivationWindow(&window, true);
    QObject::connect(&app, &QtSingleApplication::messageReceived, &app,
                     [&](const QString &message) {
                         say(QStringLiteral("message %1 state=%2 visible=%3")
                                 .arg(message)
                                 .arg(int(window.windowState()))
                                 .arg(window.isVisible() ? 1 : 0));
                         if (message == QLatin1String("quit"))
                             QCoreApplication::quit();
                     });

    Qt::WindowStates state;
    if (args.contains(QStringLiteral("--maximized")))
        state |= Qt::WindowMaximized;
    if (args.contains(QStringLiteral("--minimized")))
        state |= Qt::WindowMinimized;
    window.setWindowState(state);
    if (!args.contains(QStringLiteral("--hidden"))) {
        window.show();
        say(QStringLiteral("window %1").arg(window.winId()));
    }
    say(QStringLiteral("primary state=%1 visible=%2")
            .arg(int(window.windowState()))
            .arg(window.isVisible() ? 1 : 0));
    return app.exec();
}
