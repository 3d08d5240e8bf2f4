#pragma once

#include <QObject>
#include <QPointer>
#include <QWebEngineFullScreenRequest>

class QMenuBar;
class QWebEnginePage;
class QWidget;

// Full screen of a main window, asked for by the user or by a page. The menu bar hides while
// the window is full screen.
class FullScreenController : public QObject
{
    Q_OBJECT
public:
    FullScreenController(QWidget *window, QMenuBar *menuBar);

    void enter();
    void leave();
    void toggle();
    // A page's own request; page is the window's current page, which follows the window out.
    void handleRequest(QWebEngineFullScreenRequest request, QWebEnginePage *page);

private:
    QWidget *m_window;
    QMenuBar *m_menuBar;
    // The page whose own full-screen request the window is following.
    QPointer<QWebEnginePage> m_page;
};
