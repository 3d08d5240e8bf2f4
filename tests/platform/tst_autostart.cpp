#include "platform/autostart.h"
#include "tests/support/testsupport.h"

#include <QProcess>
#include <QTemporaryDir>

namespace {

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TestAutoStart : public QObject
{
    Q_OBJECT

private slots:
    void cleanup()
    {
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(NorvaTest::homeDir() + "/config"));
        QFile::remove(AutoStart::entryFilePath());
    }

    void execArgument_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("exec");
        QTest::newRow("plain") << "/usr/bin/norva"
                               << "\"/usr/bin/norva\"";
        QTest::newRow("quote") << "/opt/a\"b/norva"
                               << "\"/opt/a\\\\\"b/norva\"";
        QTest::newRow("dollar") << "/opt/$HOME/norva"
                                << "\"/opt/\\\\$HOME/norva\"";
        QTest::newRow("backslash") << "/opt/a\\b/norva"
                                   << "\"/opt/a\\\\\\\\b/norva\"";
        QTest::newRow("percent") << "/opt/100%/norva"
                                 << "\"/opt/100%%/norva\"";
        QTest::newRow("relative") << "build/norva" << QString();
        QTest::newRow("newline") << "/opt/a\nb/norva" << QString();
    }

    void execArgument()
    {
        QFETCH(QString, path);
        QFETCH(QString, exec);
        QCOMPARE(AutoStart::quotedExecArgument(path), exec);
        const QString entry = AutoStart::desktopEntry(path);
        QCOMPARE(entry.isEmpty(), exec.isEmpty());
        if (entry.isEmpty())
            return;
        QVERIFY(entry.contains("\nExec=" + exec + " --hidden\n"));
        // What the session reads must be a valid entry, whatever the path holds.
        if (QStandardPaths::findExecutable("desktop-file-validate").isEmpty())
            QSKIP("needs desktop-file-validate");
        QTemporaryDir dir;
        const QString file = dir.filePath("example.kestrel.Norva.desktop");
        QFile out(file);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(entry.toUtf8());
        out.close();
        QProcess validate;
        validate.setProcessChannelMode(QProcess::MergedChannels);
        validate.start("desktop-file-validate", {file});
        QVERIFY(validate.waitForFinished(20000));
        QVERIFY2(validate.exitCode() == 0 && validate.readAll().trimmed().isEmpty(),
                 qPrintable(entry));
    }

    void entryFile_data()
    {
        QTest::addColumn<QString>("configHome");
        QTest::addColumn<QString>("expectedDir");
        const QString fallback = QDir::homePath() + "/.config/autostart";
        QTest::newRow("set") << "/tmp/cfg"
                             << "/tmp/cfg/autostart";
        QTest::newRow("unset") << QString() << fallback;
        QTest::newRow("relative is ignored") << "cfg" << fallback;
    }

    void entryFile()
    {
        QFETCH(QString, configHome);
        QFETCH(QString, expectedDir);
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(configHome));
        QCOMPARE(AutoStart::entryFilePath(), expectedDir + "/example.kestrel.Norva.desktop");
    }

    void applyFollowsTheSetting()
    {
        const QString file = AutoStart::entryFilePath();
        QVERIFY(AutoStart::apply(true, "/opt/norva/norva"));
        QCOMPARE(readFile(file), AutoStart::desktopEntry("/opt/norva/norva").toUtf8());
        QVERIFY(readFile(file).contains("TryExec=/opt/norva/norva\n"));

        // The program moved: the entry follows it and no longer names the old place.
        QVERIFY(AutoStart::apply(true, "/usr/bin/norva"));
        QCOMPARE(readFile(file), AutoStart::desktopEntry("/usr/bin/norva").toUtf8());

        QVERIFY(AutoStart::apply(false, "/usr/bin/norva"));
        QVERIFY(!QFile::exists(file));
        QVERIFY(AutoStart::apply(false, "/usr/bin/norva"));

        // A path that cannot be written leaves no entry for another program behind.
        QVERIFY(AutoStart::apply(true, "/usr/bin/norva"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("cannot be written into"));
        QVERIFY(!AutoStart::apply(true, "/opt/a\nb/norva"));
        QVERIFY(!QFile::exists(file));
    }

    void unwritableDirectoryIsReported()
    {
        // The configuration "directory" is a file: nothing can be created below it.
        const QString blocker = NorvaTest::homeDir() + "/blocker";
        QFile f(blocker);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.close();
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(blocker));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("cannot create"));
        QVERIFY(!AutoStart::apply(true, "/usr/bin/norva"));
    }
};

NORVA_TEST_MAIN(TestAutoStart)
#include "tst_autostart.moc"
