#pragma once

#include <QString>
#include <QVariantMap>

struct AppSettings;

// Reads and writes the per-user settings store (QSettings, native format, user scope).
// The store is opened for every operation and never kept open.
class SettingsStore
{
public:
    // Fills the record from the store; a store in error state leaves every default.
    static void load(AppSettings &settings);
    // Writes every entry of the map into one group, in ascending key order.
    static bool saveGroup(const QVariantMap &values, const QString &group);
    static bool saveValue(const QString &key, const QString &group, const QVariant &value);
};
