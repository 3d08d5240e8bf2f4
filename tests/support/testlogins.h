#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

class DataBase;

namespace NorvaTest {

using Logins = QList<QPair<QString, QString>>;

// The saved logins a store hands out, in order.
Logins logins(DataBase *store);
// A password in the stored form of older versions.
QString scrambled(const QString &password);
// A login file as older versions left it, with these logins in their old stored form.
bool writeOldLoginFile(const QString &file, const Logins &logins);
// The password forms of these logins, clear or scrambled, that a file's bytes give away.
QStringList passwordsIn(const QString &file, const Logins &logins);
// secret-tool's output: the keyring as any other program sees it, not through the code under test.
QString secretTool(const QStringList &args, const QByteArray &input = QByteArray());
// The settings file of this test process.
QString settingsPath();

} // namespace NorvaTest
