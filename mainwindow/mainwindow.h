#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QUrl>
#include <QWebEngineFullScreenRequest>
#include <QWebEnginePage>

#include "bridge/webmessagehandler.h"
#include "mainwindow/fullscreencontroller.h"
#include "mainwindow/navigationbar.h"
#include "mainwindow/pagecommands.h"
#include "mainwindow/traycontroller.h"
#include "mainwindow/windowhost.h"
#include "mainwindow/windowmenus.h"
#include "settings/syssettingwindow.h"
#include "update/updater.h"
#include "web/webviewhost.h"

class JsChannel;
class QAction;
class QLineEdit;
class QMediaPlayer;
class QMenu;
class QNetworkReply;
class QStatusBar;
class QVBoxLayout;
class QWebChannel;
class QWebEngineProfile;

class TabWidget;
class WebView;

// The top-level window hosting the web application in one of four fixed display modes.
class MainWindow : public QMainWindow, public WebViewHost
{
    Q_OBJECT
public:
    enum DisplayMode { SingleView = 0, MultiTab = 1, BrowserMode = 2, DevTools = 3 };

    MainWindow(WindowHost *app, QWebEngineProfile *profile, int mode);
    ~MainWindow() override;

    QSize sizeHint() const override;

    int displayMode() const { return m_displayMode; }
    TabWidget *tabWidget() const { return m_tabWidget; }
    WebView *webView() const { return m_webView; }
    // The tab widget's current view when there is one, else the single view.
    WebView *currentView() const override;
    // The bridge and its handling; none in a developer-tools window.
    WebMessageHandler *messages() const { return m_messages; }
    JsChannel *jsChannel() const { return m_messages ? m_messages->channel() : nullptr; }
    QWebChannel *webChannel() const { return m_messages ? m_messages->webChannel() : nullptr; }
    // None while the desktop has no tray host (made when one comes up), and in a developer-tools
    // window.
    TrayController *tray() const { return m_tray; }
    QSystemTrayIcon *trayIcon() const { return m_tray ? m_tray->icon() : nullptr; }
    QMenu *trayMenu() const { return m_tray ? m_tray->menu() : nullptr; }
    // The toolbar's parts; none outside browser mode.
    QLineEdit *addressField() const
    {
        return m_navigationBar ? m_navigationBar->addressField() : nullptr;
    }
    QAction *stopReloadAction() const
    {
        return m_navigationBar ? m_navigationBar->stopReloadAction() : nullptr;
    }
    QAction *historyBackAction() const
    {
        return m_navigationBar ? m_navigationBar->historyBackAction() : nullptr;
    }
    QAction *historyForwardAction() const
    {
        return m_navigationBar ? m_navigationBar->historyForwardAction() : nullptr;
    }
    QAction *stopAction() const { return m_menus->stopAction(); }
    QAction *reloadAction() const { return m_menus->reloadAction(); }
    QString lastSearch() const { return m_commands->lastSearch(); }
    SysSettingWindow *settingsWindow() const { return m_settingsWindow; }
    bool quitRequested() const { return m_quitRequested; }
    void setQuitRequested(bool requested) { m_quitRequested = requested; }
    QString lastNoticeMessage() const
    {
        return m_messages ? m_messages->lastNoticeMessage() : QString();
    }
    int noticeStayTime() const { return m_messages ? m_messages->noticeStayTime() : 3; }
    QMediaPlayer *noticePlayer() const { return m_messages ? m_messages->noticePlayer() : nullptr; }
    void setNoticeStayTime(int seconds)
    {
        if (m_messages)
            m_messages->setNoticeStayTime(seconds);
    }
    Updater *updater() const { return m_app ? m_app->updater() : nullptr; }

    void loadUrl(const QUrl &url);
    void initNoticeSound()
    {
        if (m_messages)
            m_messages->initNoticeSound();
    }

    // Menu bar (none of these touch the stored isShowMenuBar).
    bool isMenuBarHidden() const override;
    void showMenuBar() override;
    void hideMenuBar() override;
    void toggleFullScreen() { m_fullScreen->toggle(); }

    // Life cycle and tray.
    void bringToFront();
    void openSettingsDialog() override;
    void forgetSettingsWindow();
    void showHotkeyFailedMessage();
    // Every tray balloon goes through here; nothing is shown without a tray.
    void showTrayMessage(const QString &title, const QString &text, int msecs)
    {
        if (m_tray)
            m_tray->showMessage(title, text, msecs);
    }
    int noticeSoundsPlayed() const { return m_messages ? m_messages->noticeSoundsPlayed() : 0; }

    // Page state and saved logins.
    void refreshPageState() override
    {
        if (m_messages)
            m_messages->refreshPageState();
    }
    void sendLoginInfoToPage()
    {
        if (m_messages)
            m_messages->sendLoginInfoToPage();
    }

