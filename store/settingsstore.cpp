#include "store/settingsstore.h"

#include "store/appsettings.h"
#include "store/privatefiles.h"
#include "store/serviceurl.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QSettings>

#include <variant>
#include <vector>

Q_LOGGING_CATEGORY(lcSettingsStore, "norva.settings")

namespace {

QSettings *openStore()
{
    return new QSettings(QSettings::NativeFormat, QSettings::UserScope,
                         QCoreApplication::organizationName(), QCoreApplication::applicationName());
}

// The store holds the proxy password, so its folder and file are the user's alone. QSettings
// writes a new file and renames it over the old one, so the file's mode is set again after
// every write; the folder keeps others out in between. (On Windows the store is the registry.)
void makeFolderPrivate(const QSettings &s)
{
#ifdef Q_OS_UNIX
    // Without an organization the file sits straight in the user's configuration folder,
    // which is not ours to close.
    if (!QCoreApplication::organizationName().isEmpty())
        PrivateFiles::makeDirectory(QFileInfo(s.fileName()).path());
#else
    Q_UNUSED(s)
#endif
}

void syncPrivately(QSettings &s)
{
    s.sync();
#ifdef Q_OS_UNIX
    PrivateFiles::restrictFile(s.fileName());
#endif
}

using Field = std::variant<bool AppSettings::*, int AppSettings::*, QString AppSettings::*>;

struct Key
{
    const char *name;
    Field field;
};

struct Group
{
    const char *name;
    std::vector<Key> keys;
};

// Groups and keys in reading order. "OtherSettings" keeps its own rules below.
const std::vector<Group> &plainGroups()
{
    static const std::vector<Group> groups = {
        {"GeneralSettings",
         {{"isAutoRun", &AppSettings::isAutoRun},
          {"isSysNotice", &AppSettings::isSysNotice},
          {"isSysNoticeVoice", &AppSettings::isSysNoticeVoice},
          {"isMultiTab", &AppSettings::isMultiTab},
          {"isBowserMultiTab", &AppSettings::isBowserMultiTab},
          {"isCompatibility", &AppSettings::isCompatibility},
          {"isQuitWhenClose", &AppSettings::isQuitWhenClose},
          {"isShowMenuBar", &AppSettings::isShowMenuBar}}},
        {"NetworkProxySettings",
         {{"proxyMode", &AppSettings::proxyMode},
          {"proxyType", &AppSettings::proxyType},
          {"proxyHost", &AppSettings::proxyHost},
          {"proxyPort", &AppSettings::proxyPort},
          {"proxyUsername", &AppSettings::proxyUsername},
          {"proxyPassword", &AppSettings::proxyPassword}}},
        {"DownloadSettings", {{"downloadPath", &AppSettings::downloadPath}}},
        {"ShortCutSettings",
         {{"openSoftware", &AppSettings::openSoftware},
          {"quickSearch", &AppSettings::quickSearch},
          {"enableOpenSoftware", &AppSettings::enableOpenSoftware},
          {"enableQuickSearch", &AppSettings::enableQuickSearch}}},
        {"SoftwareUpdateSettings", {{"updateMode", &AppSettings::updateMode}}},
        {"FontSettings", {{"font", &AppSettings::font}, {"fontSize", &AppSettings::fontSize}}},
    };
    return groups;
}

// A present key replaces the field, converted to the field's type; an absent one leaves it.
void readKey(const QSettings &s, const Key &key, AppSettings &settings)
{
    const QString name = QLatin1String(key.name);
    if (!s.contains(name))
        return;
    const QVariant value = s.value(name);
    if (auto field = std::get_if<bool AppSettings::*>(&key.field))
        settings.*(*field) = value.toBool();
    else if (auto field = std::get_if<int AppSettings::*>(&key.field))
        settings.*(*field) = value.toInt();
    else if (auto field = std::get_if<QString AppSettings::*>(&key.field))
        settings.*(*field) = value.toString();
}

// Enters the group; answers false (and leaves it again) when it holds no keys at all.
bool enterNonEmptyGroup(QSettings &s, const char *group)
{
    s.beginGroup(QLatin1String(group));
    if (s.childKeys().isEmpty()) {
        s.endGroup();
        return false;
    }
    return true;
}

// Moves an unreadable settings file out of the way; answers where it went, empty on failure.
QString keepAside(const QString &path)
{
    if (!QFileInfo(path).isFile())
        return QString();
    const QString base = SettingsStore::unreadableCopyName(path, QDateTime::currentDateTime());
    QString target = base;
    for (int n = 2; QFileInfo::exists(target); ++n)
        target = base + QLatin1Char('-') + QString::number(n);
    if (!QFile::rename(path, target)) {
        qCWarning(lcSettingsStore) << "Cannot move the unreadable settings file" << path;
        return QString();
    }
    PrivateFiles::restrictFile(target);
    qCWarning(lcSettingsStore) << "Unreadable settings file kept as" << target;
    return target;
}

const char kProxyGroup[] = "NetworkProxySettings";
const char kProxyPassword[] = "proxyPassword";
const char kProxyPasswordInKeyring[] = "isProxyPasswordInKeyring";

SettingsStore::PasswordKeeper &proxyPasswordKeeper()
{
    static SettingsStore::PasswordKeeper keeper;
    return keeper;
}

// Sets or (for an invalid value) removes keys of the proxy group.
bool writeProxyKeys(const QVariant &password, const QVariant &inKeyring)
{
    QScopedPointer<QSettings> store(openStore());
    if (store->status() != QSettings::NoError)
        return false;
    store->beginGroup(QLatin1String(kProxyGroup));
    for (const auto &[key, value] : {std::pair<const char *, QVariant>{kProxyPassword, password},
                                     {kProxyPasswordInKeyring, inKeyring}}) {
        if (value.isValid())
            store->setValue(QLatin1String(key), value);
        else
            store->remove(QLatin1String(key));
    }
    store->endGroup();
    store->sync();
    return store->status() == QSettings::NoError;
}

} // namespace

