#pragma once

#include <QIcon>
#include <QWebEnginePage>
#include <QWebEngineView>

class WebPage;

// Shows one web page; tracks the load state for the tab icon and routes new-window requests.
class WebView : public QWebEngineView
{
    Q_OBJECT
public:
    explicit WebView(QWidget *parent = nullptr);

    void setPage(WebPage *page);
    int loadProgress() const { return m_progress; }
    bool isWebActionEnabled(QWebEnginePage::WebAction webAction) const;
    QIcon favIcon() const;

signals:
    void webActionEnabledChanged(QWebEnginePage::WebAction webAction, bool enabled);
    void favIconChanged(const QIcon &icon);
    void devToolsRequested(QWebEnginePage *source);

protected:
    QWebEngineView *createWindow(QWebEnginePage::WebWindowType type) override;

private:
    int m_progress = 100;
};
