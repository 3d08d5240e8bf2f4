#pragma once

#include <QObject>
#include <QPointer>
#include <QVariantMap>
#include <QVector>

#include <functional>

#include "mainwindow/windowhost.h"
#include "platform/qhotkey.h"
#include "store/settingsstore.h"

class DataBase;
class DownloadManagerWidget;
class MainWindow;
class NotifyManager;
class Updater;
class ProxySecret;
class WebMessageHandler;

class QJsonObject;
class QMessageBox;
class QWidget;
class QTimerEvent;
struct NoticeAnswer;
struct NoticeItem;

// The application object: owns the settings record, the saved-login store and the one update
// flow, keeps the list of main windows and runs the periodic version check.
class Browser : public QObject, public WindowHost
{
    Q_OBJECT
public:
    Browser();
    ~Browser() override;

    MainWindow *createWindow(int mode, bool show) override;
    MainWindow *createDevToolsWindow() override;
    QVector<MainWindow *> windows() const override { return m_windows; }

    void setupDownloadManager();
    // Runs work once, when the window's first page load has finished or after fallbackMs at the
    // latest: start-up work nobody waits for goes there so it does not delay the first page.
    static void afterFirstLoad(MainWindow *window, std::function<void()> work,
                               int fallbackMs = 15000);
    // (Re)registers the open-software hotkey from the settings. It always brings up the first
    // main window, whichever window changed the settings; a combination that cannot be
    // registered gives that window's hotkey balloon.
    void registerOpenSoftwareHotkey();
    // The window the hotkey brings up: the program's first main window.
    MainWindow *firstMainWindow() const;
    QHotkey *openSoftwareHotkey() const { return m_hotkey; }
    DownloadManagerWidget *downloadManagerWidget() const { return m_downloadManagerWidget; }

    // Opened on first use: no page needs it before the user reaches the login form.
    DataBase *dataBase() const override;
    NotifyManager *notifyManager() const override { return m_notifyManager; }

    bool isForceNotice(int &targetType, int busicType, const QString &type) const;
    void addNotice(const NoticeItem &item);
    // The forced-notice rules hold for every window; answers go back to each notice's own page.
    void setForceNotice(const QJsonObject &config);
    // Hands a popup's answer to the page that sent the notice, or, when that page is gone or no
    // longer the service's, to the first main window's service page. False when neither took it.
    bool deliverNoticeAnswer(const NoticeAnswer &answer);
    void setApplicationIconBadgeNumber(int number) override;
    // The balloon time of every window, as the version file sets it.
    void setNoticeStayTime(int seconds);

    Updater *updater() const override { return m_updater; }
    void setCheckUpdateInterval(int seconds);
    int checkUpdateInterval() const { return m_checkUpdateInterval; }
    int checkTimerId() const { return m_checkTimerId; }

    void loadSettings();
    // What loading the stored settings found at start.
    const SettingsStore::LoadResult &settingsLoadResult() const { return m_settingsLoad; }
    // Tells the user, once, that the stored settings could not be read and were reset; the box
    // is window-modal and deletes itself. Null when there is nothing (more) to tell.
    QMessageBox *reportUnreadableSettings(QWidget *parent);
    // Writes one group; a new open-software combination is registered at once.
    bool saveSettingsGroup(const QVariantMap &values, const QString &group) override;
    bool saveSettingsValue(const QString &key, const QString &group,
                           const QVariant &value) override;

    // Directory where older versions kept the saved-login database, inside the profile's
    // storage path; its file is copied over once (LoginStoreMigration).
    static QString loginStoreDirectory(const QString &storagePath);
    // The saved-login database: in the application's data folder, outside every folder the web
    // engine writes (its WebSQL replaces the profile's databases/ folder).
    static QString loginStoreFile();

signals:
    void checkTimerFired();

protected:
    void timerEvent(QTimerEvent *event) override;

private:
    MainWindow *windowOf(const WebMessageHandler *messages) const;
    // The first main window's quit path, from whichever window the update was started.
    void quitForInstaller();
    void showUpdateStatus(const QString &status);

    QVector<MainWindow *> m_windows;
    DownloadManagerWidget *m_downloadManagerWidget = nullptr;
    mutable DataBase *m_dataBase = nullptr;
    NotifyManager *m_notifyManager = nullptr;
    Updater *m_updater = nullptr;
    int m_noticeStayTime = 3;
    ProxySecret *m_proxySecret = nullptr;
    QPointer<QHotkey> m_hotkey;
    SettingsStore::LoadResult m_settingsLoad;
    bool m_settingsProblemReported = false;
    int m_checkTimerId = 0;
    int m_checkUpdateInterval = 0;
};
