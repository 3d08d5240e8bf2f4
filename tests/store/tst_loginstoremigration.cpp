#include "store/loginstoremigration.h"
#include "tests/support/testsupport.h"

#include <QCryptographicHash>
#include <QProcess>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>

#include <functional>
#include <memory>

namespace {

const char createUser[] = "CREATE TABLE user (id INTEGER PRIMARY KEY NOT NULL, name VARCHAR(40) "
                          "NOT NULL, password VARCHAR(100) NOT NULL, url VARCHAR(255), "
                          "ext VARCHAR(255), createdate DATE)";

// Runs statements on a file through a connection of its own; answers the rows of the last one.
QList<QStringList> sql(const QString &file, const QStringList &statements)
{
    QList<QStringList> rows;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "test");
        db.setDatabaseName(file);
        if (!db.open())
            return rows;
        QSqlQuery query(db);
        for (const QString &statement : statements) {
            rows.clear();
            if (!query.exec(statement)) {
                rows << QStringList{"error: " + query.lastError().text()};
                break;
            }
            while (query.next()) {
                QStringList row;
                for (int i = 0; i < query.record().count(); ++i)
                    row << (query.value(i).isNull() ? "NULL" : query.value(i).toString());
                rows << row;
            }
        }
    }
    QSqlDatabase::removeDatabase("test");
    return rows;
}

QList<QStringList> userRows(const QString &file)
{
    return sql(file, {"SELECT id, name, password, url, ext, createdate FROM user ORDER BY id"});
}

int marks(const QString &file)
{
    const QList<QStringList> rows =
        sql(file, {QString("SELECT count(*) FROM %1").arg(LoginStoreMigration::markTable())});
    return rows.value(0).value(0).toInt();
}

