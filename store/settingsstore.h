#pragma once

#include <QDateTime>
#include <QString>
#include <QVariantMap>

#include <functional>

struct AppSettings;

// Reads and writes the per-user settings store (QSettings, native format, user scope).
// The store is opened for every operation and never kept open.
class SettingsStore
{
public:
    // What load() found.
    struct LoadResult
    {
        // The store could not be read; the record keeps every default.
        bool unreadable = false;
        // Where the unreadable file was moved, so a fresh store can take its place; empty when
        // it could not be moved (writes then keep failing).
        QString keptCopy;
    };

    // Fills the record from the store. A store that cannot be read is moved aside and replaced
    // by a fresh one, so later writes are not lost; the caller tells the user.
    static LoadResult load(AppSettings &settings);
    // The same reading, changing nothing on disk: for what must be known before the record
    // exists (language, proxy, engine switches).
    static void peek(AppSettings &settings);
    // The name the unreadable file at a path is kept under, for a moment in time.
    static QString unreadableCopyName(const QString &path, const QDateTime &when);
    // Writes every entry of the map into one group, in ascending key order.
    static bool saveGroup(const QVariantMap &values, const QString &group);
    static bool saveValue(const QString &key, const QString &group, const QVariant &value);

    // Who keeps "proxyPassword" instead of the file when a group write carries it (the keyring,
    // see ProxySecret); unset, it is written to the file like any other key.
    using PasswordKeeper = std::function<void(const QString &password)>;
    static void setProxyPasswordKeeper(PasswordKeeper keeper);
    // The clear proxy password of the file; false when the file holds none.
    static bool clearProxyPassword(QString &password);
    // Whether the file notes that the keyring holds the proxy password.
    static bool isProxyPasswordInKeyring();
    // The password leaves the file, which notes instead that the keyring holds it.
    static bool keepProxyPasswordInKeyring();
    // The password stays in the file in clear, as older versions keep it.
    static bool keepProxyPasswordInFile(const QString &password);

private:
    static LoadResult read(AppSettings &settings, bool mayWrite);
};
