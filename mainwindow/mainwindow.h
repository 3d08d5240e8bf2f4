#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QUrl>
#include <QWebEngineFullScreenRequest>
#include <QWebEnginePage>

#include "settings/syssettingwindow.h"
#include "web/webviewhost.h"

class Browser;
class JsChannel;
class QMediaPlayer;
class WebMessageHandler;
class QAction;
class QLineEdit;
class QMenu;
class QNetworkReply;
class QStatusBar;
class QToolBar;
class QVBoxLayout;
class QWebChannel;
class QWebEngineProfile;

class TabWidget;
class Updater;
class WebView;

// The top-level window hosting the web application in one of four fixed display modes.
class MainWindow : public QMainWindow, public WebViewHost
{
    Q_OBJECT
public:
    enum DisplayMode { SingleView = 0, MultiTab = 1, BrowserMode = 2, DevTools = 3 };

    MainWindow(Browser *browser, QWebEngineProfile *profile, int mode);
    ~MainWindow() override;

    QSize sizeHint() const override;

    int displayMode() const { return m_displayMode; }
    Browser *browser() const { return m_browser; }
    TabWidget *tabWidget() const { return m_tabWidget; }
    WebView *webView() const { return m_webView; }
    // The tab widget's current view when there is one, else the single view.
    WebView *currentView() const override;
    // The bridge and its handling; none in a developer-tools window.
    WebMessageHandler *messages() const { return m_messages; }
    JsChannel *jsChannel() const;
    QWebChannel *webChannel() const;
    QSystemTrayIcon *trayIcon() const { return m_trayIcon; }
    QMenu *trayMenu() const { return m_trayMenu; }
    QLineEdit *addressField() const { return m_urlLineEdit; }
    QAction *stopReloadAction() const { return m_stopReloadAction; }
    QAction *historyBackAction() const { return m_historyBackAction; }
    QAction *historyForwardAction() const { return m_historyForwardAction; }
    QAction *stopAction() const { return m_stopAction; }
    QAction *reloadAction() const { return m_reloadAction; }
    QString lastSearch() const { return m_lastSearch; }
    SysSettingWindow *settingsWindow() const { return m_settingsWindow; }
    bool quitRequested() const { return m_quitRequested; }
    void setQuitRequested(bool requested) { m_quitRequested = requested; }
    QString lastNoticeMessage() const;
    int noticeStayTime() const;
    QMediaPlayer *noticePlayer() const;
    void setNoticeStayTime(int seconds);
    Updater *updater() const { return m_updater; }

    void loadUrl(const QUrl &url);
    void initNoticeSound();

    // Menu bar (none of these touch the stored isShowMenuBar).
    bool isMenuBarHidden() const override;
    void showMenuBar() override;
    void hideMenuBar() override;
    void toggleFullScreen();
    void reportFindResult(const QString &search, bool found);
    static void showFindResult(QStatusBar *bar, const QString &search, bool found);

    // Life cycle and tray.
    void bringToFront();
    void openSettingsDialog() override;
    void forgetSettingsWindow();
    void showHotkeyFailedMessage();
    // Every tray balloon goes through here; nothing is shown without a tray.
    void showTrayMessage(const QString &title, const QString &text, int msecs);
    int noticeSoundsPlayed() const;

    // Page state and saved logins.
    void refreshPageState() override;
    void sendLoginInfoToPage();

    // New views asked for by pages.
    bool hasTabs() const override { return m_tabWidget != nullptr; }
    WebView *openTab(bool background) override;
    WebView *openWindow() override;
    WebView *openPopup(QWebEngineProfile *profile) override;

    // Version check and update.
    void checkVersion(bool silent);
    bool clearBrowsingData(bool cacheAndCookies, bool visitedLinks, bool cacheDirectory);
    void downloadFile(const QString &url, const QString &version);

public slots:
    void closeTab(int index);
    void handleNewWindowTriggered();
    void handleNewIncognitoWindowTriggered();
    void handleFileOpenTriggered();
    void handleFindActionTriggered();
    void handleShowWindowTriggered();
    void fullScreenRequested(QWebEngineFullScreenRequest request);
    void handleWebViewLoadProgress(int progress);
    void handleWebViewTitleChanged(const QString &strTitle);
    void handleWebActionEnabledChanged(QWebEnginePage::WebAction action, bool enabled);
    void handleDevToolsRequested(QWebEnginePage *source);
    void iconActivated(QSystemTrayIcon::ActivationReason reason);
    void handleSystemTraymessageClicked();
    void handleViewUpdateLog();
    void handleCheckVersion();
    void handleEditContextMenuRequested(const QPoint &pos);
    void handleWebNoticeMsg(const QString &strMsg);
    void handleSaveLoginInfo(const QString &strUserName, const QString &strPasswd);
    void handleDeleteLoginInfo(const QString &strUserName);
    void handleClearLoginInfo();
    void handleNetworkRequestFinished(QNetworkReply *reply);
    void cancelDownload();
    void downloadFinished(const QString &strVersion);
    void downloadReadyRead();
    void startUpdate();
    void handleSetAppilicationIconBadgeNumber(int number);
    void handleRequestLoginInfo();

signals:
    void trayMessageShown(const QString &title, const QString &text, int msecs);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    QMenu *createFileMenu();
    QMenu *createEditMenu();
    QMenu *createViewMenu();
    QMenu *createHelpMenu();
    QToolBar *createToolBar();
    void initTrayIcon();
    void updateTrayMenuBarEntry();
    void triggerCurrentPageAction(QWebEnginePage::WebAction action);
    bool askLastTabQuestion();
    void enterFullScreen();
    void leaveFullScreen();
    void zoomIn();
    void zoomOut();
    void resetZoom();

    Browser *m_browser;
    QWebEngineProfile *m_profile;
    QVBoxLayout *m_layout = nullptr;
    TabWidget *m_tabWidget = nullptr;
    WebView *m_webView = nullptr;
    QAction *m_historyBackAction = nullptr;
    QAction *m_historyForwardAction = nullptr;
    QAction *m_stopAction = nullptr;
    QAction *m_reloadAction = nullptr;
    QAction *m_stopReloadAction = nullptr;
    QLineEdit *m_urlLineEdit = nullptr;
    QAction *m_favAction = nullptr;
    QString m_lastSearch;
    QMenu *m_trayMenu = nullptr;
    QAction *m_trayQuitAction = nullptr;
    QAction *m_trayMenuBarAction = nullptr;
    QSystemTrayIcon *m_trayIcon = nullptr;
    int m_displayMode;
    QPointer<SysSettingWindow> m_settingsWindow;
    // The page whose own full-screen request the window is following.
    QPointer<QWebEnginePage> m_fullScreenPage;
    bool m_quitRequested = false;
    WebMessageHandler *m_messages = nullptr;
    // Version check and installer download state.
    Updater *m_updater = nullptr;
};

// The first main window, set once at start-up.
extern MainWindow *mainWindow;
