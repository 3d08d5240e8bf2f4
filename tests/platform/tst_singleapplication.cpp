#include "tests/support/testsupport.h"

#include "platform/qtsingleapplication.h"

#include <QDataStream>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QProcess>
#include <QStandardPaths>
#include <QUuid>
#include <QX11Info>

#include <xcb/xcb.h>

#include <memory>
#include <vector>

// Real processes of the small probe program: the single-instance rule only shows between
// processes.
class Probe
{
public:
    explicit Probe(const QStringList &args)
    {
        m_process.setProgram(QStringLiteral(NORVA_SINGLEAPP_PROBE));
        m_process.setArguments(args);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QObject::connect(&m_process, &QProcess::readyReadStandardOutput, [this] {
            m_output += QString::fromUtf8(m_process.readAllStandardOutput());
        });
        m_process.start();
    }
    ~Probe()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    QProcess &process() { return m_process; }
    QStringList lines() const { return m_output.split(QLatin1Char('\n'), Qt::SkipEmptyParts); }
    bool hasLine(const QString &prefix) const
    {
        for (const QString &line : lines())
            if (line.startsWith(prefix))
                return true;
        return false;
    }
    QString line(const QString &prefix) const
    {
        for (const QString &line : lines())
            if (line.startsWith(prefix))
                return line;
        return QString();
    }
    bool waitForLine(const QString &prefix, int timeoutMs = 20000)
    {
        return NorvaTest::waitFor([&] { return hasLine(prefix); }, timeoutMs);
    }
    bool waitFinished(int timeoutMs = 20000)
    {
        return NorvaTest::waitFor([&] { return m_process.state() == QProcess::NotRunning; },
                                  timeoutMs);
    }

private:
    QProcess m_process;
    QString m_output;
};

