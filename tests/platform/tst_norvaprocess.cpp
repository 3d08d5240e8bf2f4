// NORVA_TEST_RUN_SERIAL: runs the real program, grabs a global hotkey and presses keys.
#include "tests/support/testhttpserver.h"
#include "tests/support/testsupport.h"

#include <QProcess>
#include <QSettings>

#include <xcb/xcb.h>

namespace {

const QString pageTitle = QStringLiteral("Norva Process Page");

} // namespace

class TestNorvaProcess : public QObject
{
    Q_OBJECT

    TestHttpServer m_server;
    QProcess m_first;
    xcb_window_t m_window = 0;

    // The main window carries the product name until the page names it.
    QStringList mainWindows(const QString &titles = QStringLiteral("青隼|") + pageTitle)
    {
        return NorvaTest::xdotool({"search", "--onlyvisible", "--all", "--pid",
                        QString::number(m_first.processId()), "--name", "^(" + titles + ")$"});
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
        m_server.setHtml("/", "<title>" + pageTitle + "</title>Norva");
        // Unreadable version information ends the start-up check without a box.
        m_server.setHtml("/kst-client/updates/version.json", "not json");
        // The copies inherit this process's temporary home and directories.
        qputenv("NORVA_SERVICE_URL", m_server.url().toString().toUtf8());

        // Closing hides to the tray, and a hotkey nobody else on this display uses.
        QSettings settings(QSettings::NativeFormat, QSettings::UserScope, "Kestrel", "Norva");
        settings.setValue("GeneralSettings/isQuitWhenClose", false);
        settings.setValue("ShortCutSettings/openSoftware", "Ctrl+Alt+Shift+F10");
        settings.sync();

        m_first.setProcessChannelMode(QProcess::ForwardedChannels);
        m_first.start(QStringLiteral(NORVA_BINARY), QStringList());
        QVERIFY(NorvaTest::waitFor(
            [&] { return m_first.state() == QProcess::NotRunning || !mainWindows().isEmpty(); },
            90000));
        QCOMPARE(m_first.state(), QProcess::Running);
        const QStringList windows = mainWindows();
        QCOMPARE(windows.size(), 1);
        m_window = windows.first().toUInt();
    }

    void cleanupTestCase()
    {
        m_first.terminate();
        if (!m_first.waitForFinished(10000))
            m_first.kill();
    }

    void serviceMainPageLoaded()
    {
        QVERIFY(
            NorvaTest::waitFor([&] { return m_server.requests().contains(QStringLiteral("/")); }));
        QVERIFY(NorvaTest::waitFor([&] { return !mainWindows(pageTitle).isEmpty(); }));
    }

    void closedToTheTrayComesBackOnSecondStartAndHotkey()
    {
        NorvaTest::requestClose(m_window);
        QVERIFY(waitVisible(false));
        QCOMPARE(m_first.state(), QProcess::Running);
        QProcess second; // hands over and ends by itself
        second.start(QStringLiteral(NORVA_BINARY), QStringList());
        QVERIFY2(second.waitForFinished(15000), "the second copy kept running");
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QVERIFY(waitVisible(true));

        NorvaTest::requestClose(m_window);
        QVERIFY(waitVisible(false));
        QCOMPARE(QProcess::execute("xdotool", {"key", "ctrl+alt+shift+F10"}), 0);
        QVERIFY(waitVisible(true));
        QCOMPARE(m_first.state(), QProcess::Running);
    }
};

NORVA_TEST_MAIN(TestNorvaProcess)
#include "tst_norvaprocess.moc"
