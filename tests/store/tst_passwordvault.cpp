// NORVA_TEST_WITH_KEYRING: runs against a real, unlocked Secret Service of its own.
#include "store/database.h"
#include "store/passwordcodec.h"
#include "store/passwordvault.h"
#include "tests/support/testlogins.h"
#include "tests/support/testsupport.h"

#include <QSqlQuery>
#include <QTemporaryDir>

#include <memory>

using NorvaTest::Logins;
using NorvaTest::secretTool;

namespace {

QStringList item(const QString &id)
{
    return {"server", "Kestrel/Norva", "user", PasswordVault::itemName(id)};
}
QString keyItem(const QString &id = PasswordVault::defaultKeyId())
{
    return secretTool(QStringList{"lookup"} + item(id));
}
QString stored(const QString &name)
{
    QSqlQuery query(QSqlDatabase::database());
    query.prepare("SELECT password FROM user WHERE name = ?");
    query.addBindValue(name);
    return query.exec() && query.next() ? query.value(0).toString() : QString("(none)");
}
bool exec(const QString &sql)
{
    return QSqlQuery(QSqlDatabase::database()).exec(sql);
}
QStringList rowsWithoutPasswords()
{
    QStringList rows;
    for (QSqlQuery q("SELECT quote(id) || quote(name) || quote(url) || quote(ext) || "
                     "quote(createdate) FROM user ORDER BY id",
                     QSqlDatabase::database());
         q.next();)
        rows << q.value(0).toString();
    return rows;
}

} // namespace

// Saved passwords sealed with a key only the keyring holds: nothing in the login file gives them
// away, old rows are sealed at the first start with a keyring, and a lost key costs only its rows.
class TestPasswordVault : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_temp;
    DataBase *m_store = nullptr;
    bool m_allSealed = false; // the last start reported every password sealed with the current key

    QString directory() const { return m_temp->path() + "/databases/"; }
    QString fileName() const { return directory() + "Databases.db"; }
    Logins logins() const { return NorvaTest::logins(m_store); }

    // A start of the program on the same file; with a vault, answers once its keys are read.
    bool start(const QString &directory = QString(), bool withVault = true)
    {
        delete m_store;
        QSqlDatabase::removeDatabase(QSqlDatabase::defaultConnection);
        m_store = new DataBase(directory.isEmpty() ? this->directory() : directory);
        m_allSealed = false;
        connect(m_store, &DataBase::passwordsSealed, this, [this] { m_allSealed = true; });
        if (withVault)
            m_store->setVault(new PasswordVault);
        return !withVault || NorvaTest::waitFor([this] { return m_store->passwordsReadable(); });
    }

