#include "tests/support/testsupport.h"

#include "platform/qtsingleapplication.h"

#include <QDataStream>
#include <QFileInfo>
#include <QLocalSocket>
#include <QProcess>
#include <QUuid>
#include <QX11Info>

#include <xcb/xcb.h>

#include <memory>
#include <vector>

// A real process of the probe program: the single-instance rule only shows between processes.
class Probe
{
public:
    explicit Probe(const QStringList &args)
    {
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QObject::connect(&m_process, &QProcess::readyReadStandardOutput, [this] {
            m_output += QString::fromUtf8(m_process.readAllStandardOutput());
        });
        m_process.start(QStringLiteral(NORVA_SINGLEAPP_PROBE), args);
    }
    ~Probe()
    {
        m_process.kill();
        m_process.waitForFinished(5000);
    }

    QProcess &process() { return m_process; }
    QStringList lines() const { return m_output.split(QLatin1Char('\n'), Qt::SkipEmptyParts); }
    QString line(const QString &prefix) const
    {
        const QRegularExpression start(QLatin1Char('^') + QRegularExpression::escape(prefix));
        return lines().filter(start).value(0);
    }
    bool hasLine(const QString &prefix) const { return !line(prefix).isNull(); }
    bool waitForLine(const QString &prefix)
    {
        return NorvaTest::waitFor([&] { return hasLine(prefix); });
    }
    bool waitFinished()
    {
        return NorvaTest::waitFor([&] { return m_process.state() == QProcess::NotRunning; });
    }

private:
    QProcess m_process;
    QString m_output;
};

class TestSingleApplication : public QObject
{
    Q_OBJECT

