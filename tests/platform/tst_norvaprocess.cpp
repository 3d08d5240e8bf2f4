// NORVA_TEST_RUN_SERIAL: runs the real program, grabs a global hotkey and presses keys.
#include "tests/support/testhttpserver.h"
#include "tests/support/testsupport.h"

#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QX11Info>

#include <xcb/xcb.h>

#include <csignal>

namespace {

const QString pageTitle = QStringLiteral("Norva Process Page");

QStringList xdotool(const QStringList &args)
{
    QProcess p;
    p.start(QStringLiteral("xdotool"), args);
    if (!p.waitForFinished(20000))
        return {};
    return QString::fromUtf8(p.readAllStandardOutput())
        .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// The program's main window: titled with the product name until the page names it.
QStringList mainWindows(qint64 pid, bool onlyVisible)
{
    QStringList args{QStringLiteral("search")};
    if (onlyVisible)
        args << QStringLiteral("--onlyvisible");
    args << QStringLiteral("--all") << QStringLiteral("--pid") << QString::number(pid)
         << QStringLiteral("--name") << QStringLiteral("^(青隼|%1)$").arg(pageTitle);
    return xdotool(args);
}

// What the window manager sends when the user clicks the close button.
void requestClose(xcb_window_t window)
{
    xcb_connection_t *c = QX11Info::connection();
    auto atom = [c](const char *name) {
        xcb_intern_atom_reply_t *reply =
            xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(strlen(name)), name), nullptr);
        const xcb_atom_t a = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        free(reply);
        return a;
    };
    xcb_client_message_event_t event = {};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = atom("WM_PROTOCOLS");
    event.data.data32[0] = atom("WM_DELETE_WINDOW");
    event.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(c, 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char *>(&event));
    xcb_flush(c);
}

} // namespace

class TestNorvaProcess : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    TestHttpServer m_server;
    QProcessEnvironment m_env;
    QProcess m_first;
    QByteArray m_firstOutput;
    xcb_window_t m_window = 0;

    QProcess *startNorva(QProcess *process)
    {
        process->setProcessEnvironment(m_env);
        process->setProcessChannelMode(QProcess::MergedChannels);
        process->start(QStringLiteral(NORVA_BINARY), QStringList());
        return process;
    }

    bool windowVisible() { return !mainWindows(m_first.processId(), true).isEmpty(); }

    bool waitVisible(bool visible)
    {
        return NorvaTest::waitFor([&] { return windowVisible() == visible; }, 30000);
    }

    // A second copy with the same user environment must hand over and end by itself.
    void startSecondCopy()
    {
        QProcess second;
        startNorva(&second);
        QVERIFY(second.waitForStarted());
        QVERIFY2(second.waitForFinished(15000), "the second copy kept running");
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
    }

