#include "app/commandline.h"
#include "tests/support/testsupport.h"

#include <QProcess>

#include <tuple>

namespace {

struct Run
{
    int exitCode = -1;
    QString out;
};

// Runs the real program to its end without any X display: the information options must
// answer before anything graphical starts.
Run runWithoutDisplay(const QStringList &args)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    env.remove("QT_QPA_PLATFORM");
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(NORVA_BINARY), args);
    Run run;
    if (p.waitForFinished(20000) && p.exitStatus() == QProcess::NormalExit)
        run.exitCode = p.exitCode();
    run.out = QString::fromLocal8Bit(p.readAllStandardOutput());
    return run;
}

} // namespace

class TestCommandLine : public QObject
{
    Q_OBJECT

private slots:
    void parse()
    {
        const int run = CommandLine::Run;
        // arguments, action, hidden, debugging port
        const std::tuple<QStringList, int, bool, int> cases[] = {
            {{"--hidden"}, run, true, 0},
            {{"--remote-debugging-port=9222", "--hidden"}, run, true, 9222},
            {{"--remote-debugging-port", "9222"}, run, false, 9222},
            {{"--remote-debugging-port=0"}, run, false, 0},
            {{"--remote-debugging-port=65536"}, run, false, 0},
            {{"--remote-debugging-port=x1"}, run, false, 0},
            {{"--enable-logging", "--hidden"}, run, true, 0}, // after an unknown engine switch
            {{"-platform", "xcb", "--hidden"}, run, true, 0}, // after Qt's option with its value
            {{"--", "--hidden"}, run, false, 0},              // not an option after --
            {{"--hidden-extra"}, run, false, 0},
            {{"--version"}, CommandLine::ShowVersion, false, 0},
            {{"--version", "--hidden", "--help"}, CommandLine::ShowHelp, true, 0}}; // help wins
        for (const auto &[args, action, hidden, port] : cases) {
            const CommandLine::Options options = CommandLine::parse(QStringList{"norva"} + args);
            QVERIFY2(int(options.action) == action && options.hidden == hidden &&
                         options.remoteDebuggingPort == port,
                     qPrintable(args.join(' ')));
        }
    }

    void informationWithoutStarting()
    {
        const Run version = runWithoutDisplay({"-platform", "xcb", "-v"});
        QCOMPARE(version.exitCode, 0);
        QCOMPARE(version.out, QString("1.7.5\n"));
        const Run help = runWithoutDisplay({"--help"});
        QCOMPARE(help.exitCode, 0);
        QVERIFY2(help.out.startsWith("Usage: norva [options]\n"), qPrintable(help.out));
        for (const char *option : {"--hidden", "--version", "--help", "--remote-debugging-port"})
            QVERIFY2(help.out.contains(QLatin1String(option)), option);
        // Qt's own options are accepted but not advertised.
        QVERIFY(!help.out.contains("platform"));
    }
};

NORVA_TEST_MAIN(TestCommandLine)
#include "tst_commandline.moc"
