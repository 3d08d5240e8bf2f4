#include "web/webview.h"

#include "web/webpage.h"

#include <QAction>

WebView::WebView(QWidget *parent) : QWebEngineView(parent)
{
    connect(this, &QWebEngineView::loadStarted, this, [this] {
        m_progress = 0;
        emit favIconChanged(favIcon());
    });
    connect(this, &QWebEngineView::loadProgress, this,
            [this](int progress) { m_progress = progress; });
    connect(this, &QWebEngineView::loadFinished, this, [this](bool ok) {
        m_progress = ok ? 100 : -1;
        emit favIconChanged(favIcon());
    });
    connect(this, &QWebEngineView::iconChanged, this, [this] { emit favIconChanged(favIcon()); });
}

void WebView::setPage(WebPage *page)
{
    QWebEngineView::setPage(page);
}

bool WebView::isWebActionEnabled(QWebEnginePage::WebAction webAction) const
{
    return page()->action(webAction)->isEnabled();
}

QIcon WebView::favIcon() const
{
    QIcon pageIcon = icon();
    if (!pageIcon.isNull())
        return pageIcon;
    static const QIcon errorIcon(QStringLiteral(":error.png"));
    static const QIcon loadingIcon(QStringLiteral(":refresh.png"));
    if (m_progress < 0)
        return errorIcon;
    if (m_progress < 100)
        return loadingIcon;
    return errorIcon;
}

QWebEngineView *WebView::createWindow(QWebEnginePage::WebWindowType type)
{
    Q_UNUSED(type);
    return nullptr;
}
