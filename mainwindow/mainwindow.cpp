#include "mainwindow/mainwindow.h"

#include "app/browser.h"
#include "bridge/jschannel.h"
#include "bridge/webmessagehandler.h"
#include "mainwindow/windowgeometry.h"
#include "platform/fullscreenborder.h"
#include "settings/syssettingwindow.h"
#include "store/appsettings.h"
#include "store/serviceurl.h"
#include "update/updater.h"
#include "web/tabwidget.h"
#include "web/webpage.h"
#include "web/webpopupwindow.h"
#include "web/webview.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopWidget>
#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QNetworkReply>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QStyle>
#include <QTabBar>
#include <QToolBar>
#include <QVBoxLayout>
#include <QWebEngineCookieStore>
#include <QWebEngineProfile>
#include <QWebEngineSettings>

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
    int geometryMode = SingleView;
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
            connect(m_tabWidget, &QTabWidget::tabCloseRequested, this, &MainWindow::closeTab);
            if (m_displayMode == BrowserMode) {
                addToolBar(createToolBar());
                geometryMode = BrowserMode;
            }
            m_layout->addWidget(m_tabWidget);
            connect(m_tabWidget, &TabWidget::titleChanged, this,
                    &MainWindow::handleWebViewTitleChanged);
        }
        if (WebView *view = currentView())
            connect(view->page(), &QWebEnginePage::fullScreenRequested, this,
                    &MainWindow::fullScreenRequested);

        m_messages = new WebMessageHandler(currentView() ? currentView()->page() : nullptr,
                                           m_browser ? m_browser->dataBase() : nullptr,
                                           m_browser ? m_browser->notifyManager() : nullptr,
                                           m_trayIcon != nullptr, this);
        connect(m_messages, &WebMessageHandler::balloonRequested, this,
                &MainWindow::showTrayMessage);
        connect(m_messages, &WebMessageHandler::unreadCountChanged, this,
                &MainWindow::handleSetAppilicationIconBadgeNumber);
        connect(m_messages, &WebMessageHandler::bringToFrontRequested, this,
                &MainWindow::bringToFront);
    }

    Updater::Host host;
    host.window = this;
    host.setForceNotice = [this](const QJsonObject &config) {
        if (m_browser)
            m_browser->setForceNotice(jsChannel(), config);
    };
    host.setNoticeStayTime = [this](int seconds) { setNoticeStayTime(seconds); };
    host.setCheckUpdateInterval = [this](int seconds) {
        if (m_browser)
            m_browser->setCheckUpdateInterval(seconds);
    };
    host.clearBrowsingData = [this] { clearBrowsingData(true, true, true); };
    host.loadUrl = [this](const QUrl &url) { loadUrl(url); };
    host.saveSettingsValue = [this](const QString &key, const QString &group, const QVariant &v) {
        if (m_browser)
            m_browser->saveSettingsValue(key, group, v);
    };
    host.quitAfterInstallerStarted = [this] {
        setQuitRequested(true);
        close();
    };
    m_updater = new Updater(std::move(host));

    centralWidget->setLayout(m_layout);
    setCentralWidget(centralWidget);

    const QRect geometry = mainWindowGeometry(available, titleBarHeight, geometryMode);
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

WebView *MainWindow::openTab(bool background)
{
    if (!m_tabWidget)
        return nullptr;
    return background ? m_tabWidget->createBackgroundTab() : m_tabWidget->createTab();
}

