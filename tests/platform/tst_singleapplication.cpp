#include "platform/qtsingleapplication.h"
#include "tests/support/testsupport.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QUuid>
#include <QX11Info>

#include <unistd.h>
#include <xcb/xcb.h>

#include <memory>
#include <vector>

// The single-instance rule only shows between real processes.
struct Probe
{
    QProcess process;
    QString output;

    explicit Probe(const QStringList &args)
    {
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QObject::connect(&process, &QProcess::readyReadStandardOutput,
                         [this] { output += QString::fromUtf8(process.readAllStandardOutput()); });
        process.start(QStringLiteral(NORVA_SINGLEAPP_PROBE), args);
    }
    ~Probe()
    {
        process.kill();
        process.waitForFinished(5000);
    }
    QStringList lines() const { return output.split('\n', Qt::SkipEmptyParts); }
    QString line(const QString &prefix) const
    {
        return lines()
            .filter(QRegularExpression('^' + QRegularExpression::escape(prefix)))
            .value(0);
    }
    bool hasLine(const QString &prefix) const { return !line(prefix).isNull(); }
    bool waitForLine(const QString &prefix)
    {
        return NorvaTest::waitFor([&] { return hasLine(prefix); });
    }
    bool waitFinished()
    {
        return NorvaTest::waitFor([&] { return process.state() == QProcess::NotRunning; });
    }
    // Ended by itself with 0, delivered its message and did not become a primary.
    bool handedOver()
    {
        return waitFinished() && process.exitStatus() == QProcess::NormalExit &&
               process.exitCode() == 0 && hasLine("delivered") && !hasLine("primary");
    }
};

class TestSingleApplication : public QObject
{
    Q_OBJECT

    static QString uniqueId() { return QUuid::createUuid().toString(QUuid::WithoutBraces); }
    static bool deliver(const QString &id, const QString &message, bool early = false)
    {
        QStringList args = {id, "--message", message};
        if (early)
            args << "--early";
        Probe probe(args);
        // Found early means no application object was built for the hand-over.
        return probe.handedOver() && probe.hasLine("delivered early") == early;
    }
    static bool quitPrimary(const QString &id, Probe &primary)
    {
        return deliver(id, "quit") && primary.waitFinished() && primary.process.exitCode() == 0;
    }

private slots:
    void secondStartDeliversAndShowsTheWindow_data()
    {
        QTest::addColumn<QString>("option");
        QTest::addColumn<bool>("early");
        QTest::newRow("hidden") << "--hidden" << false;
        QTest::newRow("minimised, found before the application object") << "--minimized" << true;
    }

    void secondStartDeliversAndShowsTheWindow()
    {
        QFETCH(QString, option);
        QFETCH(bool, early);
        const QString id = uniqueId();
        Probe primary({id, option});
        QVERIFY(primary.waitForLine("primary"));
        QVERIFY(deliver(id, "青隼 ✓", early));
        QVERIFY(primary.waitForLine("message 青隼 ✓ state=0 visible=1"));
        QVERIFY(quitPrimary(id, primary));
    }

    // An aged lock file or an unmapped window must not stop a live primary; a killed one must
    // not block the next start.
    void livePrimaryAnswersAndKilledOneMakesWay()
    {
        if (!QX11Info::isPlatformX11())
            QSKIP("needs an X server");
        const QString id = uniqueId();
        Probe primary({id});
        QVERIFY(primary.waitForLine("primary"));
        const xcb_window_t window = primary.line("window ").mid(7).toUInt();
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

        QVERIFY(deliver(id, "still-primary"));
        QVERIFY(primary.waitForLine("message still-primary"));
        QVERIFY(NorvaTest::waitFor([&] { return mapState() == XCB_MAP_STATE_VIEWABLE; }));

        primary.process.kill(); // SIGKILL: the lock file and socket stay behind
        QVERIFY(primary.waitFinished());
        QVERIFY(QFile::exists(QtSingleApplication::serverName(id)));
        // The socket left behind answers nobody, so the early look finds no instance.
        QVERIFY(!QtSingleApplication::messageRunningInstance(id, "nobody", 3000));
        Probe next({id, "--early"});
        QVERIFY2(next.waitForLine("primary"), qPrintable(next.lines().join('|')));
        QVERIFY(deliver(id, "after-kill"));
        QVERIFY(next.waitForLine("message after-kill"));
        QVERIFY(quitPrimary(id, next));
    }

