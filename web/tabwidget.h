#pragma once

#include <QIcon>
#include <QTabWidget>
#include <QUrl>
#include <QWebEnginePage>

class QWebEngineProfile;
class WebView;

// Tab container of multi-tab and browser mode; republishes the current tab's signals.
class TabWidget : public QTabWidget
{
    Q_OBJECT
public:
    TabWidget(QWebEngineProfile *profile, QWidget *parent = nullptr);

    WebView *currentWebView() const;
    WebView *webView(int index) const;
    void setStartUrl(const QUrl &url);
    QUrl startUrl() const { return m_startUrl; }
    void openStartTab();

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
    WebView *createTab();

private:
    QWebEngineProfile *m_profile;
    QUrl m_startUrl;
};
