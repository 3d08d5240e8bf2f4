#include "web/tabwidget.h"

#include "web/webpage.h"
#include "web/webview.h"

#include <QTabBar>

TabWidget::TabWidget(QWebEngineProfile *profile, QWidget *parent)
    : QTabWidget(parent), m_profile(profile)
{
    tabBar()->setTabsClosable(true);
    setDocumentMode(true);
}

WebView *TabWidget::currentWebView() const
{
    return webView(currentIndex());
}

WebView *TabWidget::webView(int index) const
{
    return qobject_cast<WebView *>(widget(index));
}

void TabWidget::setStartUrl(const QUrl &url)
{
    m_startUrl = url;
    setUrl(url);
}

void TabWidget::openStartTab()
{
    createTab()->setUrl(m_startUrl);
}

void TabWidget::setUrl(const QUrl &url)
{
    if (WebView *view = currentWebView())
        view->setUrl(url);
}

WebView *TabWidget::createTab()
{
    auto *view = new WebView;
    auto *page = new WebPage(m_profile, view);
    view->setPage(page);
    connect(view, &QWebEngineView::titleChanged, this, [this, view](const QString &title) {
        const int index = indexOf(view);
        if (index != -1)
            setTabText(index, title);
        if (index == currentIndex())
            emit titleChanged(title);
    });
    addTab(view, tr("青隼"));
    setCurrentWidget(view);
    return view;
}
