#pragma once

#include <QList>
#include <QObject>
#include <QPair>
#include <QSqlDatabase>
#include <QString>

// Saved logins in "Databases.db" (table "user"), passwords in their scrambled stored form.
class DataBase : public QObject
{
    Q_OBJECT
public:
    explicit DataBase(const QString &directory, QObject *parent = nullptr);
    ~DataBase() override;

    bool createTable();
    bool execSql(QString &error, const QString &sql);
    bool saveLoginInfo(const QString &name, const QString &password);
    bool getLoginInfos(QList<QPair<QString, QString>> &list);
    bool deleteLoginInfo(const QString &name);
    bool clearLoginInfo();

private:
    QSqlDatabase m_db;
};
