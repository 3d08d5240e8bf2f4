#include "store/loginstoremigration.h"
#include "tests/support/testsupport.h"

#include <QProcess>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>

#include <memory>

using Rows = QList<QStringList>;

namespace {

const char createUser[] = "CREATE TABLE user (id INTEGER PRIMARY KEY NOT NULL, name VARCHAR(40) "
                          "NOT NULL, password VARCHAR(100) NOT NULL, url VARCHAR(255), "
                          "ext VARCHAR(255), createdate DATE)";
const char stopOn[] = " ON user WHEN NEW.name = 'b' BEGIN SELECT RAISE(ABORT, 'disk full'); END";

// Runs statements on a file through a connection of its own; answers the rows of the last one.
Rows sql(const QString &file, const QStringList &statements)
{
    Rows rows;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "test");
        db.setDatabaseName(file);
        db.open();
        QSqlQuery query(db);
        for (const QString &statement : statements) {
            rows.clear();
            query.exec(statement);
            while (query.next()) {
                rows.append(QStringList());
                for (int i = 0; i < query.record().count(); ++i)
                    rows.last() << (query.value(i).isNull() ? "NULL" : query.value(i).toString());
            }
        }
    }
    QSqlDatabase::removeDatabase("test");
    return rows;
}

Rows userRows(const QString &file)
{
    return sql(file, {"SELECT id, name, password, url, ext, createdate FROM user ORDER BY id"});
}

int count(const QString &file, const QString &table)
{
    return sql(file, {"SELECT count(*) FROM " + table}).value(0).value(0).toInt();
}

} // namespace

// Saved logins come over from the old file once: in order, in their stored form, with nothing
// lost or doubled whatever stops a copy halfway.
class TestLoginStoreMigration : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_temp;
    QString m_old;
    QString m_new;

    LoginStoreMigration::Result run() { return LoginStoreMigration::run(m_old, m_new); }
    int marks() { return count(m_new, LoginStoreMigration::markTable()); }
    void makeStore(const QString &file, const QStringList &statements)
    {
        QDir().mkpath(QFileInfo(file).path());
        sql(file, statements);
    }
    // As older versions left it: ids with gaps, a quote, a non-ASCII name, unused columns set.
    Rows makeOldStore()
    {
        makeStore(m_old,
                  {createUser,
                   "INSERT INTO user (id, name, password, createdate) VALUES "
                   "(2, 'a', 'Sm4jJA', '2020-01-02 03:04:05'), "
                   "(5, 'O''Brien', 'w-x=y', '2021-05-06 07:08:09'), "
                   "(7, 'b', 'p2', '2021-06-01 00:00:00'), "
                   "(9, '张三', 'zzzz', '2022-12-31 23:59:59')",
                   "INSERT INTO user VALUES (11, 'c', 'p3', 'u', 'e', '2023-01-01 00:00:00')"});
        return userRows(m_old);
    }

