#include "web/webview.h"

#include "store/appsettings.h"
#include "web/webpage.h"
#include "web/webviewhost.h"

#include <QAbstractButton>
#include <QAction>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QLoggingCategory>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QWebEngineHistory>

Q_LOGGING_CATEGORY(lcWebView, "norva.webview")

namespace {
// Built on first use and kept for the life of the process (never destroyed after the
// application object is gone).
const QIcon &errorIcon()
{
    static const QIcon *icon = new QIcon(QStringLiteral(":error.png"));
    return *icon;
}

const QIcon &loadingIcon()
{
    static const QIcon *icon = new QIcon(QStringLiteral(":refresh.png"));
    return *icon;
}

const QIcon &defaultIcon()
{
    static const QIcon *icon = new QIcon(QStringLiteral(":error.png"));
    return *icon;
}
} // namespace

WebView::WebView(QWidget *parent) : QWebEngineView(parent)
{
    connect(this, &QWebEngineView::loadStarted, this, &WebView::handleLoadStarted);
    connect(this, &QWebEngineView::loadProgress, this, &WebView::handleLoadProgress);
    connect(this, &QWebEngineView::loadFinished, this, &WebView::handleLoadFinished);
    connect(this, &QWebEngineView::iconChanged, this, &WebView::handleIconChanged);
    connect(this, &QWebEngineView::urlChanged, this, &WebView::handleUrlChanged);
    connect(this, &QWebEngineView::renderProcessTerminated, this,
            &WebView::handleRenderProcessTerminated);
    m_autoReload.setSingleShot(true);
    m_autoReload.setInterval(autoReloadDelayMs);
    connect(&m_autoReload, &QTimer::timeout, this, [this] { reload(); });
}

void WebView::setPage(WebPage *page)
{
    const QWebEnginePage::WebAction relayed[] = {QWebEnginePage::Forward, QWebEnginePage::Back,
                                                 QWebEnginePage::Reload, QWebEnginePage::Stop};
    for (QWebEnginePage::WebAction webAction : relayed) {
        QAction *action = page->action(webAction);
        connect(action, &QAction::changed, this, [this, action, webAction] {
            emit webActionEnabledChanged(webAction, action->isEnabled());
        });
    }
    QWebEngineView::setPage(page);
}

bool WebView::isWebActionEnabled(QWebEnginePage::WebAction webAction) const
{
    QAction *action = page()->action(webAction);
    return action && action->isEnabled();
}

QIcon WebView::favIcon() const
{
    const QIcon pageIcon = icon();
    if (!pageIcon.isNull())
        return pageIcon;
    if (m_progress < 0)
        return errorIcon();
    if (m_progress < 100)
        return loadingIcon();
    return defaultIcon();
}

qreal WebView::autoZoomFactor(qreal devicePixelRatio, qreal currentZoom)
{
    if (devicePixelRatio > 2.0)
        return 0.5;
    if (devicePixelRatio > 1.0)
        return 0.75;
    return currentZoom;
}

WebViewHost *WebView::host() const
{
    return dynamic_cast<WebViewHost *>(window());
}

void WebView::handleLoadStarted()
{
    // A load, whoever started it, brings a new render process: no question is left to ask.
    m_pendingTermination.reset();
    m_progress = 0;
    emit favIconChanged(favIcon());
}

void WebView::handleLoadProgress(int progress)
{
    m_progress = progress;
}

void WebView::handleLoadFinished(bool ok)
{
    m_progress = ok ? 100 : -1;
    emit favIconChanged(favIcon());
    if (!ok)
        return;
    if (QScreen *screen = QGuiApplication::primaryScreen())
        setZoomFactor(autoZoomFactor(screen->devicePixelRatio(), zoomFactor()));
    if (WebViewHost *window = host())
        window->refreshPageState();
}

void WebView::handleIconChanged()
{
    emit favIconChanged(favIcon());
}

void WebView::handleUrlChanged()
{
    if (WebViewHost *window = host())
        window->refreshPageState();
}

void WebView::handleRenderProcessTerminated(QWebEnginePage::RenderProcessTerminationStatus status,
                                            int exitCode)
{
    QWidget *top = window();
    if (top->isVisible()) {
        qCWarning(lcWebView) << "render process ended:" << status << "exit code" << exitCode;
        askToReload(status, exitCode);
        return;
    }
    // Hidden in the tray a box would only stop the notices until someone comes to answer it.
    if (m_autoReload.isActive())
        return;
    if (m_reloadBudget.take()) {
        qCWarning(lcWebView).nospace()
            << "render process ended while hidden: " << status << ", exit code " << exitCode
            << "; reloading in " << autoReloadDelayMs << " ms (automatic reload "
            << m_reloadBudget.taken() << " of " << m_reloadBudget.maxReloads() << " in 10 minutes)";
        m_autoReload.start();
        return;
    }
    qCWarning(lcWebView).nospace()
        << "render process ended while hidden: " << status << ", exit code " << exitCode
        << "; no automatic reload left, asking when the window is shown";
    m_pendingTermination = Termination{status, exitCode};
    if (m_watchedWindow != top) {
        if (m_watchedWindow)
            m_watchedWindow->removeEventFilter(this);
        m_watchedWindow = top;
        top->installEventFilter(this);
    }
}

