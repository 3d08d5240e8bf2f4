#include "testlogins.h"

#include "store/database.h"
#include "store/passwordcodec.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QSqlQuery>

namespace NorvaTest {

Logins logins(DataBase *store)
{
    Logins list;
    store->getLoginInfos(list);
    return list;
}

QString scrambled(const QString &password)
{
    QString text;
    encodePassword(password, text);
    return text;
}

bool writeOldLoginFile(const QString &file, const Logins &logins)
{
    bool ok = QDir().mkpath(QFileInfo(file).path());
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "old-logins");
        db.setDatabaseName(file);
        ok = ok && db.open();
        QSqlQuery query(db);
        ok = ok && query.exec("CREATE TABLE user (id INTEGER PRIMARY KEY NOT NULL, name "
                              "VARCHAR(40) NOT NULL, password VARCHAR(100) NOT NULL, url "
                              "VARCHAR(255), ext VARCHAR(255), createdate DATE)");
        for (const auto &login : logins) {
            ok = ok && query.prepare("INSERT INTO user (name, password, createdate) VALUES "
                                     "(?, ?, '2020-01-01 00:00:00')");
            query.addBindValue(login.first);
            query.addBindValue(scrambled(login.second));
            ok = ok && query.exec();
        }
    }
    QSqlDatabase::removeDatabase("old-logins");
    return ok;
}

QStringList passwordsIn(const QString &file, const Logins &logins)
{
    QFile f(file);
    const QByteArray bytes = f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    QStringList found;
    if (bytes.isEmpty())
        found << "(nothing to read in " + file + ")";
    for (const auto &login : logins)
        for (const QString &form : {login.second, scrambled(login.second)})
            if (bytes.contains(form.toUtf8()))
                found << form;
    return found;
}

QString secretTool(const QStringList &args, const QByteArray &input)
{
    QProcess tool;
    tool.start("secret-tool", args);
    tool.write(input);
    tool.closeWriteChannel();
    if (!tool.waitForFinished(20000))
        return "(secret-tool hangs)";
    return QString::fromUtf8(tool.readAllStandardOutput());
}

QString settingsPath()
{
    return QSettings(QSettings::NativeFormat, QSettings::UserScope,
                     QCoreApplication::organizationName(), QCoreApplication::applicationName())
        .fileName();
}

} // namespace NorvaTest
