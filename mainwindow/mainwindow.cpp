#include "mainwindow/mainwindow.h"

#include "bridge/jschannel.h"
#include "mainwindow/windowgeometry.h"
#include "mainwindow/windowkeys.h"
#include "notify/notifymanager.h"
#include "platform/fullscreenborder.h"
#include "platform/trayavailability.h"
#include "store/appsettings.h"
#include "web/tabwidget.h"
#include "web/webpopupwindow.h"
#include "web/webview.h"

#include <QAction>
#include <QCloseEvent>
#include <QDir>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>
#include <QWebEngineCookieStore>
#include <QWebEngineProfile>
#include <QWebEngineSettings>

MainWindow *mainWindow = nullptr;

MainWindow::MainWindow(WindowHost *app, QWebEngineProfile *profile, int mode)
    : QMainWindow(nullptr), m_app(app), m_profile(profile), m_displayMode(mode)
{
    if (m_displayMode == DevTools)
        setAttribute(Qt::WA_DeleteOnClose, true);
    setFocusPolicy(Qt::StrongFocus);
    statusBar()->hide();
    setWindowTitle(tr("青隼"));

    m_commands = new PageCommands([this] { return currentView(); }, this, statusBar());
    m_fullScreen = new FullScreenController(this, menuBar());
    createMenus();
    if (appSettings && !appSettings->isShowMenuBar)
        menuBar()->hide();

    auto *centralWidget = new QWidget(this);
    m_layout = new QVBoxLayout;
    m_layout->setSpacing(0);
    m_layout->setContentsMargins(0, 0, 0, 0);

    const int titleBarHeight = style()->pixelMetric(QStyle::PM_TitleBarHeight);
    int geometryMode = SingleView;
    QScreen *screen = QGuiApplication::primaryScreen();
    const QSize available = screen ? screen->availableGeometry().size() : QSize(1280, 800);

    if (m_displayMode == DevTools) {
        m_webView = new WebView(this);
        m_webView->settings()->setAttribute(QWebEngineSettings::PluginsEnabled, true);
        m_layout->addWidget(m_webView);
    } else {
        createTray();
        if (m_displayMode == SingleView) {
            m_webView = new WebView(this);
            m_layout->addWidget(m_webView);
            connect(m_webView, &QWebEngineView::titleChanged, this,
                    &MainWindow::handleWebViewTitleChanged);
        } else {
            m_tabWidget = new TabWidget(m_profile, this);
            m_tabWidget->createTab();
            connect(m_tabWidget, &QTabWidget::tabCloseRequested, this, &MainWindow::closeTab);
            if (m_displayMode == BrowserMode) {
                createNavigationBar();
                geometryMode = BrowserMode;
            }
            m_layout->addWidget(m_tabWidget);
            connect(m_tabWidget, &TabWidget::titleChanged, this,
                    &MainWindow::handleWebViewTitleChanged);
        }
        if (WebView *view = currentView())
            connect(view->page(), &QWebEnginePage::fullScreenRequested, this,
                    &MainWindow::fullScreenRequested);
        if (m_tray) {
            // Off the start-up path: up after the first load, or after 15 s at the latest.
            if (WebView *view = currentView())
                connect(view, &QWebEngineView::loadFinished, m_tray, &TrayController::showIcon);
            QTimer::singleShot(15000, m_tray, &TrayController::showIcon);
        }

        m_messages = new WebMessageHandler(
            currentView() ? currentView()->page() : nullptr,
            [this] { return m_app ? m_app->dataBase() : nullptr; },
            m_app ? m_app->notifyManager() : nullptr, m_tray != nullptr, this);
        connect(m_messages, &WebMessageHandler::balloonRequested, this,
                &MainWindow::showTrayMessage);
        connect(m_messages, &WebMessageHandler::unreadCountChanged, this,
                &MainWindow::handleSetAppilicationIconBadgeNumber);
        connect(m_messages, &WebMessageHandler::bringToFrontRequested, this,
                &MainWindow::bringToFront);
    }

    centralWidget->setLayout(m_layout);
    setCentralWidget(centralWidget);

    const QRect geometry = mainWindowGeometry(available, titleBarHeight, geometryMode);
    resize(geometry.size());
    move((available.width() - width()) / 2, geometry.y());
}

