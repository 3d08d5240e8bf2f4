#include "store/database.h"
#include "store/passwordcodec.h"
#include "tests/support/testsupport.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <sys/stat.h>

using Logins = QList<QPair<QString, QString>>;

class TestDataBase : public QObject
{
    Q_OBJECT

    QTemporaryDir *m_temp = nullptr;
    DataBase *m_store = nullptr;

    QString storeDir() const { return m_temp->path() + QStringLiteral("/databases/"); }
    QString storeFile() const { return storeDir() + QStringLiteral("Databases.db"); }

    DataBase *openStore(const QString &directory)
    {
        delete m_store;
        m_store = new DataBase(directory);
        return m_store;
    }

    // The store keeps the process-wide default connection; each case starts without one so
    // that its own directory and file are really used.
    void dropStore()
    {
        delete m_store;
        m_store = nullptr;
        if (QSqlDatabase::contains(QSqlDatabase::defaultConnection))
            QSqlDatabase::removeDatabase(QSqlDatabase::defaultConnection);
    }

    Logins logins()
    {
        Logins list;
        m_store->getLoginInfos(list);
        return list;
    }

    // One value straight from the file, bypassing the store.
    static QVariant rawValue(const QString &sql, const QVariantList &values = {})
    {
        QSqlQuery query(QSqlDatabase::database());
        query.prepare(sql);
        for (const QVariant &value : values)
            query.addBindValue(value);
        if (!query.exec() || !query.next())
            return QVariant();
        return query.value(0);
    }

    static int modeOf(const QString &path)
    {
        struct stat st;
        if (::stat(QFile::encodeName(path).constData(), &st) != 0)
            return -1;
        return int(st.st_mode & 07777);
    }

private slots:
    void init()
    {
        m_temp = new QTemporaryDir;
        QVERIFY(m_temp->isValid());
    }

    void cleanup()
    {
        dropStore();
        delete m_temp;
        m_temp = nullptr;
    }

    // On a first start the web profile's directory does not exist yet.
    void missingProfileDirectoryIsCreated()
    {
        const QString dir = m_temp->path() + QStringLiteral("/QtWebEngine/Default/databases/");
        openStore(dir);
        QVERIFY(m_store->saveLoginInfo(QStringLiteral("u"), QStringLiteral("p")));
        QCOMPARE(logins().size(), 1);
        QCOMPARE(modeOf(dir), 0700);
    }

    void savingTheSameNameTwiceUpdatesTheRow()
    {
        openStore(storeDir());
        const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
        QVERIFY(m_store->saveLoginInfo(QStringLiteral("alice"), QStringLiteral("first")));
        const QDateTime after = QDateTime::currentDateTime().addSecs(1);

        const QString created =
            rawValue(QStringLiteral("SELECT createdate FROM user WHERE name = 'alice'")).toString();
        QVERIFY2(QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d$"))
                     .match(created)
                     .hasMatch(),
                 qPrintable(created));
        const QDateTime createdAt =
            QDateTime::fromString(created, QStringLiteral("yyyy-MM-dd hh:mm:ss"));
        QVERIFY(createdAt >= before.addMSecs(-before.time().msec()) && createdAt <= after);

        // An old creation date makes it plain whether the update kept it.
        QString error;
        QVERIFY(m_store->execSql(
            error, QStringLiteral("UPDATE user SET createdate = '2001-02-03 04:05:06'")));
        const qlonglong id =
            rawValue(QStringLiteral("SELECT id FROM user WHERE name = 'alice'")).toLongLong();

        QVERIFY(m_store->saveLoginInfo(QStringLiteral("bob"), QStringLiteral("b")));
        QVERIFY(m_store->saveLoginInfo(QStringLiteral("alice"), QStringLiteral("second")));

        QCOMPARE(rawValue(QStringLiteral("SELECT count(*) FROM user WHERE name = 'alice'")).toInt(),
                 1);
        QCOMPARE(rawValue(QStringLiteral("SELECT id FROM user WHERE name = 'alice'")).toLongLong(),
                 id);
        QCOMPARE(rawValue(QStringLiteral("SELECT createdate FROM user WHERE name = 'alice'")),
                 QVariant(QStringLiteral("2001-02-03 04:05:06")));
        QVERIFY(rawValue(QStringLiteral("SELECT url FROM user WHERE name = 'alice'")).isNull());
        QCOMPARE(logins(), (Logins{{QStringLiteral("alice"), QStringLiteral("second")},
                                   {QStringLiteral("bob"), QStringLiteral("b")}}));
    }

