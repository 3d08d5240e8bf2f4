#pragma once

#include "web/crashreloadbudget.h"

#include <QIcon>
#include <QPointer>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <optional>

class WebViewHost;
class QMenu;
class WebPage;

// Shows one web page; tracks the load state for the tab icon, routes the page's new-window
// requests by the main window's display mode and offers a small context menu of its own.
// When the render process ends while the window is hidden (in the tray), the view reloads by
// itself instead of asking, within a budget; past it, it asks once the window is next shown.
class WebView : public QWebEngineView
{
    Q_OBJECT
public:
    explicit WebView(QWidget *parent = nullptr);

    // Relays the page's history and reload/stop actions as webActionEnabledChanged, then
    // installs the page.
    void setPage(WebPage *page);

    // 0 when a load starts, the engine's percentage while loading, 100 after a successful load
    // and -1 after a failed one. A view that never loaded counts as loaded.
    int loadProgress() const { return m_progress; }
    bool isWebActionEnabled(QWebEnginePage::WebAction webAction) const;
    // The page's own icon when it has one, else a state icon chosen by the load progress.
    QIcon favIcon() const;

    // The zoom applied after a successful load on a screen with the given device pixel ratio;
    // at ratios up to 1.0 the current zoom stays.
    static qreal autoZoomFactor(qreal devicePixelRatio, qreal currentZoom);

    // The view's own context menu (parent: the view); the caller pops it up or deletes it.
    QMenu *createContextMenu();

    // How long to wait before an automatic reload after the render process ended.
    static constexpr int autoReloadDelayMs = 1000;
    bool isAutoReloadScheduled() const { return m_autoReload.isActive(); }
    // The render process ended while hidden, past the budget: the question waits for the window.
    bool isWaitingForWindow() const { return m_pendingTermination.has_value(); }

public slots:
    // Visible window: asks whether to reload, reloads on "是" only. Hidden window: reloads by
    // itself after autoReloadDelayMs while the budget lasts, else waits to ask when shown.
    void handleRenderProcessTerminated(QWebEnginePage::RenderProcessTerminationStatus status,
                                       int exitCode);

signals:
    void webActionEnabledChanged(QWebEnginePage::WebAction webAction, bool enabled);
    void favIconChanged(const QIcon &icon);
    void devToolsRequested(QWebEnginePage *source);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    QWebEngineView *createWindow(QWebEnginePage::WebWindowType type) override;

private:
    WebViewHost *host() const;
    void handleLoadStarted();
    void handleLoadProgress(int progress);
    void handleLoadFinished(bool ok);
    void handleIconChanged();
    void handleUrlChanged();
    void askToReload(QWebEnginePage::RenderProcessTerminationStatus status, int exitCode);
    void askPendingTermination();

    int m_progress = 100;
    CrashReloadBudget m_reloadBudget;
    QTimer m_autoReload;
    struct Termination
    {
        QWebEnginePage::RenderProcessTerminationStatus status;
        int exitCode;
    };
    std::optional<Termination> m_pendingTermination;
    QPointer<QWidget> m_watchedWindow; // the hidden window whose showing brings the question
};