WebView *MainWindow::openWindow()
{
    MainWindow *window = m_browser ? m_browser->createWindow(SingleView, true) : nullptr;
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

JsChannel *MainWindow::jsChannel() const
{
    return m_messages ? m_messages->channel() : nullptr;
}

QWebChannel *MainWindow::webChannel() const
{
    return m_messages ? m_messages->webChannel() : nullptr;
}

void MainWindow::initNoticeSound()
{
    if (m_messages)
        m_messages->initNoticeSound();
}

QString MainWindow::lastNoticeMessage() const
{
    return m_messages ? m_messages->lastNoticeMessage() : QString();
}

int MainWindow::noticeStayTime() const
{
    return m_messages ? m_messages->noticeStayTime() : 3;
}

void MainWindow::setNoticeStayTime(int seconds)
{
    if (m_messages)
        m_messages->setNoticeStayTime(seconds);
}

QMediaPlayer *MainWindow::noticePlayer() const
{
    return m_messages ? m_messages->noticePlayer() : nullptr;
}

int MainWindow::noticeSoundsPlayed() const
{
    return m_messages ? m_messages->noticeSoundsPlayed() : 0;
}

void MainWindow::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    FullScreenBorder::keepBorder(windowHandle());
}

namespace {
const char menuStyle[] =
    "QMenu {background-color: white;border: 1px solid white;}QMenu::item {background-color: "
    "transparent;padding:4px 24px;margin:0px 4px;}QMenu::item:selected {background-color: "
    "#2dabf9;}";
} // namespace

QMenu *MainWindow::createFileMenu()
{
    auto *menu = new QMenu(tr("文件"), this);
    menu->setStyleSheet(QLatin1String(menuStyle));
    QAction *settings = menu->addAction(tr("设置"), this, &MainWindow::openSettingsDialog);
    settings->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    QAction *quit = menu->addAction(tr("退出"), this, &QWidget::close);
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    return menu;
}

QMenu *MainWindow::createEditMenu()
{
    auto *menu = new QMenu(tr("修改"), this);
    menu->setStyleSheet(QLatin1String(menuStyle));
    const auto add = [this, menu](const QString &text, QWebEnginePage::WebAction action) {
        menu->addAction(text, this, [this, action] { triggerCurrentPageAction(action); });
    };
    add(tr("撤销"), QWebEnginePage::Undo);
    add(tr("重做"), QWebEnginePage::Redo);
    menu->addSeparator();
    add(tr("剪切"), QWebEnginePage::Cut);
    add(tr("复制"), QWebEnginePage::Copy);
    add(tr("粘贴"), QWebEnginePage::Paste);
    add(tr("粘贴匹配样式"), QWebEnginePage::PasteAndMatchStyle);
    add(tr("全选"), QWebEnginePage::SelectAll);
    return menu;
}

QMenu *MainWindow::createViewMenu()
{
    auto *menu = new QMenu(tr("视图"), this);
    menu->setStyleSheet(QLatin1String(menuStyle));
    m_stopAction = menu->addAction(tr("停止"), this,
                                   [this] { triggerCurrentPageAction(QWebEnginePage::Stop); });
    m_stopAction->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_Period), Qt::Key_Escape});
    m_reloadAction = menu->addAction(tr("重新加载  "), this,
                                     [this] { triggerCurrentPageAction(QWebEnginePage::Reload); });
    m_reloadAction->setShortcuts(QKeySequence::Refresh);
    menu->addSeparator();
    QAction *zoomIn = menu->addAction(tr("放大"), this, &MainWindow::zoomIn);
    zoomIn->setShortcuts(
        {QKeySequence(Qt::CTRL | Qt::Key_Plus), QKeySequence(Qt::CTRL | Qt::Key_Equal)});
    QAction *zoomOut = menu->addAction(tr("缩小"), this, &MainWindow::zoomOut);
    zoomOut->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Minus));
    QAction *resetZoom = menu->addAction(tr("重置"), this, &MainWindow::resetZoom);
    resetZoom->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_0));
    menu->addSeparator();
    QAction *fullScreen = menu->addAction(tr("切换全屏  "), this, &MainWindow::toggleFullScreen);
    fullScreen->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F));
    return menu;
}

