#pragma once

#include <QList>
#include <QObject>
#include <QPair>
#include <QSqlDatabase>
#include <QString>
#include <QVariantList>

// Saved logins in "Databases.db" or the given file (table "user"), passwords in their scrambled
// stored form.
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

private:
    bool ensureOpen();
    bool execSql(QString &error, const QString &sql, const QVariantList &values);
    int countOf(const QString &sql, const QVariantList &values);

    QSqlDatabase m_db;
};