void SettingsStore::setProxyPasswordKeeper(PasswordKeeper keeper)
{
    proxyPasswordKeeper() = std::move(keeper);
}

bool SettingsStore::clearProxyPassword(QString &password)
{
    QScopedPointer<QSettings> store(openStore());
    store->beginGroup(QLatin1String(kProxyGroup));
    const bool present = store->contains(QLatin1String(kProxyPassword));
    password = store->value(QLatin1String(kProxyPassword)).toString();
    return present;
}

bool SettingsStore::isProxyPasswordInKeyring()
{
    QScopedPointer<QSettings> store(openStore());
    store->beginGroup(QLatin1String(kProxyGroup));
    return store->value(QLatin1String(kProxyPasswordInKeyring)).toBool();
}

bool SettingsStore::keepProxyPasswordInKeyring()
{
    return writeProxyKeys(QVariant(), true);
}

bool SettingsStore::keepProxyPasswordInFile(const QString &password)
{
    return writeProxyKeys(password, QVariant());
}

QString SettingsStore::unreadableCopyName(const QString &path, const QDateTime &when)
{
    return path + QStringLiteral(".unreadable-") + when.toString(QStringLiteral("yyyyMMdd-HHmmss"));
}

SettingsStore::LoadResult SettingsStore::load(AppSettings &st)
{
    return read(st, true);
}

void SettingsStore::peek(AppSettings &settings)
{
    read(settings, false);
}

SettingsStore::LoadResult SettingsStore::read(AppSettings &st, bool mayWrite)
{
    LoadResult result;
    QScopedPointer<QSettings> store(openStore());
    if (store->status() != QSettings::NoError) {
        result.unreadable = true;
        if (!mayWrite)
            return result;
        // Left in place, the file would make every later write fail without a word.
        const QString path = store->fileName();
        store.reset();
        result.keptCopy = keepAside(path);
        return result;
    }
    QSettings &s = *store;
    if (mayWrite)
        makeFolderPrivate(s);

    for (const Group &group : plainGroups()) {
        if (!enterNonEmptyGroup(s, group.name))
            continue;
        for (const Key &key : group.keys)
            readKey(s, key, st);
        s.endGroup();
    }
    if (enterNonEmptyGroup(s, "OtherSettings")) {
        readKey(s, {"allowSavePassword", &AppSettings::allowSavePassword}, st);
        if (s.contains(QStringLiteral("currentLang")))
            st.currentLang = s.value(QStringLiteral("currentLang")).toInt();
        else if (mayWrite)
            s.setValue(QStringLiteral("currentLang"), st.currentLang);
        // A stored empty text must not blank these two; a main page outside the service (an
        // older version stored whatever the version file said) is not taken either.
        const QString mainPage = s.value(QStringLiteral("defaultMainPage")).toString();
        if (ServiceUrl::isMainPageOf(mainPage, ServiceUrl::base()))
            st.defaultMainPage = mainPage;
        else if (!mainPage.isEmpty())
            qCWarning(lcSettingsStore)
                << "Ignoring a stored main page outside the service:" << mainPage;
        const QString cacheVersion = s.value(QStringLiteral("clearCacheVersion")).toString();
        if (!cacheVersion.isEmpty())
            st.clearCacheVersion = cacheVersion;
        s.endGroup();
    }
    if (mayWrite)
        syncPrivately(s); // also tightens a file that an older version left readable
    return result;
}

bool SettingsStore::saveGroup(const QVariantMap &groupValues, const QString &group)
{
    QVariantMap values = groupValues;
    if (proxyPasswordKeeper() && group == QLatin1String(kProxyGroup) &&
        values.contains(QLatin1String(kProxyPassword)))
        proxyPasswordKeeper()(values.take(QLatin1String(kProxyPassword)).toString());
    QScopedPointer<QSettings> store(openStore());
    if (store->status() != QSettings::NoError)
        return false;
    makeFolderPrivate(*store);
    store->beginGroup(group);
    for (auto it = values.constBegin(); it != values.constEnd(); ++it)
        store->setValue(it.key(), it.value());
    store->endGroup();
    syncPrivately(*store);
    return store->status() == QSettings::NoError;
}

bool SettingsStore::saveValue(const QString &key, const QString &group, const QVariant &value)
{
    return saveGroup({{key, value}}, group);
}
