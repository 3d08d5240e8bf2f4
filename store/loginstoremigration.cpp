#include "store/loginstoremigration.h"

#include "store/privatefiles.h"

#include <QDateTime>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariantList>

#include <atomic>

Q_LOGGING_CATEGORY(lcLoginMigration, "norva.logins")

namespace {

const char columns[] = "id, name, password, url, ext, createdate";

// A connection of its own, so the store's default one is never disturbed.
class Connection
{
public:
    explicit Connection(const QString &file)
    {
        static std::atomic<int> serial{0};
        m_name = QStringLiteral("norva-login-migration-%1").arg(++serial);
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
        db.setDatabaseName(file);
        m_open = db.open();
    }
    ~Connection()
    {
        QSqlDatabase::database(m_name, false).close();
        QSqlDatabase::removeDatabase(m_name);
    }
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    bool isOpen() const { return m_open; }
    QSqlDatabase db() const { return QSqlDatabase::database(m_name, false); }

private:
    QString m_name;
    bool m_open = false;
};

bool exec(QSqlQuery &query, const QString &sql, const QVariantList &values = {})
{
    if (!query.prepare(sql))
        return false;
    for (const QVariant &value : values)
        query.addBindValue(value);
    return query.exec();
}

// The old table: its CREATE statement (empty when there is no such table) and its rows in
// their order. False when the file cannot be read.
bool readOld(const QSqlDatabase &db, QString &schema, QList<QVariantList> &rows)
{
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!exec(query, QStringLiteral("SELECT sql FROM sqlite_master WHERE type='table' AND "
                                    "name='user'")))
        return false;
    if (!query.next())
        return true; // the engine's own index, or an empty file: no logins
    schema = query.value(0).toString();
    if (!exec(query, QStringLiteral("SELECT %1 FROM user ORDER BY id").arg(columns)))
        return false;
    const int count = query.record().count();
    while (query.next()) {
        QVariantList row;
        for (int i = 0; i < count; ++i)
            row << query.value(i);
        rows << row;
    }
    return query.lastError().type() == QSqlError::NoError;
}

// Inside the open transaction. Rows already in the new table were saved in a run whose copy
// failed: they were saved after the old ones, so they move behind them, and a name saved
// again there keeps its newer password.
bool copyRows(QSqlQuery &query, const QString &schema, const QList<QVariantList> &rows)
{
    if (!exec(query, QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type='table' AND "
                                    "name='user'")) ||
        !query.next())
        return false;
    if (query.value(0).toInt() == 0 && !exec(query, schema))
        return false;

    if (!exec(query, QStringLiteral("SELECT name, id FROM user")))
        return false;
    QSet<QString> names;
    qint64 highest = 0;
    while (query.next()) {
        names.insert(query.value(0).toString());
        highest = qMax(highest, query.value(1).toLongLong());
    }
    if (!names.isEmpty()) {
        for (const QVariantList &row : rows)
            highest = qMax(highest, row.at(0).toLongLong());
        // Every new id lands above every id there is, so no two ever meet on the way.
        if (!exec(query, QStringLiteral("UPDATE user SET id = id + ?"), {highest}))
            return false;
    }
    const QString insert =
        QStringLiteral("INSERT INTO user (%1) VALUES (?, ?, ?, ?, ?, ?)").arg(columns);
    for (const QVariantList &row : rows) {
        if (names.contains(row.at(1).toString()))
            continue;
        if (!exec(query, insert, row))
            return false;
    }
    return true;
}

} // namespace

QString LoginStoreMigration::markTable()
{
    return QStringLiteral("login_store_copy");
}

