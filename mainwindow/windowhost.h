#pragma once

#include <QVariant>
#include <QVector>

class DataBase;
class MainWindow;
class NotifyManager;
class QString;
class Updater;

// What a main window asks of the application that made it: the shared stores, the other
// windows and the program-wide settings. The application object provides it; a window never
// knows that object itself.
class WindowHost
{
public:
    virtual ~WindowHost() = default;

    virtual DataBase *dataBase() const = 0;
    virtual NotifyManager *notifyManager() const = 0;
    // The client's one update flow: every window's, menu's and tray's check goes there.
    virtual Updater *updater() const = 0;
    // The unread count shows on the first main window's tray icon, whichever window counted.
    virtual void setApplicationIconBadgeNumber(int number) = 0;

    virtual bool saveSettingsValue(const QString &key, const QString &group,
                                   const QVariant &value) = 0;
    virtual bool saveSettingsGroup(const QVariantMap &values, const QString &group) = 0;

    // mode is a MainWindow::DisplayMode.
    virtual MainWindow *createWindow(int mode, bool show) = 0;
    virtual MainWindow *createDevToolsWindow() = 0;
    virtual QVector<MainWindow *> windows() const = 0;
};
