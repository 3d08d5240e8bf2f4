#include "mainwindow/mainwindow.h"

#include "app/appsettings.h"
#include "app/browser.h"
#include "app/serviceurl.h"
#include "bridge/jschannel.h"
#include "mainwindow/windowgeometry.h"
#include "settings/syssettingwindow.h"
#include "update/updater.h"
#include "web/tabwidget.h"
#include "web/webpage.h"
#include "web/webview.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopWidget>
#include <QDir>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QNetworkReply>
#include <QScreen>
#include <QStatusBar>
#include <QStyle>
#include <QTabBar>
#include <QVBoxLayout>
#include <QWebChannel>
#include <QWebEngineCookieStore>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWindow>

MainWindow *mainWindow = nullptr;

MainWindow::MainWindow(Browser *browser, QWebEngineProfile *profile, int mode)
    : QMainWindow(nullptr), m_browser(browser), m_profile(profile), m_displayMode(mode)
{
    if (m_displayMode == DevTools)
        setAttribute(Qt::WA_DeleteOnClose, true);
    setFocusPolicy(Qt::StrongFocus);
    statusBar()->hide();
    setWindowTitle(tr("青隼"));

    menuBar()->addMenu(createFileMenu());
    menuBar()->addMenu(createEditMenu());
    menuBar()->addMenu(createViewMenu());
    menuBar()->addMenu(createHelpMenu());
    if (appSettings && !appSettings->isShowMenuBar)
        menuBar()->hide();

    auto *centralWidget = new QWidget(this);
    m_layout = new QVBoxLayout;
    m_layout->setSpacing(0);
    m_layout->setContentsMargins(0, 0, 0, 0);

    const int titleBarHeight = style()->pixelMetric(QStyle::PM_TitleBarHeight);
    QScreen *screen = QGuiApplication::primaryScreen();
    const QSize available = screen ? screen->availableGeometry().size() : QSize(1280, 800);

    if (m_displayMode == DevTools) {
        m_webView = new WebView(this);
        m_webView->settings()->setAttribute(QWebEngineSettings::PluginsEnabled, true);
        m_layout->addWidget(m_webView);
    } else {
        initTrayIcon();
        if (m_displayMode == SingleView) {
            m_webView = new WebView(this);
            m_layout->addWidget(m_webView);
            connect(m_webView, &QWebEngineView::titleChanged, this,
                    &MainWindow::handleWebViewTitleChanged);
        } else {
            m_tabWidget = new TabWidget(m_profile, this);
            m_tabWidget->createTab();
            connect(m_tabWidget->tabBar(), &QTabBar::tabCloseRequested, this,
                    &MainWindow::closeTab);
            m_layout->addWidget(m_tabWidget);
            connect(m_tabWidget, &TabWidget::titleChanged, this,
                    &MainWindow::handleWebViewTitleChanged);
        }
        if (WebView *view = currentView())
            connect(view->page(), &QWebEnginePage::fullScreenRequested, this,
                    &MainWindow::fullScreenRequested);

        m_jsChannel = new JsChannel;
        m_webChannel = new QWebChannel(this);
        m_webChannel->registerObject(QStringLiteral("webobj"), m_jsChannel);
        if (WebView *view = currentView())
            view->page()->setWebChannel(m_webChannel);
        connect(m_jsChannel, &JsChannel::recvMsgFromHtml, this, &MainWindow::handleWebNoticeMsg);
        connect(m_jsChannel, &JsChannel::recvLoginInfoFromHtml, this,
                &MainWindow::handleSaveLoginInfo);
        connect(m_jsChannel, &JsChannel::recvDeleteLoginInfoFromHtml, this,
                &MainWindow::handleDeleteLoginInfo);
        connect(m_jsChannel, &JsChannel::recvClearLoginInfoFromHtml, this,
                &MainWindow::handleClearLoginInfo);
        connect(m_jsChannel, &JsChannel::recvNoReadMsgCountFromHtml, this,
                &MainWindow::handleSetAppilicationIconBadgeNumber);
    }

    m_updater = new Updater(this);

    centralWidget->setLayout(m_layout);
    setCentralWidget(centralWidget);

    const QRect geometry = mainWindowGeometry(available, titleBarHeight, m_displayMode);
    resize(geometry.size());
    move((available.width() - width()) / 2, geometry.y());
}

MainWindow::~MainWindow()
{
    delete m_trayIcon;
    m_trayIcon = nullptr;
    delete m_trayMenu;
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

void MainWindow::loadUrl(const QUrl &url)
{
    if (m_tabWidget)
        m_tabWidget->setStartUrl(url);
    else if (m_webView)
        m_webView->setUrl(url);
}

void MainWindow::initNoticeSound()
{
    m_noticePlayer.setMedia(QUrl(QStringLiteral("qrc:/notice.mp3")));
}

void MainWindow::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    // Keeps a border in full screen on Windows; other platforms lack the function.
    using SetHasBorderInFullScreen = void (*)(QWindow *, bool);
    const QFunctionPointer function =
        QGuiApplication::platformFunction(QByteArrayLiteral("WindowsSetHasBorderInFullScreen"));
    if (function && windowHandle())
        reinterpret_cast<SetHasBorderInFullScreen>(function)(windowHandle(), true);
}

QMenu *MainWindow::createFileMenu()
{
    auto *menu = new QMenu(tr("文件"), this);
    return menu;
}

QMenu *MainWindow::createEditMenu()
{
    auto *menu = new QMenu(tr("修改"), this);
    return menu;
}

QMenu *MainWindow::createViewMenu()
{
    auto *menu = new QMenu(tr("视图"), this);
    return menu;
}

