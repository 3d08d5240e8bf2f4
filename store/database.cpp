#include "store/database.h"

#include "store/passwordcodec.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

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
    encodePassword(password, stored);

    QString error;
    if (count > 0)
        return execSql(error, statement("UPDATE %1 SET password = ? WHERE name = ? "),
                       {stored, name});
    const QString now =
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    return execSql(error, statement("INSERT INTO %1 (name, password, createdate) VALUES (?, ?, ?)"),
                   {name, stored, now});
}

bool DataBase::getLoginInfos(QList<QPair<QString, QString>> &list)
{
    if (!ensureOpen())
        return false;
    QSqlQuery query(m_db);
    query.setForwardOnly(true);
    if (!query.exec(statement("SELECT name, password FROM %1 ORDER BY id")))
        return false;
    while (query.next()) {
        QString password;
        decodePassword(query.value(1).toString(), password);
        list.append(qMakePair(query.value(0).toString(), password));
    }
    return !list.isEmpty();
}

bool DataBase::deleteLoginInfo(const QString &name)
{
    QString error;
    return execSql(error, statement("DELETE FROM %1 WHERE name = ?"), {name});
}

bool DataBase::clearLoginInfo()
{
    QString error;
    return execSql(error, statement("DELETE FROM %1 "));
}
