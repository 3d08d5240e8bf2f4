#include "store/database.h"

#include "store/passwordcodec.h"
#include "store/passwordvault.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QSqlError>
#include <QSqlQuery>

#include <memory>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

Q_DECLARE_LOGGING_CATEGORY(lcSecrets)

namespace {

const QString kTable = QStringLiteral("user");
const QFileDevice::Permissions kOwnerOnlyFile = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
const QFileDevice::Permissions kOwnerOnlyDir =
    QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;

QString statement(const char *text)
{
    return QString::fromLatin1(text).arg(kTable);
}

// On a first start the web profile's own directory does not exist yet, so missing parents are
// made too (with ordinary modes); otherwise no login could be saved during that whole run.
// The directory itself holds recoverable passwords, so only its owner may enter.
bool makeDirectory(const QString &path)
{
    const QString parent = QFileInfo(QDir::cleanPath(path)).path();
    if (!QDir(parent).exists() && !QDir().mkpath(parent))
        return false;
#ifdef Q_OS_UNIX
    if (::mkdir(QFile::encodeName(path).constData(), 0700) != 0)
        return false;
    // A umask can only take bits away; make sure the owner still has all three.
    QFile::setPermissions(path, kOwnerOnlyDir);
    return true;
#else
    if (!QDir().mkdir(path))
        return false;
    QFile::setPermissions(path, kOwnerOnlyDir);
    return true;
#endif
}

// Create the database file readable by its owner alone before SQLite ever opens it, so there
// is no moment in which it is readable by others; an older, looser file is tightened.
void prepareFile(const QString &fileName)
{
#ifdef Q_OS_UNIX
    const QByteArray native = QFile::encodeName(fileName);
    int fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
        ::close(fd);
        return;
    }
    if (errno != EEXIST)
        return; // SQLite will fail to open it too and report that.
#endif
    if (QFileInfo(fileName).isFile())
        QFile::setPermissions(fileName, kOwnerOnlyFile);
}

} // namespace

DataBase::DataBase(const QString &directory, QObject *parent)
    : DataBase(directory, QStringLiteral("Databases.db"), parent)
{}

DataBase::DataBase(const QString &directory, const QString &fileName, QObject *parent)
    : QObject(parent)
{
    if (QSqlDatabase::contains(QSqlDatabase::defaultConnection)) {
        m_db = QSqlDatabase::database(QSqlDatabase::defaultConnection, false);
        ensureOpen();
    } else {
        if (!QDir(directory).exists() && !makeDirectory(directory))
            return; // left without a connection: every operation answers false
        const QString path = directory + fileName;
        prepareFile(path);
        m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"));
        m_db.setDatabaseName(path);
        ensureOpen();
    }
    createTable();
}

DataBase::~DataBase()
{
    if (m_db.isOpen())
        m_db.close();
}

// Opening an open SQLite connection would close it first and drop whatever runs on it.
bool DataBase::ensureOpen()
{
    return m_db.isOpen() || m_db.open();
}

bool DataBase::createTable()
{
    if (ensureOpen()) {
        const int count = countOf(
            QStringLiteral("select count(*) from sqlite_master where type='table' and name=?"),
            {kTable});
        if (count > 0)
            return true;
    }
    QString error;
    return execSql(error, statement("CREATE TABLE %1 (id INTEGER PRIMARY KEY NOT NULL, "
                                    "name VARCHAR(40) NOT NULL, password VARCHAR(100) NOT NULL, "
                                    "url VARCHAR(255), ext VARCHAR(255), createdate DATE)"));
}

bool DataBase::execSql(QString &error, const QString &sql)
{
    return execSql(error, sql, {});
}

bool DataBase::execSql(QString &error, const QString &sql, const QVariantList &values)
{
    if (!ensureOpen())
        return false;
    QSqlQuery query(m_db);
    bool ok = query.prepare(sql);
    if (ok) {
        for (const QVariant &value : values)
            query.addBindValue(value);
        ok = query.exec();
    }
    if (!ok)
        error = query.lastError().text();
    return ok;
}

// The first column of the first row as a number, 0 when the query fails.
int DataBase::countOf(const QString &sql, const QVariantList &values)
{
    QSqlQuery query(m_db);
    query.setForwardOnly(true);
    if (!query.prepare(sql))
        return 0;
    for (const QVariant &value : values)
        query.addBindValue(value);
    if (!query.exec() || !query.next())
        return 0;
    return query.value(0).toInt();
}

bool DataBase::saveLoginInfo(const QString &name, const QString &password)
{
    int count = 0;
    if (ensureOpen())
        count = countOf(statement("select count(*) from %1 where name=?"), {name});

    QString stored;
    // Without a key yet (no keyring, or it has not answered) the old form is kept; it is sealed
    // as soon as a key is there.
    if (!m_vault || !m_vault->seal(name, password, stored))
        encodePassword(password, stored);

    QString error;
    bool saved = false;
    if (count > 0) {
        saved =
            execSql(error, statement("UPDATE %1 SET password = ? WHERE name = ? "), {stored, name});
    } else {
        const QString now =
            QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
        saved = execSql(error,
                        statement("INSERT INTO %1 (name, password, createdate) VALUES (?, ?, ?)"),
                        {name, stored, now});
    }
    // A keyring that has come up since the start is used from now on.
    if (saved && m_vault && !PasswordVault::isSealed(stored))
        m_vault->retry(keyIdsInUse());
    return saved;
}

