#pragma once

#include <QObject>
#include <QWebEnginePage>

class QAction;
class QMenu;
class QMenuBar;
class QWidget;

// The four menus of a main window (File, Edit, View, Help) and their keys. Every entry asks the
// window by a signal; the window does the work.
class WindowMenus : public QObject
{
    Q_OBJECT
public:
    // Fills menuBar; the menus belong to window.
    WindowMenus(QWidget *window, QMenuBar *menuBar);

    // The View menu's entries, which the navigation toolbar enables along with the page.
    QAction *stopAction() const { return m_stopAction; }
    QAction *reloadAction() const { return m_reloadAction; }

signals:
    void settingsRequested();
    void closeRequested();
    void pageActionRequested(QWebEnginePage::WebAction action);
    void zoomInRequested();
    void zoomOutRequested();
    void zoomResetRequested();
    void fullScreenToggleRequested();
    void hideMenuBarRequested();
    void updateLogRequested();
    void checkVersionRequested();
    void devToolsRequested();
    void newestNoticeRequested();

private:
    QMenu *createFileMenu();
    QMenu *createEditMenu();
    QMenu *createViewMenu();
    QMenu *createHelpMenu();

    QWidget *m_window;
    QAction *m_stopAction = nullptr;
    QAction *m_reloadAction = nullptr;
};