    // A runtime directory too deep for a socket path: the socket goes to a private folder of the
    // user's, never straight into the shared temporary directory; a folder of that name that
    // is not private is not used at all.
    void socketOfALongRuntimePathStaysPrivate()
    {
        QTemporaryDir temp(QDir::tempPath() + "/sa-XXXXXX");
        const QString runtime = NorvaTest::homeDir() + '/' + QString(120, 'r');
        QVERIFY(QDir().mkpath(runtime));
        QVERIFY(
            QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        const QByteArray savedRuntime = qgetenv("XDG_RUNTIME_DIR");
        const QByteArray savedTemp = qgetenv("TMPDIR");
        const auto restore = qScopeGuard([&] {
            qputenv("XDG_RUNTIME_DIR", savedRuntime);
            qputenv("TMPDIR", savedTemp);
        });
        qputenv("TMPDIR", QFile::encodeName(temp.path()));
        const QString id = uniqueId();
        const QString folder = temp.path() + QString("/qtsingleapp-%1").arg(::getuid());
        // A runtime path that serves leaves the temporary directory alone.
        QCOMPARE(QFileInfo(QtSingleApplication::serverName(id)).path(),
                 QString::fromLocal8Bit(savedRuntime));
        QVERIFY(!QFileInfo::exists(folder));

        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
        const QString name = QtSingleApplication::serverName(id);
        QCOMPARE(QFileInfo(name).path(), folder);
        QVERIFY(QFileInfo(folder).isDir() && !QFileInfo(folder).isSymLink());
        QCOMPARE(NorvaTest::fileMode(folder), 0700);
        QCOMPARE(QFileInfo(folder).ownerId(), ::getuid());
        {
            Probe primary({id});
            QVERIFY(primary.waitForLine("primary"));
            QVERIFY(QFileInfo(name).exists());
            QVERIFY(deliver(id, "private", true));
            QVERIFY(primary.waitForLine("message private"));
            QVERIFY(quitPrimary(id, primary));
        }

        // Left open to others (or a link to somewhere else): no socket anywhere.
        QVERIFY(QDir(folder).removeRecursively());
        QVERIFY(QDir().mkdir(folder));
        QVERIFY(QFile::setPermissions(folder, QFile::Permissions(0x7777)));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("is not a private folder"));
        QVERIFY(QtSingleApplication::serverName(id).isEmpty());
        Probe lonely({id});
        QVERIFY(lonely.waitForLine("primary"));
        QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot),
                 QStringList());
        QCOMPARE(
            QDir(temp.path()).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot),
            QStringList{folder.section('/', -1)});
    }

    void simultaneousStartsLeaveOnePrimary()
    {
        const QString id = uniqueId();
        const int count = 20;
        std::vector<std::unique_ptr<Probe>> probes;
        for (int i = 0; i < count; ++i) {
            QStringList args = {id, "--message", QString("from-%1").arg(i), "--timeout", "20000"};
            // Half of them look for the instance before building an application object.
            if (i % 2)
                args << "--early";
            probes.emplace_back(new Probe(args));
        }
        QList<Probe *> running;
        QVERIFY(NorvaTest::waitFor(
            [&] {
                running.clear();
                for (const auto &p : probes)
                    if (p->process.state() != QProcess::NotRunning)
                        running << p.get();
                return running.size() == 1;
            },
            45000));
        Probe *primary = running.first();
        QVERIFY(primary->hasLine("primary"));
        for (const auto &p : probes)
            QVERIFY(p.get() == primary || p->handedOver());
        QVERIFY(NorvaTest::waitFor(
            [&] { return primary->lines().filter("message from-").size() == count - 1; }));
        QVERIFY(quitPrimary(id, *primary));
    }
};

NORVA_TEST_MAIN(TestSingleApplication)
#include "tst_singleapplication.moc"