private slots:
    void initTestCase()
    {
        if (qgetenv("NORVA_TEST_KEYRING") != "yes")
            QSKIP("needs the keyring that tests/support/run-test.sh --keyring starts");
    }
    void init() { m_temp.reset(new QTemporaryDir); }
    void cleanup()
    {
        delete m_store;
        m_store = nullptr;
        QSqlDatabase::removeDatabase(QSqlDatabase::defaultConnection);
        secretTool(QStringList{"clear"} + item("1")); // each case starts with no key
    }

    void sealedAtRestAndReadBackAfterRestart()
    {
        const Logins saved{{"13800000000", "Secret-One-1"},
                           {"o'brien", "Pässwört-пароль-密码"},
                           {"quoted", "it's \"three\" 3"},
                           {"long", QString("Long-Password-").repeated(8)}};
        QVERIFY(start());
        for (const auto &login : saved)
            QVERIFY(m_store->saveLoginInfo(login.first, login.second));
        QVERIFY(
            m_store->saveLoginInfo("13800000000", "Secret-Two-2")); // keeps the row and its place
        Logins expected = saved;
        expected[0].second = "Secret-Two-2";
        QCOMPARE(logins(), expected);
        QCOMPARE(NorvaTest::passwordsIn(fileName(), saved + expected), QStringList());

        QVERIFY(start());
        QCOMPARE(logins(), expected);
        QCOMPARE(NorvaTest::passwordsIn(fileName(), saved + expected), QStringList());
        for (const auto &login : saved) {
            const QString text = stored(login.first);
            QVERIFY2(PasswordVault::isSealed(text), qPrintable(text));
            // An older version reads a sealed row as an empty password, never a wrong one.
            QString old;
            QVERIFY(!decodePassword(text, old) && old.isEmpty());
        }

        // A damaged sealed text leaves that row out, nothing more.
        const QString good = stored("quoted");
        Logins rest = expected;
        rest.removeAt(2);
        for (const QString &damaged :
             {QString("#1:"), QString("#1:1:"), QString("#1:1:123"), good.chopped(1),
              good.chopped(2), good.left(40), good + "12", QString(good).replace(10, 1, "z"),
              QString(good).replace(12, 1, QChar(0x4e2d)),
              QString(good).replace(12, 1, QChar(0))}) {
            QSqlQuery update(QSqlDatabase::database());
            update.prepare("UPDATE user SET password = ? WHERE name = 'quoted'");
            update.addBindValue(damaged);
            QVERIFY(update.exec());
            QCOMPARE(logins(), rest);
        }
    }

    void oldRowsSealedAtFirstStartWithKeyring()
    {
        QVERIFY(start(QString(), false)); // as an older version or a start without keyring
        const Logins old{{"a", "Old-Password-A"}, {"b", "Old-Password-B"}, {"c", "xyz"}};
        for (const auto &login : old)
            QVERIFY(m_store->saveLoginInfo(login.first, login.second));
        QVERIFY(exec("INSERT INTO user (name, password, createdate) "
                     "VALUES ('empty', '', '2001-02-03 04:05:06')"));
        QVERIFY(exec("UPDATE user SET createdate = '2002-03-04 05:06:07' WHERE name = 'b'"));
        QCOMPARE(stored("a"), NorvaTest::scrambled("Old-Password-A"));
        const QStringList before = rowsWithoutPasswords();

        QVERIFY(start());
        QVERIFY(m_allSealed);
        const Logins expected = old + Logins{{"empty", ""}};
        QCOMPARE(logins(), expected);
        QCOMPARE(NorvaTest::passwordsIn(fileName(), old), QStringList());
        for (const auto &login : old)
            QVERIFY(PasswordVault::isSealed(stored(login.first)));
        QCOMPARE(stored("empty"), QString());
        QCOMPARE(rowsWithoutPasswords(), before);
    }

    void lostKeyCostsOnlyItsRows()
    {
        QVERIFY(start());
        QVERIFY(m_store->saveLoginInfo("a", "Pass-A-123"));
        QVERIFY(m_store->saveLoginInfo("b", "Pass-B-456"));
        const QString oldKey = keyItem();
        secretTool(QStringList{"clear"} + item("1")); // the keyring is reset
        QVERIFY(!oldKey.isEmpty() && keyItem().isEmpty());

        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("no usable key 1:"));
        QVERIFY(start());
        QVERIFY(!m_allSealed);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("Saved login 1 left out"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("Saved login 2 left out"));
        Logins list;
        QVERIFY(!m_store->getLoginInfos(list) && list.isEmpty());
        // Later rows get a key of their own: the old item is never overwritten.
        QVERIFY(m_store->saveLoginInfo("c", "Pass-C-789"));
        const QString newId = PasswordVault::keyIdOf(stored("c"));
        QVERIFY(newId != "1" && !newId.isEmpty());
        // A sealed text moved to another name's row does not open there.
        QVERIFY(exec("UPDATE user SET password = (SELECT password FROM user WHERE name = 'c') "
                     "WHERE name = 'a'"));
        QCOMPARE(logins(), (Logins{{"c", "Pass-C-789"}}));
        QVERIFY(m_store->saveLoginInfo("a", "Pass-A-new")); // back in its old place
        QCOMPARE(logins(), (Logins{{"a", "Pass-A-new"}, {"c", "Pass-C-789"}}));

        // The keyring comes back from a backup: b is read and sealed with the newer key, and the
        // old item, which no row needs any more, goes.
        secretTool(QStringList{"store", "--label=restored"} + item("1") +
                       QStringList{"type", "base64"},
                   oldKey.toLatin1());
        QVERIFY(start());
        QVERIFY(m_allSealed);
        QCOMPARE(logins(), (Logins{{"a", "Pass-A-new"}, {"b", "Pass-B-456"}, {"c", "Pass-C-789"}}));
        QCOMPARE(PasswordVault::keyIdOf(stored("b")), newId);
        QTRY_VERIFY_WITH_TIMEOUT(keyItem().isEmpty(), 20000);
        QVERIFY(!keyItem(newId).isEmpty());
    }

    void clearingDestroysTheKey()
    {
        QVERIFY(start());
        QVERIFY(m_store->saveLoginInfo("a", "Pass-A-123"));
        QVERIFY(m_store->deleteLoginInfo("a"));
        QVERIFY(m_store->saveLoginInfo("b", "Pass-B-456"));
        QTemporaryDir backup;
        QVERIFY(QDir().mkpath(backup.path() + "/databases"));
        QVERIFY(QFile::copy(fileName(), backup.path() + "/databases/Databases.db"));

        QSignalSpy settled(m_store, &DataBase::passwordsBecameReadable);
        QVERIFY(m_store->clearLoginInfo());
        QVERIFY(settled.wait(20000));
        QVERIFY(m_store->saveLoginInfo("c", "Pass-C-789"));
        QVERIFY(start());
        QCOMPARE(logins(), (Logins{{"c", "Pass-C-789"}}));

        // A copy of the file from before the clearing opens nothing any more.
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("Saved login \\d+ left out"));
        QVERIFY(start(backup.path() + "/databases/"));
        QCOMPARE(logins(), Logins());
    }
};

NORVA_TEST_MAIN(TestPasswordVault)
#include "tst_passwordvault.moc"
