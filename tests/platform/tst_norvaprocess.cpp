// NORVA_TEST_RUN_SERIAL: runs the real program, grabs a global hotkey and presses keys.
#include "platform/autostart.h"
#include "tests/support/testhttpserver.h"
#include "tests/support/testsupport.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSettings>
#include <QTcpServer>
#include <QTemporaryDir>

namespace {

// This environment with a home and XDG folders of its own (0700) under dir, no debugging port.
QProcessEnvironment ownHome(QProcessEnvironment env, const QString &dir)
{
    for (const char *name :
         {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR"}) {
        QDir().mkpath(dir + '/' + name);
        QFile::setPermissions(dir + '/' + name,
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        env.insert(name, dir + '/' + name);
    }
    env.remove("QTWEBENGINE_REMOTE_DEBUGGING");
    return env;
}

void stop(QProcess &process)
{
    process.terminate();
    if (!process.waitForFinished(10000))
        process.kill();
}

} // namespace

// The real program, started hidden as the session's autostart does: a second start and the
// hotkey bring its window back, and closing it hides it to the tray.
class TestNorvaProcess : public QObject
{
    Q_OBJECT

    TestHttpServer m_server;
    QProcess m_first;

    // The main window carries the product name until the page names it.
    QStringList mainWindows()
    {
        return NorvaTest::visibleWindows(m_first.processId(), "^(青隼|Norva Process Page)$");
    }
    bool waitVisible(bool visible)
    {
        return NorvaTest::waitFor([&] { return mainWindows().isEmpty() != visible; }, 30000);
    }

private slots:
    void initTestCase()
    {
        if (const char *why = NorvaTest::missingXdotool())
            QSKIP(why);
        QVERIFY(m_server.listen());
        // The page is held back until the hidden start has been looked at.
        TestHttpServer::Response page;
        page.body = "<title>Norva Process Page</title>Norva";
        page.stallAfter = 8;
        m_server.setResponse("/", page);
        // Unreadable version information ends the start-up check without a box.
        m_server.setHtml("/kst-client/updates/version.json", "not json");
        // The copies inherit this process's temporary home and directories.
        qputenv("NORVA_SERVICE_URL", m_server.url().toString().toUtf8());
        qunsetenv("QTWEBENGINE_REMOTE_DEBUGGING"); // the copies ask for no debugging port

        // Autostart on, with an entry left by a copy of the program that is gone; closing hides
        // to the tray, and a hotkey nobody else on this display uses.
        QSettings settings;
        settings.setValue("GeneralSettings/isAutoRun", true);
        settings.setValue("GeneralSettings/isQuitWhenClose", false);
        settings.setValue("ShortCutSettings/openSoftware", "Ctrl+Alt+Shift+F10");
        settings.sync();
        QVERIFY(AutoStart::apply(true, "/nonexistent/norva"));

        m_first.setProcessChannelMode(QProcess::ForwardedChannels);
        m_first.start(QStringLiteral(NORVA_BINARY), {"--hidden"});
    }

    void cleanupTestCase() { stop(m_first); }

    // A hidden start puts its tray icon up at once: while the page loads it is the only way to
    // the window. The version check starts with the window, not after its page: the page's
    // first notices need the rules it delivers. The entry is rewritten for the program that
    // runs now.
    void hiddenStartLoadsTheServiceAndRewritesTheEntry()
    {
        QVERIFY(NorvaTest::waitFor(
            [&] {
                return m_first.state() == QProcess::NotRunning || m_server.requests().contains("/");
            },
            90000));
        // Well before the 15 s after which any window puts its icon up and the work left for
        // after the first page starts anyway.
        QVERIFY(NorvaTest::waitFor(
            [&] { return !NorvaTest::visibleWindows(m_first.processId(), ".*").isEmpty(); }, 5000));
        QVERIFY(mainWindows().isEmpty());
        QVERIFY(NorvaTest::waitFor(
            [&] {
                return m_server.requests().contains("/kst-client/updates/version.json?v=1.7.5");
            },
            5000));
        QCOMPARE(m_server.requests().count("/"), 1); // still loading the first page
        // Nothing asked for a debugging port, so nobody can reach the pages through one.
        QCOMPARE(NorvaTest::listeningTcpPorts(m_first.processId()), QList<quint16>{});
        m_server.release("/");

        const QString expected =
            AutoStart::desktopEntry(QFileInfo(NORVA_BINARY).canonicalFilePath());
        QVERIFY(NorvaTest::waitFor(
            [&] {
                QFile entry(AutoStart::entryFilePath());
                return m_first.state() == QProcess::NotRunning ||
                       (entry.open(QIODevice::ReadOnly) &&
                        QString::fromUtf8(entry.readAll()) == expected);
            },
            90000));
        QCOMPARE(m_first.state(), QProcess::Running);
        QVERIFY(mainWindows().isEmpty());
    }

    void secondStartAndHotkeyBringTheWindowBack()
    {
        QProcess second; // hands over and ends by itself, options and all
        second.start(QStringLiteral(NORVA_BINARY), {"--hidden", "--remote-debugging-port=1"});
        QVERIFY2(second.waitForFinished(15000), "the second copy kept running");
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QVERIFY(waitVisible(true));
        const QStringList windows = mainWindows();
        QCOMPARE(windows.size(), 1);
        QVERIFY(NorvaTest::waitFor([&] {
            return !NorvaTest::visibleWindows(m_first.processId(), "^Norva Process Page$")
                        .isEmpty();
        }));

        NorvaTest::requestClose(windows.first().toUInt());
        QVERIFY(waitVisible(false));
        QCOMPARE(m_first.state(), QProcess::Running);
        QCOMPARE(QProcess::execute("xdotool", {"key", "ctrl+alt+shift+F10"}), 0);
        QVERIFY(waitVisible(true));
        QCOMPARE(m_first.state(), QProcess::Running);
        QCOMPARE(NorvaTest::listeningTcpPorts(m_first.processId()), QList<quint16>{});
    }

    // Asked for on the command line, the engine's debugging port answers. A copy with a home of
    // its own runs beside the first one.
    void debuggingPortOnlyWhenAsked()
    {
        QTemporaryDir home(QDir::tempPath() + "/norva-port-XXXXXX");
        const QProcessEnvironment env =
            ownHome(QProcessEnvironment::systemEnvironment(), home.path());
        QSettings settings(home.path() + "/XDG_CONFIG_HOME/Kestrel/Norva.conf",
                           QSettings::IniFormat);
        settings.setValue("ShortCutSettings/openSoftware", QString()); // no global key grab
        settings.sync();
        QTcpServer probe; // a port free at this moment
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        const quint16 port = probe.serverPort();
        probe.close();

        QProcess copy;
        copy.setProcessEnvironment(env);
        copy.setProcessChannelMode(QProcess::ForwardedChannels);
        // The value as an argument of its own, which the client hands on to the engine.
        copy.start(QStringLiteral(NORVA_BINARY),
                   {"--remote-debugging-port", QString::number(port)});
        const auto end = qScopeGuard([&copy] { stop(copy); });
        QVERIFY(NorvaTest::waitFor(
            [&] {
                return copy.state() == QProcess::NotRunning ||
                       NorvaTest::listeningTcpPorts(copy.processId()).contains(port);
            },
            90000));
        QCOMPARE(copy.state(), QProcess::Running);
        QNetworkAccessManager manager;
        QNetworkReply *reply = manager.get(
            QNetworkRequest(QUrl(QString("http://127.0.0.1:%1/json/version").arg(port))));
        QSignalSpy finished(reply, &QNetworkReply::finished);
        QVERIFY(finished.wait(20000));
        QCOMPARE(reply->error(), QNetworkReply::NoError);
        QVERIFY(QJsonDocument::fromJson(reply->readAll()).object().contains("Browser"));
        reply->deleteLater();
    }

    // A panel that starts after the program (autostart at login) still gets its icon. Until
    // then a hidden start shows its window, the only way to it. A display of its own, so that
    // no tray host is there at first.
    void trayHostThatComesLater()
    {
        NorvaTest::PrivateXServer x;
        QVERIFY2(!x.display().isEmpty(), "Xvfb did not start");
        QTemporaryDir home;
        QProcess late;
        m_server.setHtml("/", "<title>Norva Process Page</title>Norva");
        // xdotool and trayer on the private display.
        const QByteArray display = qgetenv("DISPLAY");
        qputenv("DISPLAY", x.display().toLatin1());
        const auto restore = qScopeGuard([&display] { qputenv("DISPLAY", display); });
        const auto windows = [&late](const QString &title) {
            return NorvaTest::visibleWindows(late.processId(), title);
        };
        late.setProcessEnvironment(ownHome(x.environment(), home.path()));
        late.setProcessChannelMode(QProcess::ForwardedChannels);
        late.start(QStringLiteral(NORVA_BINARY), {"--hidden"});
        const auto stopLate = qScopeGuard([&late] { stop(late); });
        QVERIFY(NorvaTest::waitFor(
            [&] {
                return late.state() == QProcess::NotRunning ||
                       !windows("^Norva Process Page$").isEmpty();
            },
            90000));
        QCOMPARE(late.state(), QProcess::Running);
        const QStringList shown = windows(".*");

        QProcess trayer;
        trayer.start("trayer", {"--edge", "top", "--align", "right", "--widthtype", "request",
                                "--height", "24"});
        if (!trayer.waitForStarted(10000))
            QSKIP("no trayer here");
        const auto stopTrayer = qScopeGuard([&trayer] { stop(trayer); });
        // The icon: one more window of the program, docked into the host.
        QVERIFY(NorvaTest::waitFor([&] { return windows(".*").size() > shown.size(); }, 30000));
        QCOMPARE(windows("^Norva Process Page$").size(), 1);
    }
};

NORVA_TEST_MAIN(TestNorvaProcess)
#include "tst_norvaprocess.moc"