QMenu *MainWindow::createHelpMenu()
{
    auto *menu = new QMenu(tr("帮助"), this);
    menu->setStyleSheet(QLatin1String(menuStyle));
    menu->addAction(tr("隐藏菜单栏"), this, &MainWindow::hideMenuBar);
    QAction *networkTest = menu->addAction(tr("网络测试"));
    networkTest->setEnabled(false);
    menu->addAction(tr("更新日志"), this, &MainWindow::handleViewUpdateLog);
    menu->addAction(tr("检查版本"), this, &MainWindow::handleCheckVersion);
    menu->addAction(tr("调试工具"), this, [this] {
        if (WebView *view = currentView())
            handleDevToolsRequested(view->page());
    });
    return menu;
}

// The platform's bindings for a history step without the dropped ones, plus the dedicated key.
static QList<QKeySequence> historyShortcuts(QKeySequence::StandardKey standard, Qt::Key dedicated,
                                            bool (*dropped)(int firstKey))
{
    QList<QKeySequence> shortcuts;
    for (const QKeySequence &binding : QKeySequence::keyBindings(standard))
        if (!dropped(binding[0]))
            shortcuts.append(binding);
    shortcuts.append(QKeySequence(dedicated));
    return shortcuts;
}

QToolBar *MainWindow::createToolBar()
{
    auto *navigationBar = new QToolBar(tr("Navigation"), this);
    navigationBar->setMovable(false);
    navigationBar->toggleViewAction()->setEnabled(false);
    navigationBar->setIconSize(QSize(20, 20));

    m_historyBackAction = new QAction(this);
    // Backspace bindings would steal the key from text fields in the page.
    m_historyBackAction->setShortcuts(historyShortcuts(
        QKeySequence::Back, Qt::Key_Back, [](int first) { return first == Qt::Key_Backspace; }));
    m_historyBackAction->setIconVisibleInMenu(false);
    m_historyBackAction->setIcon(QIcon(QStringLiteral(":back.png")));
    m_historyBackAction->setToolTip(tr("后退"));
    if (WebView *view = currentView())
        m_historyBackAction->setEnabled(view->isWebActionEnabled(QWebEnginePage::Back));
    connect(m_historyBackAction, &QAction::triggered, this,
            [this] { triggerCurrentPageAction(QWebEnginePage::Back); });
    navigationBar->addAction(m_historyBackAction);

    m_historyForwardAction = new QAction(this);
    m_historyForwardAction->setShortcuts(
        historyShortcuts(QKeySequence::Forward, Qt::Key_Forward,
                         [](int first) { return (first & Qt::Key_unknown) == Qt::Key_Backspace; }));
    m_historyForwardAction->setIconVisibleInMenu(false);
    m_historyForwardAction->setIcon(QIcon(QStringLiteral(":forward.png")));
    m_historyForwardAction->setToolTip(tr("前进"));
    if (WebView *view = currentView())
        m_historyForwardAction->setEnabled(view->isWebActionEnabled(QWebEnginePage::Forward));
    connect(m_historyForwardAction, &QAction::triggered, this,
            [this] { triggerCurrentPageAction(QWebEnginePage::Forward); });
    navigationBar->addAction(m_historyForwardAction);

    m_stopReloadAction = new QAction(this);
    m_stopReloadAction->setIconVisibleInMenu(false);
    m_stopReloadAction->setIcon(QIcon(QStringLiteral(":refresh.png")));
    m_stopReloadAction->setToolTip(tr("重新加载页面"));
    m_stopReloadAction->setData(QWebEnginePage::Reload);
    connect(m_stopReloadAction, &QAction::triggered, this, [this] {
        triggerCurrentPageAction(QWebEnginePage::WebAction(m_stopReloadAction->data().toInt()));
    });
    navigationBar->addAction(m_stopReloadAction);

    m_urlLineEdit = new QLineEdit(this);
    m_favAction = new QAction(this);
    m_urlLineEdit->addAction(m_favAction, QLineEdit::LeadingPosition);
    QAction *clearAction =
        m_urlLineEdit->addAction(QIcon(QStringLiteral(":stop.png")), QLineEdit::TrailingPosition);
    connect(clearAction, &QAction::triggered, m_urlLineEdit, &QLineEdit::clear);
    navigationBar->addWidget(m_urlLineEdit);

    connect(m_tabWidget, &TabWidget::webActionEnabledChanged, this,
            &MainWindow::handleWebActionEnabledChanged);
    connect(m_tabWidget, &TabWidget::favIconChanged, m_favAction, &QAction::setIcon);
    connect(m_tabWidget, &TabWidget::devToolsRequested, this, &MainWindow::handleDevToolsRequested);
    connect(m_urlLineEdit, &QLineEdit::returnPressed, this,
            [this] { m_tabWidget->setUrl(QUrl::fromUserInput(m_urlLineEdit->text())); });
    connect(m_tabWidget, &TabWidget::urlChanged, this,
            [this](const QUrl &url) { m_urlLineEdit->setText(url.toDisplayString()); });
    auto *focusUrlLineEditAction = new QAction(this);
    addAction(focusUrlLineEditAction);
    focusUrlLineEditAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
    connect(focusUrlLineEditAction, &QAction::triggered, this,
            [this] { m_urlLineEdit->setFocus(Qt::ShortcutFocusReason); });
    connect(m_tabWidget, &TabWidget::loadProgress, this, &MainWindow::handleWebViewLoadProgress);
    return navigationBar;
}

