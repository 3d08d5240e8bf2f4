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

    // The program's path as the entry's Exec argument, and a valid entry whatever it holds.
    void execArgument()
    {
        const bool validate = !QStandardPaths::findExecutable("desktop-file-validate").isEmpty();
        const std::pair<const char *, const char *> cases[] = {
            {"/usr/bin/norva", "\"/usr/bin/norva\""},
            {"/opt/a\"b/norva", "\"/opt/a\\\\\"b/norva\""},
            {"/opt/$HOME/norva", "\"/opt/\\\\$HOME/norva\""},
            {"/opt/a\\b/norva", "\"/opt/a\\\\\\\\b/norva\""},
            {"/opt/100%/norva", "\"/opt/100%%/norva\""},
            {"build/norva", ""},
            {"/opt/a\nb/norva", ""}};
        for (const auto &[path, exec] : cases) {
            QCOMPARE(AutoStart::quotedExecArgument(path), QString(exec));
            const QString entry = AutoStart::desktopEntry(path);
            QCOMPARE(entry.isEmpty(), !*exec);
            if (entry.isEmpty())
                continue;
            QVERIFY(entry.contains("\nExec=" + QString(exec) + " --hidden\n"));
            if (!validate)
                continue;
            QTemporaryDir dir;
            QFile out(dir.filePath("example.kestrel.Norva.desktop"));
            QVERIFY(out.open(QIODevice::WriteOnly) && out.write(entry.toUtf8()) > 0);
            out.close();
            QProcess check;
            check.setProcessChannelMode(QProcess::MergedChannels);
            check.start("desktop-file-validate", {out.fileName()});
            QVERIFY(check.waitForFinished(20000));
            QVERIFY2(check.exitCode() == 0 && check.readAll().trimmed().isEmpty(),
                     qPrintable(entry));
        }
        if (!validate)
            QSKIP("needs desktop-file-validate");
    }

    void entryFile()
    {
        const QString fallback = QDir::homePath() + "/.config/autostart";
        for (const auto &[configHome, expectedDir] :
             {std::pair<QString, QString>{"/tmp/cfg", "/tmp/cfg/autostart"},
              {QString(), fallback},
              {"cfg", fallback}}) { // a relative one is ignored
            qputenv("XDG_CONFIG_HOME", QFile::encodeName(configHome));
            QCOMPARE(AutoStart::entryFilePath(), expectedDir + "/example.kestrel.Norva.desktop");
        }
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
