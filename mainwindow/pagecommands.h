#pragma once

#include <QObject>
#include <QString>
#include <QWebEnginePage>

#include <functional>

class QStatusBar;
class QWidget;
class WebView;

// What the menus ask of the window's current page: its actions, zoom, find, opening a file and
// the update log. Does nothing while there is no current view.
class PageCommands : public QObject
{
    Q_OBJECT
public:
    // window parents the dialogs; statusBar shows the misses of find.
    PageCommands(std::function<WebView *()> currentView, QWidget *window, QStatusBar *statusBar);

    QString lastSearch() const { return m_lastSearch; }

    void triggerPageAction(QWebEnginePage::WebAction action);
    void zoomIn();
    void zoomOut();
    void resetZoom();
    void find();
    void openFile();
    void viewUpdateLog();

private:
    static void showFindResult(QStatusBar *bar, const QString &search, bool found);

    std::function<WebView *()> m_currentView;
    QWidget *m_window;
    QStatusBar *m_statusBar;
    QString m_lastSearch;
};
