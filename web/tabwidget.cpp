#include "web/tabwidget.h"

#include "web/webpage.h"
#include "web/webview.h"

#include <QCursor>
#include <QMenu>
#include <QTabBar>

#include <memory>

TabWidget::TabWidget(QWebEngineProfile *profile, QWidget *parent)
    : QTabWidget(parent), m_profile(profile)
{
    QTabBar *bar = tabBar();
    bar->setTabsClosable(true);
    bar->setSelectionBehaviorOnRemove(QTabBar::SelectPreviousTab);
    bar->setMovable(true);
    bar->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(bar, &QWidget::customContextMenuRequested, this,
            &TabWidget::handleContextMenuRequested);
    connect(bar, &QTabBar::tabBarDoubleClicked, this, [this](int index) {
        // Only the empty part of the bar opens a tab.
        if (index == -1)
            openStartTab();
    });

    setDocumentMode(true);
    setElideMode(Qt::ElideRight);
    setStyleSheet(QStringLiteral("QTabBar::tab{width:150}"));

    connect(this, &QTabWidget::currentChanged, this, &TabWidget::handleCurrentChanged);
}

TabWidget::~TabWidget()
{
    // The base destructor removes the tabs one by one and reports each change of the current
    // tab; this object (and the window listening to it) is already half gone by then.
    disconnect(this, &QTabWidget::currentChanged, this, &TabWidget::handleCurrentChanged);
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

void TabWidget::triggerPageAction(QWebEnginePage::WebAction action)
{
    if (WebView *view = currentWebView()) {
        view->triggerPageAction(action);
        view->setFocus(Qt::OtherFocusReason);
    }
}

WebView *TabWidget::createTab()
{
    return newTab(true);
}

WebView *TabWidget::createBackgroundTab()
{
    return newTab(false);
}

WebView *TabWidget::newTab(bool makeCurrent)
{
    auto *view = new WebView;
    auto *page = new WebPage(m_profile, view);
    view->setPage(page);
    wireView(view);

    const int index = addTab(view, tr("青隼"));
    setTabIcon(index, view->favIcon());
    // Lay out a tab that is not shown yet at the real size, so its page renders for it.
    if (QWidget *current = currentWidget())
        view->resize(current->size());
    view->show();
    if (makeCurrent)
        setCurrentWidget(view);
    return view;
}

void TabWidget::wireView(WebView *view)
{
    // Each handler looks the tab up anew: tabs can be moved.
    connect(view, &QWebEngineView::titleChanged, this, [this, view](const QString &title) {
        const int index = indexOf(view);
        if (index == -1)
            return;
        setTabText(index, title);
        setTabToolTip(index, title);
        if (currentWidget() == view)
            emit titleChanged(title);
    });
    connect(view, &QWebEngineView::urlChanged, this, [this, view](const QUrl &url) {
        const int index = indexOf(view);
        if (index == -1)
            return;
        tabBar()->setTabData(index, url);
        if (currentWidget() == view)
            emit urlChanged(url);
    });
    connect(view, &QWebEngineView::loadProgress, this, [this, view](int progress) {
        if (currentWidget() == view)
            emit loadProgress(progress);
    });
    connect(view->page(), &QWebEnginePage::linkHovered, this, [this, view](const QString &url) {
        if (currentWidget() == view)
            emit linkHovered(url);
    });
    connect(view, &WebView::favIconChanged, this, [this, view](const QIcon &icon) {
        const int index = indexOf(view);
        if (index == -1)
            return;
        setTabIcon(index, icon);
        if (currentWidget() == view)
            emit favIconChanged(icon);
    });
    connect(view, &WebView::webActionEnabledChanged, this,
            [this, view](QWebEnginePage::WebAction action, bool enabled) {
                if (currentWidget() == view)
                    emit webActionEnabledChanged(action, enabled);
            });
    connect(view->page(), &QWebEnginePage::windowCloseRequested, this, [this, view] {
        const int index = indexOf(view);
        if (index != -1)
            closeTab(index);
    });
    connect(view, &WebView::devToolsRequested, this, &TabWidget::devToolsRequested);
}

void TabWidget::handleCurrentChanged(int index)
{
    const QWebEnginePage::WebAction actions[] = {QWebEnginePage::Back, QWebEnginePage::Forward,
                                                 QWebEnginePage::Stop, QWebEnginePage::Reload};
    WebView *view = webView(index);
    if (!view) {
        emit titleChanged(QString());
        emit urlChanged(QUrl());
        emit favIconChanged(QIcon());
        for (QWebEnginePage::WebAction action : actions)
            emit webActionEnabledChanged(action, action == QWebEnginePage::Reload);
        return;
    }
    emit titleChanged(view->title());
    emit urlChanged(view->url());
    emit favIconChanged(view->favIcon());
    for (QWebEnginePage::WebAction action : actions)
        emit webActionEnabledChanged(action, view->isWebActionEnabled(action));
}

void TabWidget::closeTab(int index)
{
    if (count() <= 1)
        return;
    WebView *view = webView(index);
    if (!view)
        return;
    const bool hadFocus = view->hasFocus();
    removeTab(index);
    if (hadFocus && count() > 0) {
        if (WebView *current = currentWebView())
            current->setFocus(Qt::OtherFocusReason);
    }
    view->deleteLater();
}

void TabWidget::closeOtherTabs(int index)
{
    for (int i = count() - 1; i > index; --i)
        closeTab(i);
    for (int i = index - 1; i >= 0; --i)
        closeTab(i);
}

void TabWidget::cloneTab(int index)
{
    if (WebView *view = webView(index)) {
        const QUrl url = view->url();
        createTab()->setUrl(url);
    }
}

void TabWidget::reloadTab(int index)
{
    if (WebView *view = webView(index))
        view->reload();
}

void TabWidget::reloadAllTabs()
{
    for (int i = 0; i < count(); ++i)
        reloadTab(i);
}

void TabWidget::nextTab()
{
    int next = currentIndex() + 1;
    if (next >= count())
        next = 0;
    setCurrentIndex(next);
}

void TabWidget::previousTab()
{
    int previous = currentIndex() - 1;
    if (previous < 0)
        previous = count() - 1;
    setCurrentIndex(previous);
}

QMenu *TabWidget::createContextMenu(const QPoint &pos)
{
    auto *menu = new QMenu;
    QAction *newTabAction = menu->addAction(tr("新标签"), this, &TabWidget::openStartTab);
    newTabAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_T));

    const int index = tabBar()->tabAt(pos);
    if (index == -1) {
        menu->addSeparator();
    } else {
        menu->addAction(tr("复制标签"), this, [this, index] { cloneTab(index); });
        menu->addSeparator();
        // Through the window, which asks before the last tab goes.
        QAction *close =
            menu->addAction(tr("关闭标签"), this, [this, index] { emit tabCloseRequested(index); });
        close->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_W));
        menu->addAction(tr("关闭其他标签"), this, [this, index] { closeOtherTabs(index); });
        menu->addSeparator();
        QAction *reload =
            menu->addAction(tr("刷新标签"), this, [this, index] { reloadTab(index); });
        reload->setShortcut(QKeySequence::Refresh);
    }
    QAction *reloadAll = menu->addAction(tr("重新加载所有标签"), this, &TabWidget::reloadAllTabs);
    reloadAll->setShortcut(QKeySequence());
    return menu;
}

void TabWidget::handleContextMenuRequested(const QPoint &pos)
{
    std::unique_ptr<QMenu> menu(createContextMenu(pos));
    menu->exec(QCursor::pos());
}
