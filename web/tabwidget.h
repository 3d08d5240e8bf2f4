#pragma once

#include <QIcon>
#include <QTabWidget>
#include <QUrl>
#include <QWebEnginePage>

class QMenu;
class QWebEngineProfile;
class WebView;

// Tab container of multi-tab and browser mode. Keeps each tab's text, tooltip, icon and address
// in step with its page and republishes the signals of the current tab only, so the window's
// toolbar and title listen to this widget alone.
class TabWidget : public QTabWidget
{
    Q_OBJECT
public:
    TabWidget(QWebEngineProfile *profile, QWidget *parent = nullptr);
    ~TabWidget() override;

    WebView *currentWebView() const;
    // The view of the tab at index, or none when the index is out of range.
    WebView *webView(int index) const;
    void setStartUrl(const QUrl &url);
    QUrl startUrl() const { return m_startUrl; }
    void openStartTab();

    // The tab bar's context menu for a click at pos (tab bar coordinates); it has no parent and
    // belongs to the caller.
    QMenu *createContextMenu(const QPoint &pos);

signals:
    void linkHovered(const QString &strLink);
    void loadProgress(int progress);
    void titleChanged(const QString &strTitle);
    void urlChanged(const QUrl &url);
    void favIconChanged(const QIcon &icon);
    void webActionEnabledChanged(QWebEnginePage::WebAction action, bool enabled);
    void devToolsRequested(QWebEnginePage *source);

public slots:
    void setUrl(const QUrl &url);
    void triggerPageAction(QWebEnginePage::WebAction action);
    WebView *createTab();
    WebView *createBackgroundTab();
    // Never closes the last tab.
    void closeTab(int index);
    void nextTab();
    void previousTab();

private slots:
    void handleCurrentChanged(int index);
    void handleContextMenuRequested(const QPoint &pos);
    void cloneTab(int index);
    void closeOtherTabs(int index);
    void reloadAllTabs();
    void reloadTab(int index);

private:
    WebView *newTab(bool makeCurrent);
    void wireView(WebView *view);

    QWebEngineProfile *m_profile;
    QUrl m_startUrl;
};