    static QString uniqueId()
    {
        return QStringLiteral("NORVA-TEST-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    }

    // A second start with the message: true when it reported delivery and exited 0 without
    // becoming a primary itself.
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
    void secondStartDeliversAndShowsTheWindow_data()
    {
        QTest::addColumn<QString>("options");
        QTest::addColumn<int>("stateAfter");
        QTest::newRow("hidden") << "--hidden" << int(Qt::WindowNoState);
        QTest::newRow("minimised") << "--minimized" << int(Qt::WindowNoState);
        QTest::newRow("maximised then minimised keeps maximised")
            << "--maximized --minimized" << int(Qt::WindowMaximized);
        QTest::newRow("hidden while minimised") << "--hidden --minimized" << int(Qt::WindowNoState);
    }

    void secondStartDeliversAndShowsTheWindow()
    {
        QFETCH(QString, options);
        QFETCH(int, stateAfter);
        const QString id = uniqueId();
        Probe primary(QStringList{id} + options.split(QLatin1Char(' ')));
        QVERIFY(primary.waitForLine(QStringLiteral("primary")));
        QVERIFY(QFileInfo::exists(QtSingleApplication::lockFilePath(id)));

        // Texts beyond plain ASCII arrive unchanged.
        QVERIFY(deliver(id, QStringLiteral("青隼 ✓")));
        QVERIFY(primary.waitForLine(QStringLiteral("message 青隼 ✓ ")));
        QCOMPARE(primary.line(QStringLiteral("message 青隼 ✓ ")),
                 QStringLiteral("message 青隼 ✓ state=%1 visible=1").arg(stateAfter));

        QVERIFY(quitPrimary(id, primary));
        // A clean end leaves nothing behind.
        QVERIFY(!QFileInfo::exists(QtSingleApplication::lockFilePath(id)));
    }

    // Neither an aged lock file nor a window unmapped by another client may stop a live primary
    // from answering and showing itself again; a killed one must not block the next start.
    void livePrimaryAnswersAndKilledOneMakesWay()
    {
        if (!QX11Info::isPlatformX11())
            QSKIP("needs an X server");
        const QString id = uniqueId();
        Probe primary({id});
        QVERIFY(primary.waitForLine(QStringLiteral("primary")));
        const xcb_window_t window = primary.line(QStringLiteral("window ")).mid(7).toUInt();
        xcb_connection_t *connection = QX11Info::connection();
        auto mapState = [&] {
            xcb_get_window_attributes_reply_t *reply = xcb_get_window_attributes_reply(
                connection, xcb_get_window_attributes(connection, window), nullptr);
            const int state = reply ? reply->map_state : -1;
            free(reply);
            return state;
        };
        QVERIFY(NorvaTest::waitFor([&] { return mapState() == XCB_MAP_STATE_VIEWABLE; }));

        QFile lock(QtSingleApplication::lockFilePath(id));
        QVERIFY(lock.open(QIODevice::ReadWrite));
        QVERIFY(lock.setFileTime(QDateTime::currentDateTime().addDays(-2),
                                 QFileDevice::FileModificationTime));
        lock.close();
        // As a pager or xdotool would; Qt still counts the window as visible.
        xcb_unmap_window(connection, window);
        xcb_flush(connection);
        QCOMPARE(mapState(), int(XCB_MAP_STATE_UNMAPPED));

        QVERIFY(deliver(id, QStringLiteral("still-primary")));
        QVERIFY(primary.waitForLine(QStringLiteral("message still-primary")));
        QVERIFY(NorvaTest::waitFor([&] { return mapState() == XCB_MAP_STATE_VIEWABLE; }));

        primary.process().kill(); // SIGKILL: the lock file and socket stay behind
        QVERIFY(primary.waitFinished());
        Probe next({id});
        QVERIFY2(next.waitForLine(QStringLiteral("primary")), qPrintable(next.lines().join('|')));
        QVERIFY(deliver(id, QStringLiteral("after-kill")));
        QVERIFY(next.waitForLine(QStringLiteral("message after-kill")));
        QVERIFY(quitPrimary(id, next));
    }

    void brokenPeersDoNotStopDelivery()
    {
        const QString id = uniqueId();
        Probe primary({id});
        QVERIFY(primary.waitForLine(QStringLiteral("primary")));
        // One peer claims an absurd length, another connects and says nothing at all.
        QLocalSocket liar, silent;
        liar.connectToServer(QtSingleApplication::serverName(id));
        silent.connectToServer(QtSingleApplication::serverName(id));
        QVERIFY(liar.waitForConnected(5000) && silent.waitForConnected(5000));
        QByteArray header;
        QDataStream(&header, QIODevice::WriteOnly) << quint32(0xffffffffu);
        liar.write(header + "xx");
        QVERIFY(NorvaTest::waitFor([&] { return liar.state() == QLocalSocket::UnconnectedState; }));
        QVERIFY(deliver(id, QStringLiteral("still-here")));
        QVERIFY(primary.waitForLine(QStringLiteral("message still-here")));
        QVERIFY(!primary.hasLine(QStringLiteral("message xx")));
        QVERIFY(quitPrimary(id, primary));
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
        // Everyone but the primary ends by itself, exits 0 and has delivered its message.
        QList<Probe *> running;
        QVERIFY(NorvaTest::waitFor(
            [&] {
                running.clear();
                for (const auto &p : probes)
                    if (p->process().state() != QProcess::NotRunning)
                        running << p.get();
                return running.size() == 1;
            },
            45000));
        Probe *primary = running.first();
        QVERIFY(primary->hasLine(QStringLiteral("primary")));
        for (const auto &p : probes) {
            if (p.get() == primary)
                continue;
            QCOMPARE(p->process().exitStatus(), QProcess::NormalExit);
            QCOMPARE(p->process().exitCode(), 0);
            QVERIFY(!p->hasLine(QStringLiteral("primary")));
            QVERIFY(p->hasLine(QStringLiteral("delivered")));
        }
        QVERIFY(NorvaTest::waitFor([&] {
            return primary->lines().filter(QStringLiteral("message from-")).size() == count - 1;
        }));
        QVERIFY(quitPrimary(id, *primary));
    }
};

NORVA_TEST_MAIN(TestSingleApplication)
#include "tst_singleapplication.moc"