private slots:
    void init()
    {
        m_temp = std::make_unique<QTemporaryDir>();
        m_old = m_temp->path() + "/profile/databases/Databases.db";
        m_new = m_temp->path() + "/data/Kestrel/Norva/logins.db";
    }

    // Copied once, read only; the old passwords are emptied only after, and then no stored form
    // stays in the file's bytes, not even one of a row deleted without zeroing.
    void copiesOnceAndOnlyOnce()
    {
        QCOMPARE(run(), LoginStoreMigration::NothingToCopy);
        QVERIFY(!QFileInfo::exists(m_new));

        const Rows old = makeOldStore();
        QCOMPARE(old.size(), 5);
        sql(m_old, {"PRAGMA secure_delete = OFF",
                    "INSERT INTO user (id, name, password) VALUES (20, 'gone', 'Deleted-Form-4')",
                    "DELETE FROM user WHERE id = 20"});
        const QByteArray before = NorvaTest::fileBytes(m_old);
        QVERIFY(before.contains("Deleted-Form-4"));
        QCOMPARE(run(), LoginStoreMigration::Copied);
        QCOMPARE(userRows(m_new), old);
        QCOMPARE(NorvaTest::fileBytes(m_old), before);
        QCOMPARE(NorvaTest::fileMode(m_new), 0600);
        QCOMPARE(NorvaTest::fileMode(QFileInfo(m_new).path()), 0700);

        QVERIFY(LoginStoreMigration::blankOldPasswords(m_old, m_new));
        Rows blank = old;
        for (QStringList &row : blank)
            row[2] = "";
        QCOMPARE(userRows(m_old), blank);
        const QByteArray after = NorvaTest::fileBytes(m_old);
        for (const char *form : {"Sm4jJA", "w-x=y", "Deleted-Form-4"})
            QVERIFY2(!after.contains(form), form);
        QVERIFY(!QFileInfo::exists(m_old + "-journal"));

        sql(m_old, {"INSERT INTO user (name, password) VALUES ('late', 'x')"});
        QCOMPARE(run(), LoginStoreMigration::AlreadyCopied);
        QCOMPARE(userRows(m_new), old);
    }

    // Where the engine has replaced the folder, its own WebSQL index sits at the old name.
    void oldFileWithoutLogins()
    {
        makeStore(m_old, {"CREATE TABLE Databases (id INTEGER PRIMARY KEY, origin TEXT)"});
        QCOMPARE(run(), LoginStoreMigration::Copied);
        QCOMPARE(run(), LoginStoreMigration::AlreadyCopied);
    }

    // A failed copy leaves no row and no mark; the next start copies everything, behind logins
    // saved in between.
    void failedCopyIsMadeAgain_data()
    {
        QTest::addColumn<bool>("garbage");
        QTest::newRow("old file not a database") << true;
        QTest::newRow("write fails halfway") << false;
    }
    void failedCopyIsMadeAgain()
    {
        QFETCH(bool, garbage);
        const Rows old = makeOldStore();
        const QByteArray good = NorvaTest::fileBytes(m_old);
        QFile file(m_old);
        if (garbage)
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(QByteArray(4096, 'x')) &&
                    file.flush());
        else
            makeStore(m_new, {createUser, QString("CREATE TRIGGER stop BEFORE INSERT") + stopOn});
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Cannot (read|copy)"));
        QCOMPARE(run(), LoginStoreMigration::Failed);
        QCOMPARE(marks(), 0);
        QCOMPARE(count(m_new, "user"), 0);
        QVERIFY(!LoginStoreMigration::blankOldPasswords(m_old, m_new)); // nothing copied yet
        QVERIFY(garbage || NorvaTest::fileBytes(m_old) == good);

        // Meanwhile the store gets logins of its own: one new name, one saved again.
        makeStore(m_new, {createUser});
        sql(m_new, {"DROP TRIGGER IF EXISTS stop",
                    "INSERT INTO user (name, password, createdate) VALUES "
                    "('n', 'pn', '2024-01-01 00:00:00'), ('b', 'newer', '2024-01-02 00:00:00')"});
        file.close();
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(good) && file.flush());
        QCOMPARE(run(), LoginStoreMigration::Copied);
        Rows expected = old;
        expected.removeAt(2); // 'b', saved again since
        expected << QStringList{"12", "n", "pn", "NULL", "NULL", "2024-01-01 00:00:00"}
                 << QStringList{"13", "b", "newer", "NULL", "NULL", "2024-01-02 00:00:00"};
        QCOMPARE(userRows(m_new), expected);
        QCOMPARE(run(), LoginStoreMigration::AlreadyCopied);
        QCOMPARE(userRows(m_new), expected);
    }

    // A copier killed with its write under way (a reader keeps it from committing) leaves a hot
    // journal; the next start rolls it back and copies every row once.
    void killedInTheMiddle()
    {
        const Rows old = makeOldStore();
        makeStore(m_new, {createUser}); // as an earlier start left it, without logins
        const QString journal = m_new + "-journal";
        {
            QSqlDatabase reader = QSqlDatabase::addDatabase("QSQLITE", "reader");
            reader.setDatabaseName(m_new);
            QVERIFY(reader.open());
            QSqlQuery hold(reader);
            QVERIFY(hold.exec("BEGIN") && hold.exec("SELECT count(*) FROM sqlite_master"));

            QProcess copier;
            copier.setProcessChannelMode(QProcess::ForwardedChannels);
            copier.start(QCoreApplication::applicationFilePath(), {"--migrate", m_old, m_new});
            QVERIFY(NorvaTest::waitFor(
                [&] {
                    return QFileInfo(journal).size() > 0 || copier.state() == QProcess::NotRunning;
                },
                60000));
            copier.kill();
            QVERIFY(copier.waitForFinished(10000));
            QCOMPARE(copier.exitStatus(), QProcess::CrashExit);
            QVERIFY(QFileInfo(journal).size() > 0);
            hold.exec("COMMIT");
        }
        QSqlDatabase::removeDatabase("reader");

        QCOMPARE(run(), LoginStoreMigration::Copied);
        QVERIFY(!QFileInfo::exists(journal));
        QCOMPARE(userRows(m_new), old);
        QCOMPARE(marks(), 1);
        QCOMPARE(run(), LoginStoreMigration::AlreadyCopied);
        QCOMPARE(userRows(m_new), old);
    }
};

int main(int argc, char *argv[])
{
    // The copier of killedInTheMiddle.
    if (argc == 4 && qstrcmp(argv[1], "--migrate") == 0) {
        QCoreApplication app(argc, argv);
        return int(LoginStoreMigration::run(QString::fromLocal8Bit(argv[2]),
                                            QString::fromLocal8Bit(argv[3])));
    }
    NorvaTest::prepareEnvironment();
    QApplication app(argc, argv);
    NorvaTest::afterApplication();
    TestLoginStoreMigration tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_loginstoremigration.moc"