MainWindow::~MainWindow()
{
    // Before the window's parts: a balloon or badge asked for while they go finds no tray.
    delete m_tray;
    m_tray = nullptr;
}

namespace {
// The tray entry and the window's key that put the keyboard focus on the newest popup.
void focusNewestNotice(WindowHost *app)
{
    if (app && app->notifyManager())
        app->notifyManager()->focusNewestPopup();
}
} // namespace

void MainWindow::createMenus()
{
    m_menus = new WindowMenus(this, menuBar());
    connect(m_menus, &WindowMenus::settingsRequested, this, &MainWindow::openSettingsDialog);
    connect(m_menus, &WindowMenus::closeRequested, this, &QWidget::close);
    connect(m_menus, &WindowMenus::pageActionRequested, m_commands,
            &PageCommands::triggerPageAction);
    connect(m_menus, &WindowMenus::zoomInRequested, m_commands, &PageCommands::zoomIn);
    connect(m_menus, &WindowMenus::zoomOutRequested, m_commands, &PageCommands::zoomOut);
    connect(m_menus, &WindowMenus::zoomResetRequested, m_commands, &PageCommands::resetZoom);
    connect(m_menus, &WindowMenus::fullScreenToggleRequested, m_fullScreen,
            &FullScreenController::toggle);
    connect(m_menus, &WindowMenus::hideMenuBarRequested, this, &MainWindow::hideMenuBar);
    connect(m_menus, &WindowMenus::updateLogRequested, m_commands, &PageCommands::viewUpdateLog);
    connect(m_menus, &WindowMenus::checkVersionRequested, this, &MainWindow::handleCheckVersion);
    connect(m_menus, &WindowMenus::newestNoticeRequested, this,
            [this] { focusNewestNotice(m_app); });
    connect(m_menus, &WindowMenus::devToolsRequested, this, [this] {
        if (WebView *view = currentView())
            handleDevToolsRequested(view->page());
    });
}

void MainWindow::createNavigationBar()
{
    m_navigationBar =
        new NavigationBar(m_tabWidget, m_menus->stopAction(), m_menus->reloadAction(), this);
    connect(m_navigationBar, &NavigationBar::pageActionRequested, m_commands,
            &PageCommands::triggerPageAction);
    connect(m_tabWidget, &TabWidget::devToolsRequested, this, &MainWindow::handleDevToolsRequested);
    addToolBar(m_navigationBar);
}

void MainWindow::createTray()
{
    TrayAvailability *trays = TrayAvailability::instance();
    if (!trays->isAvailable()) {
        // A panel that starts after the program (autostart at login) gets the icon at once.
        connect(trays, &TrayAvailability::appeared, this, [this] {
            if (m_tray)
                return;
            createTray();
            if (!m_tray)
                return;
            m_tray->showIcon();
            if (m_messages)
                m_messages->setHasTray(true);
        });
        return;
    }
    m_tray = new TrayController(this, menuBar());
    connect(m_tray, &TrayController::settingsRequested, this, &MainWindow::openSettingsDialog);
    connect(m_tray, &TrayController::updateLogRequested, m_commands, &PageCommands::viewUpdateLog);
    connect(m_tray, &TrayController::checkVersionRequested, this, &MainWindow::handleCheckVersion);
    connect(m_tray, &TrayController::quitRequested, this, [this] {
        m_quitRequested = true;
        close();
    });
    connect(m_tray, &TrayController::raiseRequested, this, &MainWindow::bringToFront);
    connect(m_tray, &TrayController::messageClicked, this,
            &MainWindow::handleSystemTraymessageClicked);
    connect(m_tray, &TrayController::messageShown, this, &MainWindow::trayMessageShown);
    connect(m_tray, &TrayController::newestNoticeRequested, this,
            [this] { focusNewestNotice(m_app); });
}