bool DataBase::getLoginInfos(QList<QPair<QString, QString>> &list)
{
    if (!ensureOpen())
        return false;
    QSqlQuery query(m_db);
    query.setForwardOnly(true);
    if (!query.exec(statement("SELECT name, password, id FROM %1 ORDER BY id")))
        return false;
    while (query.next()) {
        const QString name = query.value(0).toString();
        const QString stored = query.value(1).toString();
        QString password;
        if (!PasswordVault::isSealed(stored)) {
            decodePassword(stored, password);
        } else if (!m_vault ||
                   m_vault->unseal(name, stored, password) != PasswordVault::Opened::Ok) {
            // Never a wrong password: the row is left out, and kept for a keyring that may
            // come back.
            const qint64 row = query.value(2).toLongLong();
            if (!passwordsReadable() || m_reportedRows.contains(row))
                continue;
            m_reportedRows.insert(row);
            qCWarning(lcSecrets).noquote()
                << QStringLiteral("Saved login %1 left out: the keyring's keys do not open it "
                                  "(sealed with key %2)")
                       .arg(row)
                       .arg(PasswordVault::keyIdOf(stored));
            continue;
        }
        list.append(qMakePair(name, password));
    }
    return !list.isEmpty();
}

bool DataBase::deleteLoginInfo(const QString &name)
{
    QString error;
    const bool deleted = execSql(error, statement("DELETE FROM %1 WHERE name = ?"), {name});
    if (deleted && m_vault)
        m_vault->dropUnused(keyIdsInUse());
    return deleted;
}

bool DataBase::clearLoginInfo()
{
    const QStringList former = m_vault ? keyIdsInUse() : QStringList();
    QString error;
    const bool cleared = execSql(error, statement("DELETE FROM %1 "));
    if (cleared && m_vault)
        m_vault->renew(former);
    return cleared;
}

void DataBase::setVault(PasswordVault *vault)
{
    if (m_vault) {
        delete vault;
        return;
    }
    if (!vault)
        return;
    m_vault = vault;
    vault->setParent(this);
    // Rewritten rows leave no old form behind in the file's free pages.
    if (ensureOpen())
        QSqlQuery(m_db).exec(QStringLiteral("PRAGMA secure_delete = ON"));
    connect(vault, &PasswordVault::settled, this, [this] {
        if (m_vault->state() == PasswordVault::State::Ready && sealStoredPasswords())
            emit passwordsSealed();
        emit passwordsBecameReadable();
    });
    vault->open(keyIdsInUse());
}

bool DataBase::passwordsReadable() const
{
    return !m_vault || !m_vault->isPending();
}

void DataBase::whenPasswordsReadable(QObject *context, std::function<void()> work)
{
    if (passwordsReadable()) {
        work();
        return;
    }
    auto connection = std::make_shared<QMetaObject::Connection>();
    *connection = connect(this, &DataBase::passwordsBecameReadable, context,
                          [this, connection, work = std::move(work)] {
                              // A key made after a clear may still be on its way.
                              if (!passwordsReadable())
                                  return;
                              disconnect(*connection);
                              work();
                          });
}

// Key ids of the sealed rows, newest row first.
QStringList DataBase::keyIdsInUse()
{
    QStringList ids;
    if (!ensureOpen())
        return ids;
    QSqlQuery query(m_db);
    query.setForwardOnly(true);
    if (!query.exec(statement("SELECT password FROM %1 ORDER BY id DESC")))
        return ids;
    while (query.next()) {
        const QString id = PasswordVault::keyIdOf(query.value(0).toString());
        if (!id.isEmpty() && !ids.contains(id))
            ids.append(id);
    }
    return ids;
}

// Rows in the old form, and rows sealed with an older key that is still readable, are sealed
// with the current key; keys no row needs any more then leave the keyring. True when every
// password is then sealed with the current key.
bool DataBase::sealStoredPasswords()
{
    if (!ensureOpen())
        return false;
    QList<QPair<qint64, QString>> updates;
    bool complete = true;
    {
        QSqlQuery query(m_db);
        query.setForwardOnly(true);
        if (!query.exec(statement("SELECT id, name, password FROM %1 ORDER BY id")))
            return false;
        while (query.next()) {
            const QString name = query.value(1).toString();
            const QString stored = query.value(2).toString();
            QString password;
            if (!PasswordVault::isSealed(stored)) {
                if (!decodePassword(stored, password))
                    continue; // nothing to protect in an empty password
            } else if (m_vault->isCurrent(stored)) {
                continue;
            } else if (m_vault->unseal(name, stored, password) != PasswordVault::Opened::Ok) {
                complete = false;
                continue;
            }
            QString sealed;
            if (m_vault->seal(name, password, sealed))
                updates.append(qMakePair(query.value(0).toLongLong(), sealed));
            else
                complete = false;
        }
    }
    if (!updates.isEmpty()) {
        m_db.transaction();
        bool ok = true;
        QString error;
        for (const auto &update : qAsConst(updates))
            ok = ok && execSql(error, statement("UPDATE %1 SET password = ? WHERE id = ?"),
                               {update.second, update.first});
        if (ok)
            ok = m_db.commit();
        if (!ok) {
            m_db.rollback();
            qCWarning(lcSecrets) << "Cannot seal the saved passwords:" << error;
            return false;
        }
        qCInfo(lcSecrets) << "Sealed" << updates.size() << "saved passwords with the keyring's key";
    }
    m_vault->dropUnused(keyIdsInUse());
    return complete;
}
