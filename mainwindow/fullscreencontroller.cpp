#include "mainwindow/fullscreencontroller.h"

#include <QMenuBar>
#include <QWebEnginePage>

FullScreenController::FullScreenController(QWidget *window, QMenuBar *menuBar)
    : QObject(window), m_window(window), m_menuBar(menuBar)
{}

void FullScreenController::enter()
{
    m_menuBar->hide();
    m_window->showFullScreen();
    m_window->setFocus(Qt::OtherFocusReason);
}

void FullScreenController::leave()
{
    // A page that asked for full screen leaves it too, or it would ignore its later requests.
    if (QWebEnginePage *page = m_page.data()) {
        m_page.clear();
        page->triggerAction(QWebEnginePage::ExitFullScreen);
    }
    m_menuBar->show();
    m_window->showNormal();
}

void FullScreenController::toggle()
{
    if (m_window->isFullScreen())
        leave();
    else
        enter();
}

void FullScreenController::handleRequest(QWebEngineFullScreenRequest request, QWebEnginePage *page)
{
    if (request.toggleOn() && !m_window->isFullScreen()) {
        request.accept();
        enter();
        m_page = page;
    } else if (!request.toggleOn()) {
        // The page's own exit is always granted; the window follows when it is full screen.
        m_page.clear();
        request.accept();
        if (m_window->isFullScreen())
            leave();
    }
}