LoginStoreMigration::Result LoginStoreMigration::run(const QString &oldFile, const QString &newFile)
{
    if (!QFileInfo(oldFile).isFile())
        return NothingToCopy;
    if (!PrivateFiles::makeDirectory(QFileInfo(newFile).path()) ||
        !PrivateFiles::makeFile(newFile)) {
        qCWarning(lcLoginMigration) << "Cannot prepare the saved-login store" << newFile;
        return Failed;
    }

    // The old file is opened as any SQLite file is, so a write an older version left unfinished
    // is rolled back first; nothing is written to it.
    Connection source(oldFile);
    Connection target(newFile);
    if (!target.isOpen()) {
        qCWarning(lcLoginMigration) << "Cannot open the saved-login store" << newFile;
        return Failed;
    }
    Result result = Failed;
    {
        QSqlQuery query(target.db());
        query.setForwardOnly(true);
        // Taken before the mark is looked at, so two starts cannot both copy.
        if (!exec(query, QStringLiteral("BEGIN IMMEDIATE")))
            return Failed;
        const QString mark = QStringLiteral("CREATE TABLE IF NOT EXISTS %1 (source TEXT NOT NULL, "
                                            "rows INTEGER NOT NULL, done TEXT NOT NULL)")
                                 .arg(markTable());
        QString schema;
        QList<QVariantList> rows;
        if (!exec(query, mark) ||
            !exec(query, QStringLiteral("SELECT count(*) FROM %1").arg(markTable())) ||
            !query.next()) {
            result = Failed;
        } else if (query.value(0).toInt() > 0) {
            result = AlreadyCopied;
        } else if (!source.isOpen() || !readOld(source.db(), schema, rows)) {
            qCWarning(lcLoginMigration) << "Cannot read the saved logins of" << oldFile
                                        << "now; trying again at the next start";
            result = Failed;
        } else if ((schema.isEmpty() || copyRows(query, schema, rows)) &&
                   exec(query,
                        QStringLiteral("INSERT INTO %1 (source, rows, done) VALUES (?, ?, ?)")
                            .arg(markTable()),
                        {oldFile, rows.size(),
                         QDateTime::currentDateTime().toString(Qt::ISODate)}) &&
                   exec(query, QStringLiteral("COMMIT"))) {
            qCInfo(lcLoginMigration) << "Copied" << rows.size() << "saved logins from" << oldFile;
            return Copied;
        } else {
            qCWarning(lcLoginMigration)
                << "Cannot copy the saved logins:" << query.lastError().text();
            result = Failed;
        }
        exec(query, QStringLiteral("ROLLBACK"));
    }
    return result;
}

bool LoginStoreMigration::blankOldPasswords(const QString &oldFile, const QString &newFile)
{
    if (!QFileInfo(oldFile).isFile())
        return true;
    if (!QFileInfo(newFile).isFile())
        return false;
    {
        Connection target(newFile);
        QSqlQuery query(target.db());
        query.setForwardOnly(true);
        // Without the mark (no copy yet, or a failed one) the old rows may be the only ones.
        if (!target.isOpen() ||
            !exec(query,
                  QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type='table' "
                                 "AND name=?"),
                  {markTable()}) ||
            !query.next() || query.value(0).toInt() == 0 ||
            !exec(query,
                  QStringLiteral("SELECT count(*) FROM %1 WHERE source = ?").arg(markTable()),
                  {oldFile}) ||
            !query.next() || query.value(0).toInt() == 0)
            return false;
    }

    Connection source(oldFile);
    QSqlQuery query(source.db());
    query.setForwardOnly(true);
    if (!source.isOpen() ||
        !exec(query, QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type='table' AND "
                                    "name='user'")) ||
        !query.next()) {
        qCWarning(lcLoginMigration)
            << "Cannot read" << oldFile << "to empty its passwords; trying again at the next start";
        return false;
    }
    if (query.value(0).toInt() == 0)
        return true;
    if (!exec(query, QStringLiteral("SELECT count(*) FROM user WHERE password <> ''")) ||
        !query.next()) {
        qCWarning(lcLoginMigration)
            << "Cannot read" << oldFile << "to empty its passwords; trying again at the next start";
        return false;
    }
    if (query.value(0).toInt() == 0)
        return true; // done at an earlier start: the file is not written again
    const int count = query.value(0).toInt();
    query.finish();

    // Zeroes what the update frees, so neither form stays in the file's pages.
    if (!exec(query, QStringLiteral("PRAGMA secure_delete = ON")) ||
        !exec(query, QStringLiteral("BEGIN IMMEDIATE"))) {
        qCWarning(lcLoginMigration)
            << "Cannot empty the passwords of" << oldFile << ":" << query.lastError().text()
            << "; trying again at the next start";
        return false;
    }
    if (!exec(query, QStringLiteral("UPDATE user SET password = '' WHERE password <> ''")) ||
        !exec(query, QStringLiteral("COMMIT"))) {
        qCWarning(lcLoginMigration)
            << "Cannot empty the passwords of" << oldFile << ":" << query.lastError().text()
            << "; trying again at the next start";
        exec(query, QStringLiteral("ROLLBACK"));
        return false;
    }
    // Rows an older version deleted, without zeroing, may still lie in free space; a rebuilt
    // file has none.
    if (!exec(query, QStringLiteral("VACUUM")))
        qCWarning(lcLoginMigration)
            << "Cannot rebuild" << oldFile << ":" << query.lastError().text();
    qCInfo(lcLoginMigration) << "Emptied" << count << "passwords in" << oldFile
                             << "now that the saved logins are sealed";
    return true;
}
