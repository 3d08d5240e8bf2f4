#pragma once

#include <QString>

// The process-wide user preferences. Field names double as keys in the settings store.
struct AppSettings
{
    AppSettings();

    QString version;
    bool isAutoRun = false;
    bool isSysNotice = true;
    bool isSysNoticeVoice = true;
    bool isMultiTab = false;
    bool isBowserMultiTab = false;
    bool isCompatibility = false;
    bool isQuitWhenClose = true;
    bool isShowMenuBar = true;
    bool allowSavePassword = true;
    int updateMode = 2;
    int proxyMode = 0;
    int proxyType = 0;
    int proxyPort = 80;
    QString proxyHost;
    QString proxyUsername;
    QString proxyPassword;
    QString downloadPath;
    QString openSoftware;
    QString quickSearch;
    bool enableOpenSoftware = false;
    bool enableQuickSearch = false;
    QString font;
    int fontSize = 9;
    QString defaultMainPage;
    int currentLang = 0;
    QString clearCacheVersion;
};

// Set by Browser for its lifetime; every reader goes through it.
extern AppSettings *appSettings;

// Display mode of the first window: browser mode wins over multi-tab mode.
int startupDisplayMode(const AppSettings &settings);