    void listKeepsTheOrderOfFirstSave()
    {
        openStore(storeDir());
        Logins list;
        QVERIFY(!m_store->getLoginInfos(list));
        QVERIFY(list.isEmpty());

        for (const char *name : {"carol", "alice", "bob"})
            QVERIFY(m_store->saveLoginInfo(QString::fromLatin1(name), QStringLiteral("p1")));
        QVERIFY(m_store->saveLoginInfo(QStringLiteral("alice"), QStringLiteral("p2")));
        QVERIFY(m_store->saveLoginInfo(QStringLiteral("carol"), QStringLiteral("p3")));
        QCOMPARE(logins(), (Logins{{QStringLiteral("carol"), QStringLiteral("p3")},
                                   {QStringLiteral("alice"), QStringLiteral("p2")},
                                   {QStringLiteral("bob"), QStringLiteral("p1")}}));

        // Saved again after a delete it is a new login, so it goes last.
        QVERIFY(m_store->deleteLoginInfo(QStringLiteral("carol")));
        QVERIFY(m_store->saveLoginInfo(QStringLiteral("carol"), QStringLiteral("p4")));

        // The caller's list is appended to, not replaced.
        list = {{QStringLiteral("kept"), QStringLiteral("x")}};
        QVERIFY(m_store->getLoginInfos(list));
        QCOMPARE(list, (Logins{{QStringLiteral("kept"), QStringLiteral("x")},
                               {QStringLiteral("alice"), QStringLiteral("p2")},
                               {QStringLiteral("bob"), QStringLiteral("p1")},
                               {QStringLiteral("carol"), QStringLiteral("p4")}}));
    }

    void passwordsReadBackUnchanged()
    {
        openStore(storeDir());
        const QStringList passwords = {QStringLiteral("1"),
                                       QStringLiteral("12"),
                                       QStringLiteral("123"),
                                       QStringLiteral("1234"),
                                       QStringLiteral("12345"),
                                       QStringLiteral("123456"),
                                       QStringLiteral("é"),
                                       QStringLiteral("密码"),
                                       QStringLiteral("Pässwört-пароль"),
                                       QStringLiteral("it's \"quoted\""),
                                       QStringLiteral("x'); DROP TABLE user; --")};
        Logins expected;
        for (int i = 0; i < passwords.size(); ++i) {
            const QString name = QStringLiteral("user%1").arg(i);
            QVERIFY2(m_store->saveLoginInfo(name, passwords.at(i)), qPrintable(passwords.at(i)));
            expected.append({name, passwords.at(i)});
        }
        QCOMPARE(logins(), expected);
    }

    // Exactly what an earlier release wrote must land in the file.
    void passwordIsStoredInItsScrambledForm()
    {
        openStore(storeDir());
        QVERIFY(m_store->saveLoginInfo(QStringLiteral("short"), QStringLiteral("abc")));
        QVERIFY(m_store->saveLoginInfo(QStringLiteral("padded"), QStringLiteral("hello")));
        // "abc": Base64 "YWJj", too short to shuffle, XOR 0x1F.
        QCOMPARE(rawValue(QStringLiteral("SELECT password FROM user WHERE name = 'short'")),
                 QVariant(QStringLiteral("FHUu")));
        // "hello": "aGVsbG8=", body reversed behind "a" -> "a8GbsVG=", XOR 0x1F.
        QCOMPARE(rawValue(QStringLiteral("SELECT password FROM user WHERE name = 'padded'")),
                 QVariant(QStringLiteral("~'X}lIX\"")));
    }