bool WebView::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_watchedWindow && event->type() == QEvent::Show) {
        m_watchedWindow->removeEventFilter(this);
        m_watchedWindow = nullptr;
        // Not inside the show itself: let the window come up first.
        QTimer::singleShot(0, this, &WebView::askPendingTermination);
    }
    return QWebEngineView::eventFilter(watched, event);
}

void WebView::askPendingTermination()
{
    if (!m_pendingTermination)
        return;
    const Termination last = *m_pendingTermination;
    m_pendingTermination.reset();
    askToReload(last.status, last.exitCode);
}

void WebView::askToReload(QWebEnginePage::RenderProcessTerminationStatus status, int exitCode)
{
    QString title;
    switch (status) {
    case QWebEnginePage::NormalTerminationStatus:
        title = tr("渲染进程正常退出");
        break;
    case QWebEnginePage::AbnormalTerminationStatus:
        title = tr("渲染进程异常退出");
        break;
    case QWebEnginePage::CrashedTerminationStatus:
        title = tr("渲染进程崩溃");
        break;
    case QWebEnginePage::KilledTerminationStatus:
        title = tr("渲染进程已被终止");
        break;
    }
    const QString text =
        tr("渲染进程已退出，状态代码为： %1\n是否需要重新加载页面？").arg(exitCode);

    // Heap box guarded by QPointer: the window (the box's parent) or this view may go away
    // while the box waits.
    QPointer<WebView> self(this);
    QPointer<QMessageBox> box = new QMessageBox(QMessageBox::Question, title, text,
                                                QMessageBox::Yes | QMessageBox::No, window());
    box->button(QMessageBox::Yes)->setText(tr("是"));
    box->button(QMessageBox::No)->setText(tr("否"));
    const int answer = box->exec();
    delete box;
    if (!self || answer != QMessageBox::Yes)
        return;
    QTimer::singleShot(0, this, [this] { reload(); });
}

QMenu *WebView::createContextMenu()
{
    auto *menu = new QMenu(this);
    QWebEngineHistory *pageHistory = history();

    QAction *back = menu->addAction(tr("返回"));
    back->setEnabled(pageHistory->canGoBack());
    connect(back, &QAction::triggered, this, [this] { triggerPageAction(QWebEnginePage::Back); });

    QAction *forward = menu->addAction(tr("前进"));
    forward->setEnabled(pageHistory->canGoForward());
    connect(forward, &QAction::triggered, this,
            [this] { triggerPageAction(QWebEnginePage::Forward); });

    QAction *reloadAction = menu->addAction(tr("重新加载"));
    connect(reloadAction, &QAction::triggered, this,
            [this] { triggerPageAction(QWebEnginePage::Reload); });

    menu->addSeparator();

    QAction *copyUrl = menu->addAction(tr("复制页面链接"));
    connect(copyUrl, &QAction::triggered, this, [this] {
        if (QClipboard *clipboard = QGuiApplication::clipboard())
            clipboard->setText(page()->url().toString());
    });

    // The menu-bar and settings entries act on the main window; a view elsewhere has none.
    if (WebViewHost *owner = host()) {
        // The window may be gone by the time an entry is chosen.
        QPointer<QWidget> window = this->window();
        const auto act = [window](void (WebViewHost::*what)()) {
            return [window, what] {
                if (auto *owner = dynamic_cast<WebViewHost *>(window.data()))
                    (owner->*what)();
            };
        };
        if (owner->isMenuBarHidden())
            connect(menu->addAction(tr("显示菜单栏")), &QAction::triggered, this,
                    act(&WebViewHost::showMenuBar));
        else
            connect(menu->addAction(tr("隐藏菜单栏")), &QAction::triggered, this,
                    act(&WebViewHost::hideMenuBar));
        menu->addSeparator();
        connect(menu->addAction(tr("设置")), &QAction::triggered, this,
                act(&WebViewHost::openSettingsDialog));
    }
    return menu;
}

void WebView::contextMenuEvent(QContextMenuEvent *event)
{
    // With the focus elsewhere (say the address field) the engine's own menu is the right one.
    if (!hasFocus()) {
        QWebEngineView::contextMenuEvent(event);
        return;
    }
    QMenu *menu = createContextMenu();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}

QWebEngineView *WebView::createWindow(QWebEnginePage::WebWindowType type)
{
    // Only views living in a main window open anything; a popup's page gets no new windows.
    WebViewHost *window = host();
    if (!window)
        return nullptr;

    switch (type) {
    case QWebEnginePage::WebBrowserWindow:
        if (!window->hasTabs())
            return window->currentView();
        return window->openWindow();
    case QWebEnginePage::WebBrowserTab: {
        const bool tabsWanted =
            appSettings && (appSettings->isMultiTab || appSettings->isBowserMultiTab);
        if (window->hasTabs() && tabsWanted)
            return window->openTab(false);
        return window->openPopup(page()->profile());
    }
    case QWebEnginePage::WebDialog: {
        WebView *popup = window->openPopup(page()->profile());
        if (popup)
            connect(popup, &WebView::devToolsRequested, this, &WebView::devToolsRequested);
        return popup;
    }
    case QWebEnginePage::WebBrowserBackgroundTab:
        return window->openTab(true);
    }
    return nullptr;
}