    // New views asked for by pages.
    bool hasTabs() const override { return m_tabWidget != nullptr; }
    WebView *openTab(bool background) override;
    WebView *openWindow() override;
    WebView *openPopup(QWebEngineProfile *profile) override;

    // Version check and update: the client's one update flow; its boxes come up over this
    // window while it exists.
    void checkVersion(bool silent)
    {
        if (Updater *u = updater())
            u->checkVersion(silent, this);
    }
    bool clearBrowsingData(bool cacheAndCookies, bool visitedLinks, bool cacheDirectory);
    void downloadFile(const QString &url, const QString &version)
    {
        if (Updater *u = updater())
            u->downloadFile(url, version);
    }

public slots:
    // Most of these hand the call on to the part that does the work: the bridge handler (none
    // in a developer-tools window), the updater, the toolbar, the tray.
    void closeTab(int index);
    void handleNewWindowTriggered();
    void handleNewIncognitoWindowTriggered();
    void handleFileOpenTriggered() { m_commands->openFile(); }
    void handleFindActionTriggered() { m_commands->find(); }
    void handleShowWindowTriggered();
    void fullScreenRequested(QWebEngineFullScreenRequest request);
    void handleWebViewLoadProgress(int progress)
    {
        if (m_navigationBar)
            m_navigationBar->handleLoadProgress(progress);
    }
    void handleWebViewTitleChanged(const QString &strTitle);
    void handleWebActionEnabledChanged(QWebEnginePage::WebAction action, bool enabled)
    {
        if (m_navigationBar)
            m_navigationBar->handleWebActionEnabledChanged(action, enabled);
    }
    void handleDevToolsRequested(QWebEnginePage *source);
    void iconActivated(QSystemTrayIcon::ActivationReason reason)
    {
        if (m_tray)
            m_tray->iconActivated(reason);
    }
    void handleSystemTraymessageClicked()
    {
        if (m_messages)
            m_messages->handleSystemTraymessageClicked();
    }
    void handleViewUpdateLog() { m_commands->viewUpdateLog(); }
    void handleCheckVersion() { checkVersion(false); }
    void handleEditContextMenuRequested(const QPoint &pos)
    {
        if (m_navigationBar)
            m_navigationBar->handleEditContextMenuRequested(pos);
    }
    void handleWebNoticeMsg(const QString &strMsg)
    {
        if (m_messages)
            m_messages->handleWebNoticeMsg(strMsg);
    }
    void handleSaveLoginInfo(const QString &strUserName, const QString &strPasswd)
    {
        if (m_messages)
            m_messages->handleSaveLoginInfo(strUserName, strPasswd);
    }
    void handleDeleteLoginInfo(const QString &strUserName)
    {
        if (m_messages)
            m_messages->handleDeleteLoginInfo(strUserName);
    }
    void handleClearLoginInfo()
    {
        if (m_messages)
            m_messages->handleClearLoginInfo();
    }
    void handleNetworkRequestFinished(QNetworkReply *reply)
    {
        if (Updater *u = updater())
            u->handleNetworkRequestFinished(reply);
    }
    void cancelDownload()
    {
        if (Updater *u = updater())
            u->cancelDownload();
    }
    void downloadFinished(const QString &strVersion)
    {
        if (Updater *u = updater())
            u->downloadFinished(strVersion);
    }
    void downloadReadyRead()
    {
        if (Updater *u = updater())
            u->downloadReadyRead();
    }
    void startUpdate()
    {
        if (Updater *u = updater())
            u->startUpdate();
    }
    void handleSetAppilicationIconBadgeNumber(int number)
    {
        if (m_app)
            m_app->setApplicationIconBadgeNumber(number);
    }
    void handleRequestLoginInfo()
    {
        if (m_messages)
            m_messages->handleRequestLoginInfo();
    }

signals:
    void trayMessageShown(const QString &title, const QString &text, int msecs);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void createMenus();
    void createNavigationBar();
    void createTray();
    void closeCurrentTab();
    bool askLastTabQuestion();

    // The application that made the window; it outlives the window.
    WindowHost *m_app;
    QWebEngineProfile *m_profile;
    QVBoxLayout *m_layout = nullptr;
    TabWidget *m_tabWidget = nullptr;
    WebView *m_webView = nullptr;
    WindowMenus *m_menus = nullptr;
    NavigationBar *m_navigationBar = nullptr;
    TrayController *m_tray = nullptr;
    PageCommands *m_commands = nullptr;
    FullScreenController *m_fullScreen = nullptr;
    int m_displayMode;
    QPointer<SysSettingWindow> m_settingsWindow;
    bool m_quitRequested = false;
    WebMessageHandler *m_messages = nullptr;
};

// The first main window, set once at start-up.
extern MainWindow *mainWindow;