    void fileFromAnEarlierReleaseReads()
    {
        QVERIFY(QDir().mkdir(storeDir()));
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"));
            db.setDatabaseName(storeFile());
            QVERIFY(db.open());
            QSqlQuery query(db);
            QVERIFY(query.exec(QStringLiteral(
                "CREATE TABLE user (id INTEGER PRIMARY KEY NOT NULL, name VARCHAR(40) NOT NULL, "
                "password VARCHAR(100) NOT NULL, url VARCHAR(255), ext VARCHAR(255), "
                "createdate DATE)")));
            QVERIFY(
                query.exec(QStringLiteral("INSERT INTO user (name, password, createdate) VALUES "
                                          "('13800000000', '|/Ir|uI-', '2019-05-06 07:08:09'), "
                                          "('13900000000', '*]\\)*X4~', '2019-05-07 07:08:09')")));
            db.close();
        }
        QSqlDatabase::removeDatabase(QSqlDatabase::defaultConnection);

        openStore(storeDir());
        QVERIFY(m_store->createTable());
        QCOMPARE(logins(), (Logins{{QStringLiteral("13800000000"), QStringLiteral("secret")},
                                   {QStringLiteral("13900000000"), QStringLiteral("密码")}}));
    }

    void namesWithQuotesAreOrdinaryNames()
    {
        openStore(storeDir());
        const QString quoted = QStringLiteral("o'brien");
        const QString sneaky = QStringLiteral("x' OR '1'='1");
        QVERIFY(m_store->saveLoginInfo(QStringLiteral("plain"), QStringLiteral("p")));
        QVERIFY(m_store->saveLoginInfo(quoted, QStringLiteral("q")));
        QVERIFY(m_store->saveLoginInfo(sneaky, QStringLiteral("s")));
        QVERIFY(m_store->saveLoginInfo(sneaky, QStringLiteral("s2")));
        QCOMPARE(logins(), (Logins{{QStringLiteral("plain"), QStringLiteral("p")},
                                   {quoted, QStringLiteral("q")},
                                   {sneaky, QStringLiteral("s2")}}));

        QVERIFY(m_store->deleteLoginInfo(sneaky));
        QCOMPARE(logins(), (Logins{{QStringLiteral("plain"), QStringLiteral("p")},
                                   {quoted, QStringLiteral("q")}}));
        QVERIFY(m_store->deleteLoginInfo(quoted));
        QCOMPARE(logins(), (Logins{{QStringLiteral("plain"), QStringLiteral("p")}}));
    }

    void deletingAndClearing()
    {
        openStore(storeDir());
        QVERIFY(m_store->saveLoginInfo(QStringLiteral("a"), QStringLiteral("1")));
        QVERIFY(m_store->saveLoginInfo(QStringLiteral("b"), QStringLiteral("2")));
        QVERIFY(m_store->deleteLoginInfo(QStringLiteral("nobody")));
        QCOMPARE(logins().size(), 2);

        QVERIFY(m_store->clearLoginInfo());
        Logins list;
        QVERIFY(!m_store->getLoginInfos(list));
        QVERIFY(list.isEmpty());
        QVERIFY(m_store->clearLoginInfo());
    }

    void uncreatableDirectoryMakesEveryOperationFail()
    {
        QFile blocker(m_temp->filePath(QStringLiteral("profile")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();

        openStore(blocker.fileName() + QStringLiteral("/databases/"));
        QVERIFY(!QSqlDatabase::contains(QSqlDatabase::defaultConnection));
        QVERIFY(!m_store->saveLoginInfo(QStringLiteral("a"), QStringLiteral("1")));
        Logins list;
        QVERIFY(!m_store->getLoginInfos(list));
        QVERIFY(list.isEmpty());
        QVERIFY(!m_store->deleteLoginInfo(QStringLiteral("a")));
        QVERIFY(!m_store->clearLoginInfo());
        QVERIFY(!m_store->createTable());
        QString error = QStringLiteral("untouched");
        QVERIFY(!m_store->execSql(error, QStringLiteral("SELECT 1")));
        QCOMPARE(error, QStringLiteral("untouched"));
    }

    // The file holds recoverable passwords: nobody but the user may read it, whatever the umask.
    void newDirectoryAndFileAreOwnerOnly()
    {
        const mode_t oldMask = ::umask(0);
        openStore(storeDir());
        ::umask(oldMask);
        QVERIFY(m_store->saveLoginInfo(QStringLiteral("a"), QStringLiteral("1")));
        QCOMPARE(modeOf(storeDir()), 0700);
        QCOMPARE(modeOf(storeFile()), 0600);
    }

    void existingDirectoryKeepsItsModeAndFileIsTightened()
    {
        QVERIFY(QDir().mkdir(storeDir()));
        QVERIFY(QFile::setPermissions(
            storeDir(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup |
                            QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther));
        QFile file(storeFile());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        QVERIFY(QFile::setPermissions(storeFile(), QFile::ReadOwner | QFile::WriteOwner |
                                                       QFile::ReadGroup | QFile::ReadOther));

        openStore(storeDir());
        QVERIFY(m_store->saveLoginInfo(QStringLiteral("a"), QStringLiteral("1")));
        QCOMPARE(modeOf(storeDir()), 0755);
        QCOMPARE(modeOf(storeFile()), 0600);
        QCOMPARE(logins().size(), 1);
    }

    void tableIsCreatedOnceAndKept()
    {
        openStore(storeDir());
        QVERIFY(m_store->createTable());
        QVERIFY(m_store->saveLoginInfo(QStringLiteral("a"), QStringLiteral("1")));
        QVERIFY(m_store->createTable());

        dropStore();
        openStore(storeDir());
        QVERIFY(m_store->createTable());
        QCOMPARE(logins(), (Logins{{QStringLiteral("a"), QStringLiteral("1")}}));
    }

    void undecodableStoredPasswordsReadAsWhatTheyGive()
    {
        openStore(storeDir());
        QString error;
        QVERIFY(m_store->execSql(
            error, QStringLiteral("INSERT INTO user (name, password) VALUES ('empty', '')")));
        QVERIFY(m_store->execSql(
            error,
            QStringLiteral("INSERT INTO user (name, password) VALUES ('junk', '=\"%!==密码')")));
        const Logins list = logins();
        QCOMPARE(list.size(), 2);
        QCOMPARE(list.at(0), qMakePair(QStringLiteral("empty"), QString()));
        QCOMPARE(list.at(1).first, QStringLiteral("junk"));
    }

    void execSqlHandsBackTheErrorText()
    {
        openStore(storeDir());
        QString error;
        QVERIFY(!m_store->execSql(error, QStringLiteral("SELECT * FROM missing_table")));
        QVERIFY2(error.contains(QStringLiteral("missing_table")), qPrintable(error));
    }

    // The process keeps one default connection; a second store uses it rather than its own
    // directory, and a connection closed in between is opened again.
    void secondStoreReusesTheConnection()
    {
        openStore(storeDir());
        QVERIFY(m_store->saveLoginInfo(QStringLiteral("a"), QStringLiteral("1")));

        const QString otherDir = m_temp->path() + QStringLiteral("/other/");
        auto *second = new DataBase(otherDir);
        QVERIFY(!QFileInfo::exists(otherDir));
        Logins list;
        QVERIFY(second->getLoginInfos(list));
        QCOMPARE(list, (Logins{{QStringLiteral("a"), QStringLiteral("1")}}));
        delete second;
        QVERIFY(!QSqlDatabase::database(QSqlDatabase::defaultConnection, false).isOpen());

        QVERIFY(m_store->saveLoginInfo(QStringLiteral("b"), QStringLiteral("2")));
        QCOMPARE(logins().size(), 2);
    }
};

NORVA_TEST_MAIN(TestDataBase)
#include "tst_database.moc"