QSize MainWindow::sizeHint() const
{
    return QMainWindow::sizeHint();
}

WebView *MainWindow::currentView() const
{
    if (m_tabWidget)
        return m_tabWidget->currentWebView();
    return m_webView;
}

WebView *MainWindow::openTab(bool background)
{
    if (!m_tabWidget)
        return nullptr;
    return background ? m_tabWidget->createBackgroundTab() : m_tabWidget->createTab();
}

WebView *MainWindow::openWindow()
{
    MainWindow *window = m_app ? m_app->createWindow(SingleView, true) : nullptr;
    return window ? window->currentView() : nullptr;
}

WebView *MainWindow::openPopup(QWebEngineProfile *profile)
{
    return (new WebPopupWindow(profile))->view();
}

void MainWindow::loadUrl(const QUrl &url)
{
    if (m_tabWidget)
        m_tabWidget->setStartUrl(url);
    else if (m_webView)
        m_webView->setUrl(url);
}

void MainWindow::hideEvent(QHideEvent *event)
{
    // A window hidden to the tray comes back only through its icon.
    if (m_tray)
        m_tray->showIcon();
    QMainWindow::hideEvent(event);
}

void MainWindow::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    FullScreenBorder::keepBorder(windowHandle());
}

void MainWindow::showHotkeyFailedMessage()
{
    showTrayMessage(tr("全局热键提醒"),
                    tr("全局热键注册失败，可能和已有软件冲突，请重新设置热键组合"), 3000);
}

bool MainWindow::isMenuBarHidden() const
{
    return menuBar()->isHidden();
}

void MainWindow::showMenuBar()
{
    menuBar()->show();
}

void MainWindow::hideMenuBar()
{
    menuBar()->hide();
}

void MainWindow::bringToFront()
{
    if (isVisible()) {
        if (isMinimized())
            showMaximized();
    } else {
        show();
    }
    if (!isActiveWindow()) {
        raise();
        activateWindow();
    }
}

void MainWindow::openSettingsDialog()
{
    if (!m_settingsWindow) {
        SysSettingWindow::Host host;
        // Without one the dialog writes to the settings store itself.
        if (m_app)
            host.saveSettingsGroup = [this](const QVariantMap &values, const QString &group) {
                return m_app->saveSettingsGroup(values, group);
            };
        host.clearBrowsingData = [this](bool cacheAndCookies, bool visitedLinks,
                                        bool cacheDirectory) {
            return clearBrowsingData(cacheAndCookies, visitedLinks, cacheDirectory);
        };
        m_settingsWindow = new SysSettingWindow(this, std::move(host));
        connect(m_settingsWindow, &SysSettingWindow::ended, this,
                &MainWindow::forgetSettingsWindow);
    }
    if (!m_settingsWindow->isVisible()) {
        m_settingsWindow->show();
    } else {
        m_settingsWindow->raise();
        m_settingsWindow->activateWindow();
    }
}