class TestSingleApplication : public QObject
{
    Q_OBJECT

private:
    static QString uniqueId()
    {
        return QStringLiteral("NORVA-TEST-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    }

    // Runs a second start with the message; true when it reported delivery and exited 0
    // without becoming a primary itself.
    static bool deliver(const QString &id, const QString &message)
    {
        Probe second({id, QStringLiteral("--message"), message});
        const bool ok =
            second.waitFinished() && second.process().exitStatus() == QProcess::NormalExit &&
            second.process().exitCode() == 0 && second.hasLine(QStringLiteral("delivered")) &&
            !second.hasLine(QStringLiteral("primary"));
        if (!ok)
            qWarning() << "second start of" << message << "said" << second.lines();
        return ok;
    }

    static bool quitPrimary(const QString &id, Probe &primary)
    {
        return deliver(id, QStringLiteral("quit")) && primary.waitFinished() &&
               primary.process().exitCode() == 0;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(QFileInfo(QStringLiteral(NORVA_SINGLEAPP_PROBE)).isExecutable());
    }

    void namesDependOnIdAndUser()
    {
        const QString id = QStringLiteral("NORVA-{3C9A1F62-58D4-4B7E-9E21-7A0B5D4C8F13}");
        const QString a = QtSingleApplication::instanceName(id, QStringLiteral("uid:1000"));
        QCOMPARE(QtSingleApplication::instanceName(id, QStringLiteral("uid:1000")), a);
        QVERIFY(a != QtSingleApplication::instanceName(id, QStringLiteral("uid:1001")));
        QVERIFY(a != QtSingleApplication::instanceName(id + QLatin1Char('x'),
                                                       QStringLiteral("uid:1000")));
        // Neither the id nor the user may shift text between them.
        QVERIFY(QtSingleApplication::instanceName(QStringLiteral("ab"), QStringLiteral("c")) !=
                QtSingleApplication::instanceName(QStringLiteral("a"), QStringLiteral("bc")));

        // Ids with path separators still give one plain file name.
        const QString odd = QStringLiteral("../a/b\\c {x}");
        const QString name = QtSingleApplication::instanceName(odd, QStringLiteral("u"));
        QVERIFY(!name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\')));
        QVERIFY(!name.contains(QLatin1Char(' ')) && !name.contains(QLatin1Char('{')));

        // Both live in this user's runtime directory and change with the id.
        const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
        QCOMPARE(QFileInfo(QtSingleApplication::lockFilePath(id)).absolutePath(),
                 QFileInfo(runtime).absoluteFilePath());
        QCOMPARE(QFileInfo(QtSingleApplication::serverName(id)).absolutePath(),
                 QFileInfo(runtime).absoluteFilePath());
        QVERIFY(QtSingleApplication::lockFilePath(id) != QtSingleApplication::lockFilePath(odd));
        QVERIFY(QtSingleApplication::serverName(id) != QtSingleApplication::serverName(odd));
        QVERIFY(QtSingleApplication::serverName(id) != QtSingleApplication::lockFilePath(id));
    }

    void secondStartDeliversAndEnds()
    {
        const QString id = uniqueId();
        Probe primary({id});
        QVERIFY(primary.waitForLine(QStringLiteral("primary")));
        QVERIFY(QFileInfo::exists(QtSingleApplication::lockFilePath(id)));

        QVERIFY(deliver(id, QStringLiteral("raise_window_noop")));
        QVERIFY(primary.waitForLine(QStringLiteral("message raise_window_noop")));
        // Texts beyond plain ASCII arrive unchanged.
        QVERIFY(deliver(id, QStringLiteral("青隼 ✓")));
        QVERIFY(primary.waitForLine(QStringLiteral("message 青隼 ✓ ")));
        QCOMPARE(primary.process().state(), QProcess::Running);

        QVERIFY(quitPrimary(id, primary));
        // A clean end leaves nothing behind.
        QVERIFY(!QFileInfo::exists(QtSingleApplication::lockFilePath(id)));
    }

    void activationRestoresTheWindow_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("stateBefore");
        QTest::addColumn<int>("stateAfter");
        QTest::newRow("hidden") << QStringList{QStringLiteral("--hidden")} << int(Qt::WindowNoState)
                                << int(Qt::WindowNoState);
        QTest::newRow("minimised") << QStringList{QStringLiteral("--minimized")}
                                   << int(Qt::WindowMinimized) << int(Qt::WindowNoState);
        QTest::newRow("maximised then minimised keeps maximised")
            << QStringList{QStringLiteral("--maximized"), QStringLiteral("--minimized")}
            << int(Qt::WindowMaximized | Qt::WindowMinimized) << int(Qt::WindowMaximized);
        QTest::newRow("hidden while minimised")
            << QStringList{QStringLiteral("--hidden"), QStringLiteral("--minimized")}
            << int(Qt::WindowMinimized) << int(Qt::WindowNoState);
    }

    void activationRestoresTheWindow()
    {
        QFETCH(QStringList, options);
        QFETCH(int, stateBefore);
        QFETCH(int, stateAfter);
        const QString id = uniqueId();
        Probe primary(QStringList{id} + options);
        QVERIFY(primary.waitForLine(QStringLiteral("primary")));
        const bool hidden = options.contains(QStringLiteral("--hidden"));
        QCOMPARE(
            primary.line(QStringLiteral("primary")),
            QStringLiteral("primary state=%1 visible=%2").arg(stateBefore).arg(hidden ? 0 : 1));

        QVERIFY(deliver(id, QStringLiteral("raise_window_noop")));
        QVERIFY(primary.waitForLine(QStringLiteral("message raise_window_noop")));
        QCOMPARE(primary.line(QStringLiteral("message raise_window_noop")),
                 QStringLiteral("message raise_window_noop state=%1 visible=1").arg(stateAfter));
        QVERIFY(quitPrimary(id, primary));
    }

    void activationMapsAWindowUnmappedBehindQtsBack()
    {
        if (!QX11Info::isPlatformX11())
            QSKIP("needs an X server");
        const QString id = uniqueId();
        Probe primary({id});
        QVERIFY(primary.waitForLine(QStringLiteral("window ")));
        const xcb_window_t window = primary.line(QStringLiteral("window ")).mid(7).toUInt();
        QVERIFY(window);
        xcb_connection_t *connection = QX11Info::connection();
        auto mapState = [&] {
            xcb_get_window_attributes_reply_t *reply = xcb_get_window_attributes_reply(
                connection, xcb_get_window_attributes(connection, window), nullptr);
            const int state = reply ? reply->map_state : -1;
            free(reply);
            return state;
        };
        QVERIFY(NorvaTest::waitFor([&] { return mapState() == XCB_MAP_STATE_VIEWABLE; }));

        // Another client unmaps it, as a pager or xdotool would; the probe still counts it
        // as visible.
        xcb_unmap_window(connection, window);
        xcb_flush(connection);
        QCOMPARE(mapState(), int(XCB_MAP_STATE_UNMAPPED));

        QVERIFY(deliver(id, QStringLiteral("raise_window_noop")));
        QVERIFY(primary.waitForLine(QStringLiteral("message raise_window_noop")));
        QVERIFY(NorvaTest::waitFor([&] { return mapState() == XCB_MAP_STATE_VIEWABLE; }));
        QVERIFY(quitPrimary(id, primary));
    }

    void longRunningPrimaryKeepsItsLock()
    {
        // However old the lock file, a live primary still owns it.
        const QString id = uniqueId();
        Probe primary({id});
        QVERIFY(primary.waitForLine(QStringLiteral("primary")));
        QFile lock(QtSingleApplication::lockFilePath(id));
        QVERIFY(lock.open(QIODevice::ReadWrite));
        QVERIFY(lock.setFileTime(QDateTime::currentDateTime().addDays(-2),
                                 QFileDevice::FileModificationTime));
        lock.close();
        QVERIFY(deliver(id, QStringLiteral("still-primary")));
        QVERIFY(primary.waitForLine(QStringLiteral("message still-primary")));
        QVERIFY(quitPrimary(id, primary));
    }

    void killedPrimaryDoesNotBlockTheNextStart()
    {
        const QString id = uniqueId();
        {
            Probe first({id});
            QVERIFY(first.waitForLine(QStringLiteral("primary")));
            first.process().kill(); // SIGKILL: no clean-up at all
            QVERIFY(first.waitFinished());
        }
        // The dead instance's lock file and socket are still there.
        QVERIFY(QFileInfo::exists(QtSingleApplication::lockFilePath(id)));
        QVERIFY(QFileInfo::exists(QtSingleApplication::serverName(id)));

        Probe next({id});
        QVERIFY2(next.waitForLine(QStringLiteral("primary")), qPrintable(next.lines().join('|')));
        QVERIFY(deliver(id, QStringLiteral("after-kill")));
        QVERIFY(next.waitForLine(QStringLiteral("message after-kill")));
        QVERIFY(quitPrimary(id, next));
    }

    void brokenPeerDoesNotStopDelivery()
    {
        const QString id = uniqueId();
        Probe primary({id});
        QVERIFY(primary.waitForLine(QStringLiteral("primary")));

        // One peer claims an absurd length, another connects and says nothing at all.
        QLocalSocket liar;
        liar.connectToServer(QtSingleApplication::serverName(id));
        QVERIFY(liar.waitForConnected(5000));
        QByteArray header;
        QDataStream(&header, QIODevice::WriteOnly) << quint32(0xffffffffu);
        liar.write(header + "xx");
        QVERIFY(liar.waitForBytesWritten(5000));
        QLocalSocket silent;
        silent.connectToServer(QtSingleApplication::serverName(id));
        QVERIFY(silent.waitForConnected(5000));

        QVERIFY(NorvaTest::waitFor([&] { return liar.state() == QLocalSocket::UnconnectedState; }));
        QVERIFY(deliver(id, QStringLiteral("still-here")));
        QVERIFY(primary.waitForLine(QStringLiteral("message still-here")));
        QVERIFY(!primary.hasLine(QStringLiteral("message xx")));
        QVERIFY(quitPrimary(id, primary));
    }

    void secondaryWaitsForAPrimaryNotListeningYet()
    {
        // This process plays a primary that holds the lock but has not opened its server.
        const QString id = uniqueId();
        QLockFile lock(QtSingleApplication::lockFilePath(id));
        QVERIFY(lock.tryLock(0));
        Probe second({id, QStringLiteral("--message"), QStringLiteral("early")});
        QVERIFY(second.waitForLine(QStringLiteral("sending")));

        QLocalServer server;
        QVERIFY(server.listen(QtSingleApplication::serverName(id)));
        QVERIFY(server.waitForNewConnection(20000));
        QLocalSocket *peer = server.nextPendingConnection();
        QVERIFY(NorvaTest::waitFor([&] { return peer->bytesAvailable() >= 4 + 5; }));
        QDataStream stream(peer);
        quint32 length = 0;
        stream >> length;
        QCOMPARE(length, 5u);
        QCOMPARE(peer->read(length), QByteArray("early"));
        peer->putChar('\x06');
        QVERIFY(peer->waitForBytesWritten(5000));

        QVERIFY(second.waitFinished());
        QCOMPARE(second.process().exitCode(), 0);
        QVERIFY2(second.hasLine(QStringLiteral("delivered")), qPrintable(second.lines().join('|')));
    }

    void undeliveredMessageIsReported()
    {
        // The lock is held but nobody ever listens or answers: the second start gives up,
        // says so, and still ends normally.
        const QString id = uniqueId();
        QLockFile lock(QtSingleApplication::lockFilePath(id));
        QVERIFY(lock.tryLock(0));
        Probe second({id, QStringLiteral("--timeout"), QStringLiteral("300")});
        QVERIFY(second.waitFinished());
        QCOMPARE(second.process().exitCode(), 0);
        QVERIFY(second.hasLine(QStringLiteral("failed")));
        QVERIFY(!second.hasLine(QStringLiteral("primary")));

        // A server that takes the message but never acknowledges it is no delivery either.
        QLocalServer mute;
        QVERIFY(mute.listen(QtSingleApplication::serverName(id)));
        Probe third({id, QStringLiteral("--timeout"), QStringLiteral("1000")});
        QVERIFY(third.waitFinished());
        QCOMPARE(third.process().exitCode(), 0);
        QVERIFY(third.hasLine(QStringLiteral("failed")));
    }

    void simultaneousStartsLeaveOnePrimary()
    {
        const QString id = uniqueId();
        const int count = 20;
        std::vector<std::unique_ptr<Probe>> probes;
        for (int i = 0; i < count; ++i)
            probes.emplace_back(
                new Probe({id, QStringLiteral("--message"), QStringLiteral("from-%1").arg(i),
                           QStringLiteral("--timeout"), QStringLiteral("20000")}));

        // Everyone but the primary ends by itself.
        QVERIFY(NorvaTest::waitFor(
            [&] {
                int finished = 0;
                for (const auto &p : probes)
                    finished += p->process().state() == QProcess::NotRunning ? 1 : 0;
                return finished == count - 1;
            },
            45000));

        Probe *primary = nullptr;
        int delivered = 0;
        for (const auto &p : probes) {
            if (p->process().state() != QProcess::NotRunning) {
                QVERIFY(!primary);
                primary = p.get();
                continue;
            }
            QCOMPARE(p->process().exitStatus(), QProcess::NormalExit);
            QCOMPARE(p->process().exitCode(), 0);
            QVERIFY(!p->hasLine(QStringLiteral("primary")));
            delivered += p->hasLine(QStringLiteral("delivered")) ? 1 : 0;
        }
        QVERIFY(primary);
        QVERIFY(primary->hasLine(QStringLiteral("primary")));
        QCOMPARE(delivered, count - 1);
        QVERIFY(NorvaTest::waitFor([&] {
            return primary->lines().filter(QStringLiteral("message from-")).size() == count - 1;
        }));
        QVERIFY(quitPrimary(id, *primary));
    }
};

NORVA_TEST_MAIN(TestSingleApplication)
#include "tst_singleapplication.moc"
