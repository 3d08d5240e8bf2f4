#pragma once

#include <QToolBar>
#include <QWebEnginePage>

class QAction;
class QLineEdit;
class TabWidget;

// The navigation toolbar of browser mode: back, forward, stop-or-reload and the address field,
// kept in step with the current tab. Page actions are asked of the window by a signal.
class NavigationBar : public QToolBar
{
    Q_OBJECT
public:
    // stopAction and reloadAction are the View menu's entries; they follow the page here too.
    NavigationBar(TabWidget *tabs, QAction *stopAction, QAction *reloadAction, QWidget *window);

    QAction *historyBackAction() const { return m_historyBackAction; }
    QAction *historyForwardAction() const { return m_historyForwardAction; }
    QAction *stopReloadAction() const { return m_stopReloadAction; }
    QLineEdit *addressField() const { return m_urlLineEdit; }

public slots:
    void handleLoadProgress(int progress);
    void handleWebActionEnabledChanged(QWebEnginePage::WebAction action, bool enabled);
    void handleEditContextMenuRequested(const QPoint &pos);

signals:
    void pageActionRequested(QWebEnginePage::WebAction action);

private:
    TabWidget *m_tabs;
    QAction *m_stopAction;
    QAction *m_reloadAction;
    QAction *m_historyBackAction = nullptr;
    QAction *m_historyForwardAction = nullptr;
    QAction *m_stopReloadAction = nullptr;
    QLineEdit *m_urlLineEdit = nullptr;
};
