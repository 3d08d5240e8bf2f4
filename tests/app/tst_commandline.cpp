#include "app/commandline.h"
#include "platform/autostart.h"
#include "tests/support/testhttpserver.h"
#include "tests/support/testsupport.h"

#include <QProcess>
#include <QSettings>

namespace {

const QString pageTitle = QStringLiteral("Norva Hidden Start");

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
    void parse_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("action");
        QTest::addColumn<bool>("hidden");
        const int run = CommandLine::Run;
        QTest::newRow("hidden") << QStringList{"--hidden"} << run << true;
        QTest::newRow("after a web engine switch")
            << QStringList{"--remote-debugging-port=9222", "--hidden"} << run << true;
        QTest::newRow("after Qt's option with its value")
            << QStringList{"-platform", "xcb", "--hidden"} << run << true;
        QTest::newRow("not an option after --") << QStringList{"--", "--hidden"} << run << false;
        QTest::newRow("longer name") << QStringList{"--hidden-extra"} << run << false;
        QTest::newRow("version") << QStringList{"--version"} << int(CommandLine::ShowVersion)
                                 << false;
        QTest::newRow("help wins")
            << QStringList{"--version", "--hidden", "--help"} << int(CommandLine::ShowHelp) << true;
    }

    void parse()
    {
        QFETCH(QStringList, args);
        QFETCH(int, action);
        QFETCH(bool, hidden);
        const CommandLine::Options options = CommandLine::parse(QStringList{"norva"} + args);
        QCOMPARE(int(options.action), action);
        QCOMPARE(options.hidden, hidden);
    }

    void informationWithoutStarting_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("expected");
        QTest::newRow("-v after Qt's option") << QStringList{"-platform", "xcb", "-v"} << "1.7.5\n";
        QTest::newRow("--help") << QStringList{"--help"} << QString();
    }

    void informationWithoutStarting()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, expected);
        const Run run = runWithoutDisplay(args);
        QCOMPARE(run.exitCode, 0);
        if (!expected.isEmpty()) {
            QCOMPARE(run.out, expected);
            return;
        }
        QVERIFY2(run.out.startsWith("Usage: norva [options]\n"), qPrintable(run.out));
        for (const char *option : {"--hidden", "--version", "--help"})
            QVERIFY2(run.out.contains(QLatin1String(option)), option);
        // Qt's own options are accepted but not advertised.
        QVERIFY(!run.out.contains("platform"));
    }

    void hiddenStartThenSecondStartShowsIt()
    {
        if (const char *why = NorvaTest::missingXdotool())
            QSKIP(why);
        TestHttpServer server;
        QVERIFY(server.listen());
        server.setHtml("/", "<title>" + pageTitle + "</title>hidden start");
        server.setHtml("/kst-client/updates/version.json", "not json");
        qputenv("NORVA_SERVICE_URL", server.url().toString().toUtf8());

        // Autostart on, with an entry left by a copy of the program that is gone; and no
        // global hotkey, so nothing else on this display is disturbed.
        QSettings settings(QSettings::NativeFormat, QSettings::UserScope, "Kestrel", "Norva");
        settings.setValue("GeneralSettings/isAutoRun", true);
        settings.setValue("ShortCutSettings/openSoftware", "");
        settings.sync();
        QVERIFY(AutoStart::apply(true, "/nonexistent/norva"));

        QProcess first;
        first.setProcessChannelMode(QProcess::ForwardedChannels);
        first.start(QStringLiteral(NORVA_BINARY), {"--hidden"});
        auto windows = [&] {
            return NorvaTest::visibleWindows(first.processId(), "^(青隼|" + pageTitle + ")$");
        };
        // The version check follows the point where the window would have been shown.
        QVERIFY(NorvaTest::waitFor(
            [&] {
                return first.state() == QProcess::NotRunning ||
                       server.requests().contains("/kst-client/updates/version.json?v=1.7.5");
            },
            90000));
        QCOMPARE(first.state(), QProcess::Running);
        QVERIFY(NorvaTest::waitFor([&] { return server.requests().contains("/"); }));
        QVERIFY(windows().isEmpty());

        // The entry was rewritten for the program that runs now.
        QFile entry(AutoStart::entryFilePath());
        QVERIFY(entry.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(entry.readAll()),
                 AutoStart::desktopEntry(QFileInfo(NORVA_BINARY).canonicalFilePath()));

        QProcess second;
        second.start(QStringLiteral(NORVA_BINARY), {"--hidden", "--remote-debugging-port=1"});
        QVERIFY2(second.waitForFinished(15000), "the second copy kept running");
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QVERIFY(NorvaTest::waitFor([&] { return windows().size() == 1; }, 30000));

        // Closing quits (the default), and the program ends normally.
        NorvaTest::requestClose(windows().constFirst().toUInt());
        QVERIFY(first.waitForFinished(30000));
        QCOMPARE(first.exitStatus(), QProcess::NormalExit);
        QCOMPARE(first.exitCode(), 0);
    }
};

NORVA_TEST_MAIN(TestCommandLine)
#include "tst_commandline.moc"
