#pragma once

#include <QIcon>
#include <QWebEnginePage>
#include <QWebEngineView>

class WebViewHost;
class QMenu;
class WebPage;

// Shows one web page; tracks the load state for the tab icon, routes the page's new-window
// requests by the main window's display mode and offers a small context menu of its own.
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

public slots:
    // Asks whether to reload after the render process ended; reloads on "是" only.
    void handleRenderProcessTerminated(QWebEnginePage::RenderProcessTerminationStatus status,
                                       int exitCode);

signals:
    void webActionEnabledChanged(QWebEnginePage::WebAction webAction, bool enabled);
    void favIconChanged(const QIcon &icon);
    void devToolsRequested(QWebEnginePage *source);

protected:
    void contextMenuEvent(QContextMenuEvent *event) override;
    QWebEngineView *createWindow(QWebEnginePage::WebWindowType type) override;

private:
    WebViewHost *host() const;
    void handleLoadStarted();
    void handleLoadProgress(int progress);
    void handleLoadFinished(bool ok);
    void handleIconChanged();
    void handleUrlChanged();

    int m_progress = 100;
};