void MainWindow::zoomIn()
{
    if (WebView *view = currentView())
        view->setZoomFactor(view->zoomFactor() + 0.2);
}

void MainWindow::zoomOut()
{
    if (WebView *view = currentView())
        view->setZoomFactor(view->zoomFactor() - 0.2);
}

void MainWindow::resetZoom()
{
    if (WebView *view = currentView())
        view->setZoomFactor(1.0);
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
    // Tray hosts that show the menu themselves never send a context click.
    connect(m_trayMenu, &QMenu::aboutToShow, this, &MainWindow::updateTrayMenuBarEntry);
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

void MainWindow::updateTrayMenuBarEntry()
{
    if (m_trayMenuBarAction)
        m_trayMenuBarAction->setText(isMenuBarHidden() ? tr("显示菜单栏") : tr("隐藏菜单栏"));
}

void MainWindow::showHotkeyFailedMessage()
{
    showTrayMessage(tr("全局热键提醒"),
                    tr("全局热键注册失败，可能和已有软件冲突，请重新设置热键组合"), 3000);
}

void MainWindow::showTrayMessage(const QString &title, const QString &text, int msecs)
{
    if (!m_trayIcon)
        return;
    m_trayIcon->showMessage(title, text, QIcon(QStringLiteral(":AppIcon.ico")), msecs);
    emit trayMessageShown(title, text, msecs);
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

void MainWindow::enterFullScreen()
{
    hideMenuBar();
    showFullScreen();
    setFocus(Qt::OtherFocusReason);
}

void MainWindow::leaveFullScreen()
{
    // A page that asked for full screen leaves it too, or it would ignore its later requests.
    if (QWebEnginePage *page = m_fullScreenPage.data()) {
        m_fullScreenPage.clear();
        page->triggerAction(QWebEnginePage::ExitFullScreen);
    }
    showMenuBar();
    showNormal();
}

void MainWindow::toggleFullScreen()
{
    if (isFullScreen()) {
        leaveFullScreen();
    } else {
        enterFullScreen();
    }
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
        if (m_browser)
            host.saveSettingsGroup = [this](const QVariantMap &values, const QString &group) {
                return m_browser->saveSettingsGroup(values, group);
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

void MainWindow::refreshPageState()
{
    if (m_messages)
        m_messages->refreshPageState();
}

void MainWindow::sendLoginInfoToPage()
{
    if (m_messages)
        m_messages->sendLoginInfoToPage();
}

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
void MainWindow::handleFileOpenTriggered()
{
    const QUrl url = QFileDialog::getOpenFileUrl(
        this, tr("Open Web Resource"), QString(),
        tr("Web Resources (*.html *.htm *.svg *.png *.gif *.svgz);;All files (*.*)"));
    if (url.isEmpty())
        return;
    if (WebView *view = currentView())
        view->setUrl(url);
}

void MainWindow::reportFindResult(const QString &search, bool found)
{
    showFindResult(statusBar(), search, found);
}

void MainWindow::showFindResult(QStatusBar *bar, const QString &search, bool found)
{
    // The status bar stays hidden, so this is only seen where someone shows it.
    if (!found)
        bar->showMessage(tr("\"%1\" not found.").arg(search));
}

void MainWindow::handleFindActionTriggered()
{
    if (!currentView())
        return;
    bool ok = false;
    const QString search =
        QInputDialog::getText(this, tr("Find"), tr("Find:"), QLineEdit::Normal, m_lastSearch, &ok);
    // The dialog runs its own loop: the page may have closed its tab meanwhile.
    WebView *view = currentView();
    if (ok && !search.isEmpty() && view) {
        m_lastSearch = search;
        // The engine may answer while this window is being destroyed (the answer comes when the
        // page goes away), so the answer only touches the status bar, and only while it lives.
        QPointer<QStatusBar> bar(statusBar());
        view->findText(m_lastSearch, QWebEnginePage::FindFlags(), [bar, search](bool found) {
            if (bar)
                showFindResult(bar, search, found);
        });
    }
}

void MainWindow::handleShowWindowTriggered()
{
    auto *action = qobject_cast<QAction *>(sender());
    if (!action || !m_browser)
        return;
    const int index = action->data().toInt();
    const QVector<MainWindow *> windows = m_browser->windows();
    if (index >= 0 && index < windows.size()) {
        MainWindow *window = windows.at(index);
        window->activateWindow();
        if (WebView *view = window->currentView())
            view->setFocus();
    }
}

void MainWindow::fullScreenRequested(QWebEngineFullScreenRequest request)
{
    if (request.toggleOn() && !isFullScreen()) {
        request.accept();
        enterFullScreen();
        if (WebView *view = currentView())
            m_fullScreenPage = view->page();
    } else if (!request.toggleOn()) {
        // The page's own exit is always granted; the window follows when it is full screen.
        m_fullScreenPage.clear();
        request.accept();
        if (isFullScreen())
            leaveFullScreen();
    }
}
void MainWindow::handleWebViewLoadProgress(int progress)
{
    if (!m_stopReloadAction)
        return;
    static const QIcon stopIcon(QStringLiteral(":stop.png"));
    static const QIcon reloadIcon(QStringLiteral(":refresh.png"));
    if (progress > 0 && progress < 100) {
        m_stopReloadAction->setData(QWebEnginePage::Stop);
        m_stopReloadAction->setIcon(stopIcon);
        m_stopReloadAction->setToolTip(tr("停止加载当前页面"));
    } else {
        m_stopReloadAction->setData(QWebEnginePage::Reload);
        m_stopReloadAction->setIcon(reloadIcon);
        m_stopReloadAction->setToolTip(tr("重新加载当前页面"));
    }
}

void MainWindow::handleWebViewTitleChanged(const QString &strTitle)
{
    if (!strTitle.isEmpty())
        setWindowTitle(strTitle);
}

void MainWindow::handleWebActionEnabledChanged(QWebEnginePage::WebAction action, bool enabled)
{
    if (!m_historyBackAction || !m_stopAction || !m_reloadAction)
        return;
    switch (action) {
    case QWebEnginePage::Back:
        m_historyBackAction->setEnabled(enabled);
        break;
    case QWebEnginePage::Forward:
        m_historyForwardAction->setEnabled(enabled);
        break;
    case QWebEnginePage::Stop:
        m_stopAction->setEnabled(enabled);
        break;
    case QWebEnginePage::Reload:
        m_reloadAction->setEnabled(enabled);
        break;
    default:
        qWarning("Unhandled webActionChanged signal");
    }
}
void MainWindow::handleDevToolsRequested(QWebEnginePage *source)
{
    if (!source || !m_browser)
        return;
    MainWindow *tools = m_browser->createDevToolsWindow();
    if (!tools || !tools->currentView())
        return;
    QWebEnginePage *toolsPage = tools->currentView()->page();
    source->setDevToolsPage(toolsPage);
    toolsPage->load(QUrl(QStringLiteral("http://127.0.0.1:34567")));
    source->triggerAction(QWebEnginePage::InspectElement);
}
void MainWindow::iconActivated(QSystemTrayIcon::ActivationReason reason)
{
    switch (reason) {
    case QSystemTrayIcon::Context:
        updateTrayMenuBarEntry();
        break;
    case QSystemTrayIcon::DoubleClick:
    case QSystemTrayIcon::Trigger:
    case QSystemTrayIcon::MiddleClick:
        if (m_trayMenu)
            m_trayMenu->hideTearOffMenu();
        bringToFront();
        break;
    default:
        break;
    }
}
void MainWindow::handleSystemTraymessageClicked()
{
    if (m_messages)
        m_messages->handleSystemTraymessageClicked();
}
void MainWindow::handleViewUpdateLog()
{
    if (WebView *view = currentView())
        view->setUrl(QUrl(ServiceUrl::updateLogUrl()));
}

void MainWindow::handleCheckVersion()
{
    m_updater->checkVersion(false);
}

void MainWindow::handleEditContextMenuRequested(const QPoint &pos)
{
    Q_UNUSED(pos);
    if (!m_urlLineEdit)
        return;
    // Built for the address field; nothing wires or shows it.
    auto *menu = new QMenu(m_urlLineEdit);
    menu->addAction(tr("撤销(&U)    Ctrl+Z"), m_urlLineEdit, &QLineEdit::undo);
}
void MainWindow::handleWebNoticeMsg(const QString &strMsg)
{
    if (m_messages)
        m_messages->handleWebNoticeMsg(strMsg);
}

void MainWindow::handleSaveLoginInfo(const QString &strUserName, const QString &strPasswd)
{
    if (m_messages)
        m_messages->handleSaveLoginInfo(strUserName, strPasswd);
}

void MainWindow::handleDeleteLoginInfo(const QString &strUserName)
{
    if (m_messages)
        m_messages->handleDeleteLoginInfo(strUserName);
}

void MainWindow::handleClearLoginInfo()
{
    if (m_messages)
        m_messages->handleClearLoginInfo();
}

void MainWindow::handleRequestLoginInfo()
{
    if (m_messages)
        m_messages->handleRequestLoginInfo();
}

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

void MainWindow::handleSetAppilicationIconBadgeNumber(int number)
{
    if (m_browser)
        m_browser->setApplicationIconBadgeNumber(number);
}

void MainWindow::keyPressEvent(QKeyEvent *event)
{
    const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
    const int key = event->key();
    if (key == Qt::Key_Escape && isFullScreen()) {
        leaveFullScreen();
        return;
    }
    if (key == Qt::Key_F && mods == (Qt::ControlModifier | Qt::ShiftModifier)) {
        toggleFullScreen();
        return;
    }
    if (key == Qt::Key_H && mods == Qt::ControlModifier) {
        hide();
        QMainWindow::keyPressEvent(event);
        return;
    }
    if (key == Qt::Key_T && mods == Qt::ControlModifier) {
        if (m_tabWidget) {
            m_tabWidget->openStartTab();
            return;
        }
        QMainWindow::keyPressEvent(event);
        return;
    }
    if (key == Qt::Key_W && mods == Qt::ControlModifier) {
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
        return;
    }
    QWidget::keyPressEvent(event);
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
    if (m_browser) {
        for (MainWindow *window : m_browser->windows()) {
            if (window != this && window->displayMode() == DevTools)
                window->close();
        }
    }
    event->accept();
    QCoreApplication::exit(0);
}
