#pragma once

#include <QList>
#include <QObject>
#include <QPair>
#include <QSet>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QVariantList>

#include <functional>

class PasswordVault;

// Saved logins in "Databases.db" or the given file (table "user"), passwords in their scrambled
// stored form, or sealed by a PasswordVault when one is given and the keyring answers.
class DataBase : public QObject
{
    Q_OBJECT
public:
    explicit DataBase(const QString &directory, QObject *parent = nullptr);
    DataBase(const QString &directory, const QString &fileName, QObject *parent = nullptr);
    ~DataBase() override;

    bool createTable();
    bool execSql(QString &error, const QString &sql);
    bool saveLoginInfo(const QString &name, const QString &password);
    bool getLoginInfos(QList<QPair<QString, QString>> &list);
    bool deleteLoginInfo(const QString &name);
    bool clearLoginInfo();

    // Passwords are sealed from now on, once the vault has its keys; rows in the old form are
    // sealed then too. The store owns the vault.
    void setVault(PasswordVault *vault);
    // False while the keyring has not answered yet: a list now would miss sealed rows.
    bool passwordsReadable() const;
    // Runs work once the passwords are readable: at once when they are, later otherwise, and
    // never when context is gone by then.
    void whenPasswordsReadable(QObject *context, std::function<void()> work);

signals:
    void passwordsBecameReadable();
    // Every saved password is now sealed with the keyring's current key: none is left in the
    // old form or under a key the keyring no longer has.
    void passwordsSealed();

private:
    QStringList keyIdsInUse();
    bool sealStoredPasswords();
    bool ensureOpen();
    bool execSql(QString &error, const QString &sql, const QVariantList &values);
    int countOf(const QString &sql, const QVariantList &values);

    QSqlDatabase m_db;
    PasswordVault *m_vault = nullptr;
    // Rows already reported as unreadable, so a list request does not repeat the line.
    QSet<qint64> m_reportedRows;
};