QByteArray digest(const QString &file)
{
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256);
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

    // An old store as older versions left it: ids with gaps (deleted rows), a quote, a
    // non-ASCII name, columns never written by the program.
    QList<QStringList> makeOldStore()
    {
        QDir().mkpath(QFileInfo(m_old).path());
        sql(m_old, {createUser,
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

    void copiesOnceAndOnlyOnce()
    {
        QCOMPARE(LoginStoreMigration::run(m_old, m_new), LoginStoreMigration::NothingToCopy);
        QVERIFY(!QFileInfo::exists(m_new));

        const QList<QStringList> old = makeOldStore();
        QCOMPARE(old.size(), 5);
        const QByteArray before = digest(m_old);
        QCOMPARE(LoginStoreMigration::run(m_old, m_new), LoginStoreMigration::Copied);
        QCOMPARE(userRows(m_new), old);
        QCOMPARE(marks(m_new), 1);
        QCOMPARE(digest(m_old), before); // only read
        QCOMPARE(NorvaTest::fileMode(m_new), 0600);
        QCOMPARE(NorvaTest::fileMode(QFileInfo(m_new).path()), 0700);

        // Later starts copy nothing, even when the old file changed meanwhile.
        sql(m_old, {"INSERT INTO user (name, password) VALUES ('late', 'x')"});
        QCOMPARE(LoginStoreMigration::run(m_old, m_new), LoginStoreMigration::AlreadyCopied);
        QCOMPARE(userRows(m_new), old);
    }

    // The engine's own WebSQL index sits where the store was once it has replaced the folder.
    void oldFileWithoutLogins()
    {
        QDir().mkpath(QFileInfo(m_old).path());
        sql(m_old, {"CREATE TABLE Databases (id INTEGER PRIMARY KEY, origin TEXT, name TEXT)"});
        QCOMPARE(LoginStoreMigration::run(m_old, m_new), LoginStoreMigration::Copied);
        QCOMPARE(marks(m_new), 1);
        QCOMPARE(LoginStoreMigration::run(m_old, m_new), LoginStoreMigration::AlreadyCopied);
    }

    // A copy that fails leaves no row and no mark; the next start copies everything, and
    // logins saved in between stay, behind the older ones.
    void failedCopyIsMadeAgain_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("old file not a database") << "garbage";
        QTest::newRow("write fails halfway") << "trigger";
    }

    void failedCopyIsMadeAgain()
    {
        QFETCH(QString, how);
        const QList<QStringList> old = makeOldStore();
        const QByteArray good = digest(m_old);
        QFile::copy(m_old, m_old + ".good");
        if (how == "garbage") {
            QFile file(m_old);
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write(QByteArray(4096, 'x'));
        } else {
            QDir().mkpath(QFileInfo(m_new).path());
            sql(m_new, {createUser, "CREATE TRIGGER stop BEFORE INSERT ON user WHEN NEW.name = "
                                    "'b' BEGIN SELECT RAISE(ABORT, 'disk full'); END"});
        }
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Cannot (read|copy)"));
        QCOMPARE(LoginStoreMigration::run(m_old, m_new), LoginStoreMigration::Failed);
        QCOMPARE(marks(m_new), 0);
        QCOMPARE(sql(m_new, {"SELECT count(*) FROM user"}).value(0).value(0).toInt(), 0);

        // Meanwhile the store gets logins of its own: one new name, one saved again.
        if (!sql(m_new, {createUser}).isEmpty())
            QCOMPARE(sql(m_new, {"DROP TRIGGER stop"}), QList<QStringList>{});
        sql(m_new, {"INSERT INTO user (name, password, createdate) VALUES "
                    "('n', 'pn', '2024-01-01 00:00:00'), ('b', 'newer', '2024-01-02 00:00:00')"});
        QFile::remove(m_old);
        QVERIFY(QFile::copy(m_old + ".good", m_old));
        QCOMPARE(digest(m_old), good);

        QCOMPARE(LoginStoreMigration::run(m_old, m_new), LoginStoreMigration::Copied);
        QList<QStringList> expected = old;
        expected.removeAt(2); // 'b', saved again since
        expected << QStringList{"12", "n", "pn", "NULL", "NULL", "2024-01-01 00:00:00"}
                 << QStringList{"13", "b", "newer", "NULL", "NULL", "2024-01-02 00:00:00"};
        QCOMPARE(userRows(m_new), expected);
        QCOMPARE(LoginStoreMigration::run(m_old, m_new), LoginStoreMigration::AlreadyCopied);
        QCOMPARE(userRows(m_new), expected);
    }

    // The old file's passwords are emptied only once the copy is marked; rows and other columns
    // stay, and no stored form is left in its bytes, not even one of a row an older version
    // deleted without zeroing. A write that fails is made at the next call, a finished one never
    // again.
    void blanksOldPasswordsOnceCopied()
    {
        const QList<QStringList> old = makeOldStore();
        sql(m_old, {"PRAGMA secure_delete = OFF",
                    "INSERT INTO user (id, name, password) VALUES (20, 'gone', 'Deleted-Form-4')",
                    "DELETE FROM user WHERE id = 20"});
        QVERIFY(NorvaTest::fileBytes(m_old).contains("Deleted-Form-4"));
        const QByteArray before = digest(m_old);

        QVERIFY(!LoginStoreMigration::blankOldPasswords(m_old, m_new)); // no store yet
        QDir().mkpath(QFileInfo(m_new).path());
        sql(m_new, {createUser}); // a store whose copy failed: no mark
        QVERIFY(!LoginStoreMigration::blankOldPasswords(m_old, m_new));
        QCOMPARE(digest(m_old), before);

        QCOMPARE(LoginStoreMigration::run(m_old, m_new), LoginStoreMigration::Copied);
        sql(m_old, {"CREATE TRIGGER stop BEFORE UPDATE ON user WHEN NEW.name = 'b' BEGIN "
                    "SELECT RAISE(ABORT, 'disk full'); END"});
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Cannot empty the passwords"));
        QVERIFY(!LoginStoreMigration::blankOldPasswords(m_old, m_new));
        QCOMPARE(userRows(m_old), old); // all or nothing
        QCOMPARE(sql(m_old, {"DROP TRIGGER stop"}), QList<QStringList>{});

        QVERIFY(LoginStoreMigration::blankOldPasswords(m_old, m_new));
        QList<QStringList> blank = old;
        for (QStringList &row : blank)
            row[2] = "";
        QCOMPARE(userRows(m_old), blank);
        QCOMPARE(userRows(m_new), old);
        const QByteArray after = NorvaTest::fileBytes(m_old);
        for (const char *form : {"Sm4jJA", "w-x=y", "Deleted-Form-4"})
            QVERIFY2(!after.contains(form), form);
        QVERIFY(!QFileInfo::exists(m_old + "-journal"));

        const QByteArray blanked = digest(m_old);
        QVERIFY(LoginStoreMigration::blankOldPasswords(m_old, m_new));
        QCOMPARE(digest(m_old), blanked);
    }

    // A start killed in the middle of the copy leaves the new file with an unfinished write;
    // the next start rolls it back and copies every row once. A reader of the new file keeps
    // the copying process from committing; it is killed once its write is under way.
    void killedInTheMiddle()
    {
        const QList<QStringList> old = makeOldStore();
        QDir().mkpath(QFileInfo(m_new).path());
        sql(m_new, {createUser}); // as an earlier start left it, without logins
        {
            QSqlDatabase reader = QSqlDatabase::addDatabase("QSQLITE", "reader");
            reader.setDatabaseName(m_new);
            QVERIFY(reader.open());
            QSqlQuery hold(reader);
            QVERIFY(hold.exec("BEGIN"));
            QVERIFY(hold.exec("SELECT count(*) FROM sqlite_master"));

            QProcess copier;
            copier.setProcessChannelMode(QProcess::ForwardedChannels);
            copier.start(QCoreApplication::applicationFilePath(), {"--migrate", m_old, m_new});
            QVERIFY(copier.waitForStarted());
            // Its journal shows the copy under way; the reader keeps it from committing.
            const QString journal = m_new + "-journal";
            QVERIFY(NorvaTest::waitFor(
                [&] {
                    return QFileInfo(journal).size() > 0 || copier.state() == QProcess::NotRunning;
                },
                60000));
            copier.kill();
            QVERIFY(copier.waitForFinished(10000));
            QCOMPARE(copier.exitStatus(), QProcess::CrashExit);
            QVERIFY(QFileInfo(journal).size() > 0); // the unfinished write
            hold.exec("COMMIT");
        }
        QSqlDatabase::removeDatabase("reader");

        QCOMPARE(LoginStoreMigration::run(m_old, m_new), LoginStoreMigration::Copied);
        QVERIFY(!QFileInfo::exists(m_new + "-journal"));
        QCOMPARE(userRows(m_new), old);
        QCOMPARE(marks(m_new), 1);
        QCOMPARE(LoginStoreMigration::run(m_old, m_new), LoginStoreMigration::AlreadyCopied);
        QCOMPARE(userRows(m_new), old);
    }
};

int main(int argc, char *argv[])
{
    // The copier of killedInTheMiddle: this program run as a plain process.
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
