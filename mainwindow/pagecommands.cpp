#include "mainwindow/pagecommands.h"

#include "store/serviceurl.h"
#include "web/webview.h"

#include <QFileDialog>
#include <QInputDialog>
#include <QPointer>
#include <QStatusBar>

PageCommands::PageCommands(std::function<WebView *()> currentView, QWidget *window,
                           QStatusBar *statusBar)
    : QObject(window), m_currentView(std::move(currentView)), m_window(window),
      m_statusBar(statusBar)
{}

void PageCommands::triggerPageAction(QWebEnginePage::WebAction action)
{
    if (WebView *view = m_currentView())
        view->triggerPageAction(action, false);
}

void PageCommands::zoomIn()
{
    if (WebView *view = m_currentView())
        view->setZoomFactor(view->zoomFactor() + 0.2);
}

void PageCommands::zoomOut()
{
    if (WebView *view = m_currentView())
        view->setZoomFactor(view->zoomFactor() - 0.2);
}

void PageCommands::resetZoom()
{
    if (WebView *view = m_currentView())
        view->setZoomFactor(1.0);
}

void PageCommands::find()
{
    if (!m_currentView())
        return;
    bool ok = false;
    const QString search = QInputDialog::getText(m_window, tr("Find"), tr("Find:"),
                                                 QLineEdit::Normal, m_lastSearch, &ok);
    // The dialog runs its own loop: the page may have closed its tab meanwhile.
    WebView *view = m_currentView();
    if (ok && !search.isEmpty() && view) {
        m_lastSearch = search;
        // The engine may answer while the window is being destroyed (the answer comes when the
        // page goes away), so the answer only touches the status bar, and only while it lives.
        QPointer<QStatusBar> bar(m_statusBar);
        view->findText(m_lastSearch, QWebEnginePage::FindFlags(), [bar, search](bool found) {
            if (bar)
                showFindResult(bar, search, found);
        });
    }
}

void PageCommands::showFindResult(QStatusBar *bar, const QString &search, bool found)
{
    // The status bar stays hidden, so this is only seen where someone shows it.
    // A hit clears what an earlier miss left there.
    if (found)
        bar->clearMessage();
    else
        bar->showMessage(tr("\"%1\" not found.").arg(search));
}

void PageCommands::openFile()
{
    const QUrl url = QFileDialog::getOpenFileUrl(
        m_window, tr("Open Web Resource"), QString(),
        tr("Web Resources (*.html *.htm *.svg *.png *.gif *.svgz);;All files (*.*)"));
    if (url.isEmpty())
        return;
    if (WebView *view = m_currentView())
        view->setUrl(url);
}

void PageCommands::viewUpdateLog()
{
    if (WebView *view = m_currentView())
        view->setUrl(QUrl(ServiceUrl::updateLogUrl()));
}
