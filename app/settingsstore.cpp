#include "app/settingsstore.h"

#include "app/appsettings.h"

#include <QCoreApplication>
#include <QSettings>

namespace {

QSettings *openStore()
{
    return new QSettings(QSettings::NativeFormat, QSettings::UserScope,
                         QCoreApplication::organizationName(), QCoreApplication::applicationName());
}

void readBool(const QSettings &s, const char *key, bool &field)
{
    if (s.contains(QLatin1String(key)))
        field = s.value(QLatin1String(key)).toBool();
}

void readInt(const QSettings &s, const char *key, int &field)
{
    if (s.contains(QLatin1String(key)))
        field = s.value(QLatin1String(key)).toInt();
}

void readString(const QSettings &s, const char *key, QString &field)
{
    if (s.contains(QLatin1String(key)))
        field = s.value(QLatin1String(key)).toString();
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

} // namespace

void SettingsStore::load(AppSettings &st)
{
    QScopedPointer<QSettings> store(openStore());
    if (store->status() != QSettings::NoError)
        return;
    QSettings &s = *store;

    if (enterNonEmptyGroup(s, "GeneralSettings")) {
        readBool(s, "isAutoRun", st.isAutoRun);
        readBool(s, "isSysNotice", st.isSysNotice);
        readBool(s, "isSysNoticeVoice", st.isSysNoticeVoice);
        readBool(s, "isMultiTab", st.isMultiTab);
        readBool(s, "isBowserMultiTab", st.isBowserMultiTab);
        readBool(s, "isCompatibility", st.isCompatibility);
        readBool(s, "isQuitWhenClose", st.isQuitWhenClose);
        readBool(s, "isShowMenuBar", st.isShowMenuBar);
        s.endGroup();
    }
    if (enterNonEmptyGroup(s, "NetworkProxySettings")) {
        readInt(s, "proxyMode", st.proxyMode);
        readInt(s, "proxyType", st.proxyType);
        readString(s, "proxyHost", st.proxyHost);
        readInt(s, "proxyPort", st.proxyPort);
        readString(s, "proxyUsername", st.proxyUsername);
        readString(s, "proxyPassword", st.proxyPassword);
        s.endGroup();
    }
    if (enterNonEmptyGroup(s, "DownloadSettings")) {
        readString(s, "downloadPath", st.downloadPath);
        s.endGroup();
    }
    if (enterNonEmptyGroup(s, "ShortCutSettings")) {
        readString(s, "openSoftware", st.openSoftware);
        readString(s, "quickSearch", st.quickSearch);
        readBool(s, "enableOpenSoftware", st.enableOpenSoftware);
        readBool(s, "enableQuickSearch", st.enableQuickSearch);
        s.endGroup();
    }
    if (enterNonEmptyGroup(s, "SoftwareUpdateSettings")) {
        readInt(s, "updateMode", st.updateMode);
        s.endGroup();
    }
    if (enterNonEmptyGroup(s, "FontSettings")) {
        readString(s, "font", st.font);
        readInt(s, "fontSize", st.fontSize);
        s.endGroup();
    }
    if (enterNonEmptyGroup(s, "OtherSettings")) {
        readBool(s, "allowSavePassword", st.allowSavePassword);
        if (s.contains(QStringLiteral("currentLang")))
            st.currentLang = s.value(QStringLiteral("currentLang")).toInt();
        else
            s.setValue(QStringLiteral("currentLang"), st.currentLang);
        // A stored empty text must not blank these two.
        const QString mainPage = s.value(QStringLiteral("defaultMainPage")).toString();
        if (!mainPage.isEmpty())
            st.defaultMainPage = mainPage;
        const QString cacheVersion = s.value(QStringLiteral("clearCacheVersion")).toString();
        if (!cacheVersion.isEmpty())
            st.clearCacheVersion = cacheVersion;
        s.endGroup();
    }
}

bool SettingsStore::saveGroup(const QVariantMap &values, const QString &group)
{
    QScopedPointer<QSettings> store(openStore());
    if (store->status() != QSettings::NoError)
        return false;
    store->beginGroup(group);
    for (auto it = values.constBegin(); it != values.constEnd(); ++it)
        store->setValue(it.key(), it.value());
    store->endGroup();
    store->sync();
    return store->status() == QSettings::NoError;
}

bool SettingsStore::saveValue(const QString &key, const QString &group, const QVariant &value)
{
    QScopedPointer<QSettings> store(openStore());
    if (store->status() != QSettings::NoError)
        return false;
    store->beginGroup(group);
    store->setValue(key, value);
    store->endGroup();
    store->sync();
    return store->status() == QSettings::NoError;
}
