#include "store/database.h"
#include "tests/support/testsupport.h"

#include <QSqlQuery>
#include <QTemporaryDir>

#include <sys/stat.h>

#include <memory>

using Logins = QList<QPair<QString, QString>>;

class TestDataBase : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_temp;
    DataBase *m_store = nullptr;

    QString storeDir() const { return m_temp->path() + QStringLiteral("/databases/"); }

    // The store keeps the process-wide default connection; each case starts without one so
    // that its own directory and file are really used.
    void openStore(const QString &directory)
    {
        delete m_store;
        if (QSqlDatabase::contains(QSqlDatabase::defaultConnection))
            QSqlDatabase::removeDatabase(QSqlDatabase::defaultConnection);
        m_store = new DataBase(directory);
    }

    bool save(const QString &name, const QString &password)
    {
        return m_store->saveLoginInfo(name, password);
    }

    bool exec(const QString &sql)
    {
        QString error;
        return m_store->execSql(error, sql);
    }

    Logins logins()
    {
        Logins list;
        m_store->getLoginInfos(list);
        return list;
    }

    // One value straight from the file, bypassing the store.
    static QVariant rawValue(const QString &column, const QString &name)
    {
        QSqlQuery query(QSqlDatabase::database());
        query.prepare(QStringLiteral("SELECT %1 FROM user WHERE name = ?").arg(column));
        query.addBindValue(name);
        return query.exec() && query.next() ? query.value(0) : QVariant();
    }

    static int modeOf(const QString &path)
    {
        struct stat st;
        return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
    }

private slots:
    void init() { m_temp.reset(new QTemporaryDir); }

    void cleanup()
    {
        delete m_store;
        m_store = nullptr;
        QSqlDatabase::removeDatabase(QSqlDatabase::defaultConnection);
    }

    // On a first start the web profile's directory does not exist yet. The file holds
    // recoverable passwords: nobody but the user may read it, whatever the umask, and a looser
    // file left by an earlier release is tightened.
    void missingDirectoriesAreCreatedOwnerOnly()
    {
        const QString dir = m_temp->path() + QStringLiteral("/QtWebEngine/Default/databases/");
        const QString file = dir + QStringLiteral("Databases.db");
        const mode_t oldMask = ::umask(0);
        openStore(dir);
        ::umask(oldMask);
        QVERIFY(save("u", "p"));
        QCOMPARE(logins().size(), 1);
        QCOMPARE(modeOf(dir), 0700);
        QCOMPARE(modeOf(file), 0600);

        QVERIFY(
            QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther));
        openStore(dir);
        QCOMPARE(modeOf(file), 0600);
        QCOMPARE(logins(), (Logins{{"u", "p"}}));
    }

    void savingTheSameNameTwiceUpdatesTheRow()
    {
        openStore(storeDir());
        QVERIFY(save("alice", "first"));
        // An old creation date makes it plain whether the update kept it.
        QVERIFY(exec("UPDATE user SET createdate = '2001-02-03 04:05:06'"));
        const qlonglong id = rawValue("id", "alice").toLongLong();

        QVERIFY(save("bob", "b"));
        QVERIFY(save("alice", "second"));
        QCOMPARE(rawValue("count(*)", "alice").toInt(), 1);
        QCOMPARE(rawValue("id", "alice").toLongLong(), id);
        QCOMPARE(rawValue("createdate", "alice"), QVariant(QStringLiteral("2001-02-03 04:05:06")));
        QCOMPARE(logins(), (Logins{{"alice", "second"}, {"bob", "b"}}));
    }

    void listKeepsTheOrderOfFirstSave()
    {
        openStore(storeDir());
        for (const char *name : {"carol", "alice", "bob"})
            QVERIFY(save(name, "p1"));
        QVERIFY(save("alice", "p2"));
        QVERIFY(m_store->deleteLoginInfo("nobody"));
        // Saved again after a delete it is a new login, so it goes last.
        QVERIFY(m_store->deleteLoginInfo("carol"));
        QVERIFY(save("carol", "p3"));

        // The caller's list is appended to, not replaced.
        Logins list{{"kept", "x"}};
        QVERIFY(m_store->getLoginInfos(list));
        QCOMPARE(list, (Logins{{"kept", "x"}, {"alice", "p2"}, {"bob", "p1"}, {"carol", "p3"}}));

        QVERIFY(m_store->clearLoginInfo());
        list.clear();
        QVERIFY(!m_store->getLoginInfos(list));
        QVERIFY(list.isEmpty());
    }

    void namesAndPasswordsReadBackUnchanged()
    {
        openStore(storeDir());
        QStringList texts{"密码",         "Pässwört-пароль",         "o'brien", "it's \"quoted\"",
                          "x' OR '1'='1", "x'); DROP TABLE user; --"};
        for (int bytes = 1; bytes <= 6; ++bytes)
            texts << QStringLiteral("123456").left(bytes);
        Logins expected;
        for (const QString &text : texts) {
            QVERIFY2(save(text, text), qPrintable(text));
            expected.append({text, text});
        }
        QCOMPARE(logins(), expected);
        for (const QString &text : texts.mid(2, 4))
            QVERIFY(m_store->deleteLoginInfo(text));
        expected.erase(expected.begin() + 2, expected.begin() + 6);
        QCOMPARE(logins(), expected);
    }

    // The scrambled form is shared with files written by earlier releases; what no release
    // wrote still reads without harm.
    void storedFormsAreReadAndWritten()
    {
        openStore(storeDir());
        QVERIFY(save("short", "abc"));
        QVERIFY(save("padded", "hello"));
        QCOMPARE(rawValue("password", "short"), QVariant(QStringLiteral("FHUu")));
        QCOMPARE(rawValue("password", "padded"), QVariant(QStringLiteral("~'X}lIX\"")));

        QVERIFY(exec("DELETE FROM user"));
        QVERIFY(exec("INSERT INTO user (name, password) VALUES ('13800000000', '|/Ir|uI-'), "
                     "('13900000000', '*]\\)*X4~'), ('empty', ''), ('junk', '=\"%!==密码')"));
        const Logins list = logins();
        QCOMPARE(list.size(), 4);
        QCOMPARE(list.mid(0, 3),
                 (Logins{{"13800000000", "secret"}, {"13900000000", "密码"}, {"empty", ""}}));
    }

    void uncreatableDirectoryMakesEveryOperationFail()
    {
        QFile blocker(m_temp->filePath(QStringLiteral("profile")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        openStore(blocker.fileName() + QStringLiteral("/databases/"));
        QVERIFY(!save("a", "1"));
        Logins list;
        QVERIFY(!m_store->getLoginInfos(list));
        QVERIFY(!m_store->deleteLoginInfo("a"));
        QVERIFY(!m_store->clearLoginInfo());
        QVERIFY(!exec("SELECT 1"));
    }

    // Stores share the process's one connection: a later one must not leave an earlier one
    // with a closed connection, and a later start keeps what the table holds.
    void storesShareTheConnection()
    {
        openStore(storeDir());
        QVERIFY(save("a", "1"));
        auto *second = new DataBase(m_temp->path() + QStringLiteral("/other/"));
        Logins list;
        QVERIFY(second->getLoginInfos(list));
        QCOMPARE(list, (Logins{{"a", "1"}}));
        delete second;
        QVERIFY(save("b", "2"));
        openStore(storeDir());
        QCOMPARE(logins(), (Logins{{"a", "1"}, {"b", "2"}}));
    }
};

NORVA_TEST_MAIN(TestDataBase)
#include "tst_database.moc"
