#include "mainwindow/navigationbar.h"

#include "web/tabwidget.h"
#include "web/webview.h"

#include <QAction>
#include <QLineEdit>
#include <QMenu>

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

NavigationBar::NavigationBar(TabWidget *tabs, QAction *stopAction, QAction *reloadAction,
                             QWidget *window)
    : QToolBar(tr("Navigation"), window), m_tabs(tabs), m_stopAction(stopAction),
      m_reloadAction(reloadAction)
{
    setMovable(false);
    toggleViewAction()->setEnabled(false);
    setIconSize(QSize(20, 20));
    WebView *view = m_tabs->currentWebView();

    const auto historyAction = [this, view](QList<QKeySequence> shortcuts, const char *icon,
                                            const QString &toolTip,
                                            QWebEnginePage::WebAction step) {
        auto *action = new QAction(this);
        action->setShortcuts(shortcuts);
        action->setIconVisibleInMenu(false);
        action->setIcon(QIcon(QLatin1String(icon)));
        action->setText(toolTip); // what a screen reader says for the icon-only button
        action->setToolTip(toolTip);
        if (view)
            action->setEnabled(view->isWebActionEnabled(step));
        connect(action, &QAction::triggered, this,
                [this, step] { emit pageActionRequested(step); });
        addAction(action);
        return action;
    };
    // Backspace bindings would steal the key from text fields in the page.
    m_historyBackAction =
        historyAction(historyShortcuts(QKeySequence::Back, Qt::Key_Back,
                                       [](int first) { return first == Qt::Key_Backspace; }),
                      ":back.png", tr("后退"), QWebEnginePage::Back);
    m_historyForwardAction = historyAction(
        historyShortcuts(QKeySequence::Forward, Qt::Key_Forward,
                         [](int first) { return (first & Qt::Key_unknown) == Qt::Key_Backspace; }),
        ":forward.png", tr("前进"), QWebEnginePage::Forward);

    m_stopReloadAction = new QAction(this);
    m_stopReloadAction->setIconVisibleInMenu(false);
    m_stopReloadAction->setIcon(QIcon(QStringLiteral(":refresh.png")));
    m_stopReloadAction->setText(tr("重新加载页面"));
    m_stopReloadAction->setToolTip(tr("重新加载页面"));
    m_stopReloadAction->setData(QWebEnginePage::Reload);
    connect(m_stopReloadAction, &QAction::triggered, this, [this] {
        emit pageActionRequested(QWebEnginePage::WebAction(m_stopReloadAction->data().toInt()));
    });
    addAction(m_stopReloadAction);

    m_urlLineEdit = new QLineEdit(this);
    m_urlLineEdit->setAccessibleName(tr("地址"));
    auto *favAction = new QAction(this);
    m_urlLineEdit->addAction(favAction, QLineEdit::LeadingPosition);
    QAction *clearAction =
        m_urlLineEdit->addAction(QIcon(QStringLiteral(":stop.png")), QLineEdit::TrailingPosition);
    connect(clearAction, &QAction::triggered, m_urlLineEdit, &QLineEdit::clear);
    addWidget(m_urlLineEdit);

    connect(m_tabs, &TabWidget::webActionEnabledChanged, this,
            &NavigationBar::handleWebActionEnabledChanged);
    connect(m_tabs, &TabWidget::favIconChanged, favAction, &QAction::setIcon);
    connect(m_urlLineEdit, &QLineEdit::returnPressed, this,
            [this] { m_tabs->setUrl(QUrl::fromUserInput(m_urlLineEdit->text())); });
    connect(m_tabs, &TabWidget::urlChanged, this,
            [this](const QUrl &url) { m_urlLineEdit->setText(url.toDisplayString()); });
    // On the window, so the key reaches the field from anywhere in it.
    auto *focusUrlLineEditAction = new QAction(window);
    window->addAction(focusUrlLineEditAction);
    focusUrlLineEditAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
    connect(focusUrlLineEditAction, &QAction::triggered, this,
            [this] { m_urlLineEdit->setFocus(Qt::ShortcutFocusReason); });
    connect(m_tabs, &TabWidget::loadProgress, this, &NavigationBar::handleLoadProgress);
}

void NavigationBar::handleLoadProgress(int progress)
{
    static const QIcon stopIcon(QStringLiteral(":stop.png"));
    static const QIcon reloadIcon(QStringLiteral(":refresh.png"));
    if (progress > 0 && progress < 100) {
        m_stopReloadAction->setData(QWebEnginePage::Stop);
        m_stopReloadAction->setIcon(stopIcon);
        m_stopReloadAction->setText(tr("停止加载当前页面"));
        m_stopReloadAction->setToolTip(tr("停止加载当前页面"));
    } else {
        m_stopReloadAction->setData(QWebEnginePage::Reload);
        m_stopReloadAction->setIcon(reloadIcon);
        m_stopReloadAction->setText(tr("重新加载当前页面"));
        m_stopReloadAction->setToolTip(tr("重新加载当前页面"));
    }
}

void NavigationBar::handleWebActionEnabledChanged(QWebEnginePage::WebAction action, bool enabled)
{
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

void NavigationBar::handleEditContextMenuRequested(const QPoint &pos)
{
    Q_UNUSED(pos);
    // Built for the address field; nothing wires or shows it.
    auto *menu = new QMenu(m_urlLineEdit);
    menu->addAction(tr("撤销(&U)    Ctrl+Z"), m_urlLineEdit, &QLineEdit::undo);
}