bool MainWindow::askLastTabQuestion()
{
    QMessageBox box(QMessageBox::Warning, tr("青隼"), tr("确定关闭当前标签页后退出吗？"),
                    QMessageBox::Yes | QMessageBox::No, this);
    box.button(QMessageBox::Yes)->setText(tr("是"));
    box.button(QMessageBox::No)->setText(tr("否"));
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

void MainWindow::forgetSettingsWindow()
{
    m_settingsWindow = nullptr;
}

bool MainWindow::clearBrowsingData(bool cacheAndCookies, bool visitedLinks, bool cacheDirectory)
{
    if (!cacheAndCookies && !visitedLinks && !cacheDirectory)
        return false;
    WebView *view = currentView();
    QWebEngineProfile *profile = view ? view->page()->profile() : nullptr;
    if (!profile)
        return false;
    if (cacheAndCookies) {
        profile->clearHttpCache();
        profile->cookieStore()->deleteAllCookies();
        profile->cookieStore()->deleteSessionCookies();
    }
    if (visitedLinks)
        profile->clearAllVisitedLinks();
    if (cacheDirectory) {
        // Non-recursive on purpose: a directory that still has content stays.
        QDir dir(profile->cachePath());
        if (dir.exists())
            QDir().rmdir(dir.absolutePath());
    }
    return true;
}

void MainWindow::closeTab(int index)
{
    if (!m_tabWidget)
        return;
    if (m_tabWidget->count() > 1) {
        m_tabWidget->closeTab(index);
        return;
    }
    // The close button path ends the program directly, without the close handling.
    if (askLastTabQuestion())
        QCoreApplication::exit(0);
}

void MainWindow::handleNewWindowTriggered() {}
void MainWindow::handleNewIncognitoWindowTriggered() {}

void MainWindow::handleShowWindowTriggered()
{
    auto *action = qobject_cast<QAction *>(sender());
    if (!action || !m_app)
        return;
    const int index = action->data().toInt();
    const QVector<MainWindow *> windows = m_app->windows();
    if (index >= 0 && index < windows.size()) {
        MainWindow *window = windows.at(index);
        window->activateWindow();
        if (WebView *view = window->currentView())
            view->setFocus();
    }
}

void MainWindow::fullScreenRequested(QWebEngineFullScreenRequest request)
{
    WebView *view = currentView();
    m_fullScreen->handleRequest(request, view ? view->page() : nullptr);
}

void MainWindow::handleWebViewTitleChanged(const QString &strTitle)
{
    if (!strTitle.isEmpty())
        setWindowTitle(strTitle);
}

void MainWindow::handleDevToolsRequested(QWebEnginePage *source)
{
    if (!source || !m_app)
        return;
    MainWindow *tools = m_app->createDevToolsWindow();
    if (!tools || !tools->currentView())
        return;
    QWebEnginePage *toolsPage = tools->currentView()->page();
    // The engine loads its inspector into the page itself, in this process: no port.
    source->setDevToolsPage(toolsPage);
    source->triggerAction(QWebEnginePage::InspectElement);
}

void MainWindow::keyPressEvent(QKeyEvent *event)
{
    switch (WindowKeys::command(*event, isFullScreen())) {
    case WindowKeys::LeaveFullScreen:
        m_fullScreen->leave();
        return;
    case WindowKeys::ToggleFullScreen:
        toggleFullScreen();
        return;
    case WindowKeys::Hide:
        // Hidden, and the key still goes on.
        hide();
        break;
    case WindowKeys::NewTab:
        if (m_tabWidget) {
            m_tabWidget->openStartTab();
            return;
        }
        break;
    case WindowKeys::CloseTab:
        closeCurrentTab();
        return;
    case WindowKeys::None:
        break;
    }
    QMainWindow::keyPressEvent(event);
}

void MainWindow::closeCurrentTab()
{
    if (!m_tabWidget) {
        close();
    } else if (m_tabWidget->count() < 2) {
        if (askLastTabQuestion()) {
            m_quitRequested = true;
            close();
        }
    } else {
        m_tabWidget->closeTab(m_tabWidget->currentIndex());
    }
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (m_displayMode == DevTools) {
        deleteLater();
        event->accept();
        return;
    }
    if (m_settingsWindow) {
        // Not deleted here: a chooser or message box of the dialog may be running its own loop
        // below this call.
        m_settingsWindow->close();
        if (m_settingsWindow)
            m_settingsWindow->deleteLater();
        m_settingsWindow = nullptr;
    }
    if (!m_quitRequested && !(appSettings && appSettings->isQuitWhenClose)) {
        if (isFullScreen())
            showMinimized();
        else
            hide();
        event->ignore();
        return;
    }
    if (JsChannel *channel = jsChannel())
        emit channel->logoutWsNoticeCenterInHtml();
    if (m_app) {
        for (MainWindow *window : m_app->windows()) {
            if (window != this && window->displayMode() == DevTools)
                window->close();
        }
    }
    event->accept();
    QCoreApplication::exit(0);
}
