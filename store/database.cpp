#include "store/database.h"

// Placeholder until the real store lands.
DataBase::DataBase(const QString &directory, QObject *parent) : QObject(parent)
{
    Q_UNUSED(directory);
}

DataBase::~DataBase() = default;

bool DataBase::createTable()
{
    return false;
}

bool DataBase::execSql(QString &, const QString &)
{
    return false;
}

bool DataBase::saveLoginInfo(const QString &, const QString &)
{
    return false;
}

bool DataBase::getLoginInfos(QList<QPair<QString, QString>> &list)
{
    return !list.isEmpty();
}

bool DataBase::deleteLoginInfo(const QString &)
{
    return false;
}

bool DataBase::clearLoginInfo()
{
    return false;
}