QMenu *MainWindow::createHelpMenu()
{
    auto *menu = new QMenu(tr("帮助"), this);
    return menu;
}

void MainWindow::initTrayIcon()
{
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        return;
    m_trayMenu = new QMenu(QApplication::desktop());
    m_trayMenuBarAction = new QAction(tr("隐藏菜单栏"), this);
    connect(m_trayMenuBarAction, &QAction::triggered, this, [this] {
        if (isMenuBarHidden())
            showMenuBar();
        else
            hideMenuBar();
        activateWindow();
        setFocus(Qt::OtherFocusReason);
    });
    m_trayMenu->addAction(m_trayMenuBarAction);
    m_trayMenu->addAction(tr("设置"), this, &MainWindow::openSettingsDialog);
    m_trayMenu->addAction(tr("更新日志"), this, &MainWindow::handleViewUpdateLog);
    m_trayMenu->addAction(tr("检查版本"), this, &MainWindow::handleCheckVersion);
    m_trayQuitAction = new QAction(tr("退出"), this);
    connect(m_trayQuitAction, &QAction::triggered, this, [this] {
        m_quitRequested = true;
        close();
    });
    m_trayMenu->addAction(m_trayQuitAction);

    m_trayIcon = new QSystemTrayIcon(this);
    m_trayIcon->setIcon(QIcon(QStringLiteral(":AppIcon.ico")));
    m_trayIcon->setToolTip(tr("青隼"));
    m_trayIcon->setContextMenu(m_trayMenu);
    m_trayIcon->setVisible(true);
    connect(m_trayIcon, &QSystemTrayIcon::activated, this, &MainWindow::iconActivated);
    connect(m_trayIcon, &QSystemTrayIcon::messageClicked, this,
            &MainWindow::handleSystemTraymessageClicked);
}

void MainWindow::showHotkeyFailedMessage()
{
    if (!m_trayIcon)
        return;
    m_trayIcon->showMessage(tr("全局热键提醒"),
                            tr("全局热键注册失败，可能和已有软件冲突，请重新设置热键组合"),
                            QIcon(QStringLiteral(":AppIcon.ico")), 3000);
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

void MainWindow::toggleFullScreen() {}

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

void MainWindow::openSettingsDialog() {}

void MainWindow::forgetSettingsWindow()
{
    m_settingsWindow = nullptr;
}

void MainWindow::refreshPageState() {}

void MainWindow::sendLoginInfoToPage() {}

void MainWindow::checkVersion(bool silent)
{
    m_updater->checkVersion(silent);
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

void MainWindow::downloadFile(const QString &url, const QString &version)
{
    m_updater->downloadFile(url, version);
}

void MainWindow::triggerCurrentPageAction(QWebEnginePage::WebAction action)
{
    if (WebView *view = currentView())
        view->triggerPageAction(action, false);
}

void MainWindow::closeTab(int) {}
void MainWindow::handleNewWindowTriggered() {}
void MainWindow::handleNewIncognitoWindowTriggered() {}
void MainWindow::handleFileOpenTriggered() {}
void MainWindow::handleFindActionTriggered() {}
void MainWindow::handleShowWindowTriggered() {}
void MainWindow::fullScreenRequested(QWebEngineFullScreenRequest) {}
void MainWindow::handleWebViewLoadProgress(int) {}

void MainWindow::handleWebViewTitleChanged(const QString &strTitle)
{
    if (!strTitle.isEmpty())
        setWindowTitle(strTitle);
}

void MainWindow::handleWebActionEnabledChanged(QWebEnginePage::WebAction, bool) {}
void MainWindow::handleDevToolsRequested(QWebEnginePage *) {}
void MainWindow::iconActivated(QSystemTrayIcon::ActivationReason) {}
void MainWindow::handleSystemTraymessageClicked() {}
void MainWindow::handleViewUpdateLog()
{
    if (WebView *view = currentView())
        view->setUrl(QUrl(ServiceUrl::updateLogUrl()));
}

void MainWindow::handleCheckVersion()
{
    m_updater->checkVersion(false);
}

void MainWindow::handleEditContextMenuRequested(const QPoint &) {}
void MainWindow::handleWebNoticeMsg(const QString &) {}
void MainWindow::handleSaveLoginInfo(const QString &, const QString &) {}
void MainWindow::handleDeleteLoginInfo(const QString &) {}
void MainWindow::handleClearLoginInfo() {}
void MainWindow::handleNetworkRequestFinished(QNetworkReply *reply)
{
    m_updater->handleNetworkRequestFinished(reply);
}

void MainWindow::cancelDownload()
{
    m_updater->cancelDownload();
}

void MainWindow::downloadFinished(const QString &strVersion)
{
    m_updater->downloadFinished(strVersion);
}

void MainWindow::downloadReadyRead()
{
    m_updater->downloadReadyRead();
}

void MainWindow::startUpdate()
{
    m_updater->startUpdate();
}

void MainWindow::handleSetAppilicationIconBadgeNumber(int) {}

void MainWindow::keyPressEvent(QKeyEvent *event)
{
    QMainWindow::keyPressEvent(event);
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (m_displayMode == DevTools) {
        deleteLater();
        event->accept();
        return;
    }
    if (m_settingsWindow) {
        delete m_settingsWindow;
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
    if (m_jsChannel)
        emit m_jsChannel->logoutWsNoticeCenterInHtml();
    if (m_browser) {
        for (MainWindow *window : m_browser->windows()) {
            if (window != this && window->displayMode() == DevTools)
                window->close();
        }
    }
    event->accept();
    QCoreApplication::exit(0);
}
