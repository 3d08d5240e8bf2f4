#include "web/webview.h"

#include "app/browser.h"
#include "mainwindow/mainwindow.h"
#include "store/appsettings.h"
#include "web/tabwidget.h"
#include "web/webpage.h"
#include "web/webpopupwindow.h"

#include <QAbstractButton>
#include <QAction>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QWebEngineHistory>

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

MainWindow *WebView::ownerWindow() const
{
    return qobject_cast<MainWindow *>(window());
}

void WebView::handleLoadStarted()
{
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
    if (MainWindow *window = ownerWindow())
        window->refreshPageState();
}

void WebView::handleIconChanged()
{
    emit favIconChanged(favIcon());
}

void WebView::handleUrlChanged()
{
    if (MainWindow *window = ownerWindow())
        window->refreshPageState();
}

void WebView::handleRenderProcessTerminated(QWebEnginePage::RenderProcessTerminationStatus status,
                                            int exitCode)
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
    QPointer<MainWindow> window = ownerWindow();
    if (window) {
        if (window->isMenuBarHidden()) {
            QAction *show = menu->addAction(tr("显示菜单栏"));
            connect(show, &QAction::triggered, this, [window] {
                if (window)
                    window->showMenuBar();
            });
        } else {
            QAction *hide = menu->addAction(tr("隐藏菜单栏"));
            connect(hide, &QAction::triggered, this, [window] {
                if (window)
                    window->hideMenuBar();
            });
        }
        menu->addSeparator();
        QAction *settings = menu->addAction(tr("设置"));
        connect(settings, &QAction::triggered, this, [window] {
            if (window)
                window->openSettingsDialog();
        });
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
    MainWindow *window = ownerWindow();
    if (!window)
        return nullptr;
    TabWidget *tabs = window->tabWidget();

    switch (type) {
    case QWebEnginePage::WebBrowserWindow: {
        if (!tabs)
            return window->currentView();
        Browser *browser = window->browser();
        if (!browser)
            return nullptr;
        MainWindow *newWindow = browser->createWindow(MainWindow::SingleView, true);
        return newWindow ? newWindow->currentView() : nullptr;
    }
    case QWebEnginePage::WebBrowserTab: {
        const bool tabsWanted =
            appSettings && (appSettings->isMultiTab || appSettings->isBowserMultiTab);
        if (tabs && tabsWanted)
            return tabs->createTab();
        return (new WebPopupWindow(page()->profile()))->view();
    }
    case QWebEnginePage::WebDialog: {
        auto *popup = new WebPopupWindow(page()->profile());
        connect(popup->view(), &WebView::devToolsRequested, this, &WebView::devToolsRequested);
        return popup->view();
    }
    case QWebEnginePage::WebBrowserBackgroundTab:
        return tabs ? tabs->createBackgroundTab() : nullptr;
    }
    return nullptr;
}
