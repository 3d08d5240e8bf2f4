#pragma once

#include <QIcon>
#include <QObject>
#include <QSystemTrayIcon>

class QAction;
class QMenu;
class QMenuBar;
class QWidget;

// A main window's tray icon: its menu, the unread badge and the balloons. Made only where the
// desktop has a tray. The window's own work is asked for by signals.
class TrayController : public QObject
{
    Q_OBJECT
public:
    // The menu-bar entry shows and hides menuBar, then gives window the focus.
    TrayController(QWidget *window, QMenuBar *menuBar);
    ~TrayController() override;

    QSystemTrayIcon *icon() const { return m_icon; }
    QMenu *menu() const { return m_menu; }

    // Puts the icon on the tray. Registering it with the tray host costs tens of milliseconds,
    // so the window does it once its first page has loaded, or as soon as the icon is needed.
    void showIcon();
    void showMessage(const QString &title, const QString &text, int msecs);
    // The application icon, with the count drawn on it when there is one.
    void showUnreadCount(int count);

    // Badge text for an unread count: empty below 1, the number up to 99, "..." above.
    static QString badgeLabel(int count);

public slots:
    void iconActivated(QSystemTrayIcon::ActivationReason reason);

signals:
    void settingsRequested();
    void updateLogRequested();
    void checkVersionRequested();
    void quitRequested();
    void raiseRequested();
    void messageClicked();
    void messageShown(const QString &title, const QString &text, int msecs);
    // The keyboard's way to the popups: the newest one takes the focus.
    void newestNoticeRequested();

private:
    void updateMenuBarEntry();
    // The application's icon as start-up set it, else read from the resources.
    static QIcon applicationIcon();
    // The application icon with the badge label drawn in its top-right corner.
    static QIcon badgedIcon(const QString &label);

    QWidget *m_window;
    QMenuBar *m_menuBar;
    QMenu *m_menu = nullptr;
    QAction *m_menuBarAction = nullptr;
    QSystemTrayIcon *m_icon = nullptr;
};