private slots:
    void initTestCase()
    {
        if (!QX11Info::isPlatformX11())
            QSKIP("needs an X server");
        if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
            QSKIP("needs xdotool");
        QVERIFY(m_dir.isValid());
        QVERIFY(m_server.listen());
        m_server.setHtml(
            QStringLiteral("/"),
            QStringLiteral("<html><head><title>%1</title></head><body>Norva</body></html>")
                .arg(pageTitle));
        // Unreadable version information ends the start-up check without a box.
        TestHttpServer::Response version;
        version.contentType = "application/json";
        version.body = "not json";
        m_server.setResponse(QStringLiteral("/kst-client/updates/version.json"), version);

        const QString home = m_dir.path();
        m_env = QProcessEnvironment::systemEnvironment();
        const QList<QPair<const char *, QString>> dirs{
            {"HOME", home + QStringLiteral("/home")},
            {"XDG_CONFIG_HOME", home + QStringLiteral("/config")},
            {"XDG_DATA_HOME", home + QStringLiteral("/data")},
            {"XDG_CACHE_HOME", home + QStringLiteral("/cache")},
            {"XDG_RUNTIME_DIR", home + QStringLiteral("/runtime")}};
        for (const auto &d : dirs) {
            QVERIFY(QDir().mkpath(d.second));
            m_env.insert(QString::fromLatin1(d.first), d.second);
        }
        QFile::setPermissions(home + QStringLiteral("/runtime"),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        m_env.insert(QStringLiteral("NORVA_SERVICE_URL"), m_server.url().toString());

        // Closing hides to the tray, and a hotkey nobody else on this display uses.
        QVERIFY(QDir().mkpath(home + QStringLiteral("/config/Kestrel")));
        QFile settings(home + QStringLiteral("/config/Kestrel/Norva.conf"));
        QVERIFY(settings.open(QIODevice::WriteOnly));
        settings.write("[GeneralSettings]\nisQuitWhenClose=false\n\n"
                       "[ShortCutSettings]\nopenSoftware=Ctrl+Alt+Shift+F10\n");
        settings.close();

        connect(&m_first, &QProcess::readyRead, this, [this] {
            m_firstOutput += m_first.readAll();
            if (m_firstOutput.size() > 200000)
                m_firstOutput = m_firstOutput.right(100000);
        });
        startNorva(&m_first);
        QVERIFY(m_first.waitForStarted());
        const bool shown = NorvaTest::waitFor(
            [&] { return windowVisible() || m_first.state() == QProcess::NotRunning; }, 90000);
        if (!shown || m_first.state() == QProcess::NotRunning)
            qWarning().noquote() << m_firstOutput.right(4000);
        QVERIFY(shown);
        QCOMPARE(m_first.state(), QProcess::Running);
        const QStringList windows = mainWindows(m_first.processId(), true);
        QCOMPARE(windows.size(), 1);
        m_window = windows.first().toUInt();
        QVERIFY(m_window);
    }

    void cleanupTestCase()
    {
        if (m_first.state() == QProcess::NotRunning)
            return;
        // Quitting on the last window is off, so it has to be told to stop.
        m_first.terminate();
        if (!m_first.waitForFinished(10000)) {
            m_first.kill();
            m_first.waitForFinished(10000);
        }
    }

    void serviceMainPageLoaded()
    {
        QVERIFY(
            NorvaTest::waitFor([&] { return m_server.requests().contains(QStringLiteral("/")); }));
        QVERIFY(NorvaTest::waitFor([&] {
            return !xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                             QStringLiteral("--pid"), QString::number(m_first.processId()),
                             QStringLiteral("--name"), QStringLiteral("^%1$").arg(pageTitle)})
                        .isEmpty();
        }));
    }

    void secondStartShowsAnUnmappedWindow()
    {
        xdotool({QStringLiteral("windowunmap"), QString::number(m_window)});
        QVERIFY(waitVisible(false));
        startSecondCopy();
        QVERIFY(waitVisible(true));
        // Still the one window of the one program.
        QCOMPARE(mainWindows(m_first.processId(), true), QStringList{QString::number(m_window)});
        QCOMPARE(m_first.state(), QProcess::Running);
    }

    void secondStartShowsAWindowClosedToTheTray()
    {
        requestClose(m_window);
        QVERIFY(waitVisible(false));
        QCOMPARE(m_first.state(), QProcess::Running);
        startSecondCopy();
        QVERIFY(waitVisible(true));
    }

    void hotkeyShowsAWindowClosedToTheTray()
    {
        requestClose(m_window);
        QVERIFY(waitVisible(false));
        QCOMPARE(QProcess::execute(QStringLiteral("xdotool"),
                                   {QStringLiteral("key"), QStringLiteral("ctrl+alt+shift+F10")}),
                 0);
        QVERIFY(waitVisible(true));
        QCOMPARE(m_first.state(), QProcess::Running);
    }
};

NORVA_TEST_MAIN(TestNorvaProcess)
#include "tst_norvaprocess.moc"
