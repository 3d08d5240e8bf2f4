// Builds the Debian package with CPack and checks what it holds and that what it holds runs.
#include "tests/support/testsupport.h"

#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>

namespace {

const QString appId = QStringLiteral("example.kestrel.Norva");

struct Result
{
    int exitCode = -1;
    QString out;
};

Result run(const QString &program, const QStringList &args, int timeoutMs = 60000)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    Result r;
    if (p.waitForFinished(timeoutMs) && p.exitStatus() == QProcess::NormalExit)
        r.exitCode = p.exitCode();
    r.out = QString::fromUtf8(p.readAll());
    return r;
}

QString textOf(const QString &path)
{
    return QString::fromUtf8(NorvaTest::fileBytes(path));
}

QString fieldOf(const QString &text, const QString &key)
{
    const QRegularExpression re("^" + QRegularExpression::escape(key) + "=(.*)$",
                                QRegularExpression::MultilineOption);
    return re.match(text).captured(1);
}

} // namespace

class TestPackage : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_deb;
    QString m_root; // the package unpacked

    QString installed(const QString &path) const { return m_root + path; }

private slots:
    void initTestCase()
    {
        for (const char *tool : {"dpkg-deb", "dpkg-shlibdeps"}) {
            if (QStandardPaths::findExecutable(tool).isEmpty())
                QSKIP(qPrintable(QString("needs %1 (Debian package dpkg-dev)").arg(tool)));
        }
        QVERIFY(m_dir.isValid());
        const Result cpack =
            run(NORVA_CPACK,
                {"--config", NORVA_BUILD_DIR "/CPackConfig.cmake", "-G", "DEB", "-B", m_dir.path()},
                240000);
        QVERIFY2(cpack.exitCode == 0, qPrintable(cpack.out));
        const QStringList debs = QDir(m_dir.path()).entryList({"*.deb"}, QDir::Files);
        QCOMPARE(debs.size(), 1);
        m_deb = m_dir.filePath(debs.first());
        QVERIFY2(
            QRegularExpression("^norva_1\\.7\\.5_[a-z0-9]+\\.deb$").match(debs.first()).hasMatch(),
            qPrintable(debs.first()));
        m_root = m_dir.filePath("root");
        QCOMPARE(run("dpkg-deb", {"-x", m_deb, m_root}).exitCode, 0);
    }

    void control()
    {
        // A dependency by name, with or without a version.
        auto dep = [](const char *name) {
            return "(^|, )" + QRegularExpression::escape(name) + "( \\(|,|$)";
        };
        // The web engine and xcb are found by dpkg-shlibdeps in the program itself; the SQLite
        // driver and the media plugins are plugins that Qt loads at run time.
        const std::pair<const char *, QString> fields[] = {
            {"Package", "^norva$"},
            {"Version", "^1\\.7\\.5$"},
            {"Depends", dep("libqt5webenginewidgets5")},
            {"Depends", dep("libxcb1")},
            {"Depends", dep("libqt5sql5-sqlite")},
            {"Depends", dep("libqt5multimedia5-plugins")}};
        for (const auto &[field, pattern] : fields) {
            const Result r = run("dpkg-deb", {"-f", m_deb, field});
            QCOMPARE(r.exitCode, 0);
            QVERIFY2(QRegularExpression(pattern).match(r.out.trimmed()).hasMatch(),
                     qPrintable(field + (": " + r.out)));
        }
    }

    void fileList()
    {
        const Result r = run("dpkg-deb", {"-c", m_deb});
        QCOMPARE(r.exitCode, 0);
        QStringList files;
        for (const QString &line : r.out.split('\n', Qt::SkipEmptyParts)) {
            if (line.startsWith('-')) // regular files; directories start with d
                files << line.section(' ', -1).mid(1);
        }
        files.sort();
        QStringList expected = {"/usr/bin/norva",
                                "/usr/share/applications/" + appId + ".desktop",
                                "/usr/share/metainfo/" + appId + ".metainfo.xml",
                                "/usr/share/man/man1/norva.1.gz",
                                "/usr/share/doc/norva/changelog.gz",
                                "/usr/share/doc/norva/copyright"};
        // Each icon is the artwork at its size: the tile drawn in the centre, not in a corner.
        for (int size : {16, 24, 32, 48, 64, 128, 256}) {
            expected << QString("/usr/share/icons/hicolor/%1x%1/apps/%2.png").arg(size).arg(appId);
            const QImage image(installed(expected.last()));
            QCOMPARE(image.size(), QSize(size, size));
            QVERIFY(qAlpha(image.pixel(size / 2, size / 2)) > 200);
            QCOMPARE(qAlpha(image.pixel(0, 0)), 0);
        }
        expected.sort();
        QCOMPARE(files, expected);
        QVERIFY(QFileInfo(installed("/usr/bin/norva")).isExecutable());
    }

    // The manual page names every option --help does and formats without a warning; the
    // changelog is for this version; the copyright file is machine-readable and states the
    // license and the holder that the AppStream metadata states.
    void documentation()
    {
        const Result help = run(installed("/usr/bin/norva"), {"--help"});
        QCOMPARE(help.exitCode, 0);
        QStringList options; // "  -h, --help, -?  Display ...": the names before the text
        for (const QString &line : help.out.split('\n')) {
            if (!line.startsWith("  -"))
                continue;
            for (const QString &option : line.section("  ", 1, 1).split(", "))
                options << option.section(' ', 0, 0); // without a value's "<port>"
        }
        QVERIFY2(options.contains("--hidden") && options.contains("-v"), qPrintable(help.out));
        const Result man = run("gzip", {"-dc", installed("/usr/share/man/man1/norva.1.gz")});
        QCOMPARE(man.exitCode, 0);
        const QString page = QString(man.out).replace("\\-", "-");
        for (const QString &name : options)
            QVERIFY2(page.contains(name), qPrintable(name + " is not in the manual page"));
        for (const char *section : {".SH OPTIONS", ".SH ENVIRONMENT", ".SH FILES"})
            QVERIFY2(page.contains(section), section);
        QVERIFY(page.contains("NORVA_SERVICE_URL"));
        const Result format =
            run("sh", {"-c", "man --warnings -E UTF-8 -l -Tutf8 -Z " +
                                 installed("/usr/share/man/man1/norva.1.gz") + " 2>&1 >/dev/null"});
        QVERIFY2(format.exitCode == 0 && format.out.isEmpty(), qPrintable(format.out));

        const Result changelog =
            run("gzip", {"-dc", installed("/usr/share/doc/norva/changelog.gz")});
        QVERIFY2(changelog.out.startsWith("norva (1.7.5) "), qPrintable(changelog.out));

        const QString copyright = textOf(installed("/usr/share/doc/norva/copyright"));
        const QString metainfo =
            textOf(installed("/usr/share/metainfo/" + appId + ".metainfo.xml"));
        auto captured = [](const QString &text, const char *pattern) {
            return QRegularExpression(pattern, QRegularExpression::MultilineOption)
                .match(text)
                .captured(1)
                .trimmed();
        };
        QVERIFY(copyright.startsWith(
            "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"));
        const QString license = captured(metainfo, "<project_license>([^<]+)<");
        QVERIFY(!license.isEmpty());
        QCOMPARE(captured(copyright, "^Files: \\*\\nCopyright: [^\\n]*\\nLicense: (.+)$"), license);
        const QString holder = captured(metainfo, "<developer_name>([^<]+)<");
        QVERIFY(!holder.isEmpty());
        QVERIFY2(captured(copyright, "^Copyright: (.+)$").endsWith(holder), qPrintable(copyright));
    }

    // The desktop entry and the AppStream metadata validate; Debian's own checker finds nothing
    // to complain about.
    void checkersAccept()
    {
        const Result desktop = run("desktop-file-validate",
                                   {installed("/usr/share/applications/" + appId + ".desktop")});
        QVERIFY2(desktop.exitCode == 0 && desktop.out.trimmed().isEmpty(), qPrintable(desktop.out));
        const Result appstream =
            run("appstreamcli", {"validate", "--no-net",
                                 installed("/usr/share/metainfo/" + appId + ".metainfo.xml")});
        QVERIFY2(appstream.exitCode == 0, qPrintable(appstream.out));
        if (QStandardPaths::findExecutable("lintian").isEmpty())
            QSKIP("needs lintian");
        const Result r = run("lintian", {m_deb}, 240000);
        const QStringList complaints = r.out.split('\n').filter(QRegularExpression("^[EW]: "));
        QVERIFY2(complaints.isEmpty(), qPrintable(complaints.join('\n')));
        QVERIFY2(r.exitCode == 0, qPrintable(r.out));
    }

    // The unpacked program against the stand-in service: it loads the main page, its window
    // carries the class the desktop entry names, and closing it ends the program cleanly.
    void unpackedProgramRuns()
    {
        if (const char *why = NorvaTest::missingXdotool())
            QSKIP(why);
        QProcess service;
        service.setProgram("python3");
        service.setArguments({NORVA_SOURCE_DIR "/demo/server.py", "--port", "0", "--quiet"});
        service.start();
        QVERIFY(service.waitForStarted());
        QString base;
        QVERIFY(NorvaTest::waitFor([&] {
            const QRegularExpressionMatch m = QRegularExpression("serving on (http://\\S+/)")
                                                  .match(QString::fromUtf8(service.peek(4096)));
            base = m.captured(1);
            return !base.isEmpty();
        }));
        auto requested = [&] { return run("curl", {"-fs", base + "_demo/requests"}, 10000).out; };

        const QString desktop = textOf(installed("/usr/share/applications/" + appId + ".desktop"));

        QSettings settings(QSettings::NativeFormat, QSettings::UserScope, "Kestrel", "Norva");
        settings.setValue("ShortCutSettings/openSoftware", "");
        settings.sync();

        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("NORVA_SERVICE_URL", base);
        program.setProcessEnvironment(env);
        program.setProcessChannelMode(QProcess::ForwardedChannels);
        program.start(installed("/usr/bin/norva"), QStringList());
        QVERIFY(NorvaTest::waitFor(
            [&] {
                return program.state() == QProcess::NotRunning || requested().contains("\"/\"");
            },
            90000));
        QCOMPARE(program.state(), QProcess::Running);

        QStringList windows;
        QVERIFY(NorvaTest::waitFor([&] {
            windows = NorvaTest::visibleWindows(program.processId(), "^(青隼|Norva.*)$");
            return windows.size() == 1;
        }));
        const Result wmClass = run("xprop", {"-id", windows.first(), "WM_CLASS"});
        QVERIFY2(wmClass.out.contains(", \"" + fieldOf(desktop, "StartupWMClass") + "\""),
                 qPrintable(wmClass.out));

        NorvaTest::requestClose(windows.first().toUInt());
        QVERIFY(program.waitForFinished(30000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
        service.terminate();
        service.waitForFinished(10000);
    }
};

NORVA_TEST_MAIN(TestPackage)
#include "tst_package.moc"
