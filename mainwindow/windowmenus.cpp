#include "mainwindow/windowmenus.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>

namespace {
const char menuStyle[] =
    "QMenu {background-color: white;border: 1px solid white;}QMenu::item {background-color: "
    "transparent;padding:4px 24px;margin:0px 4px;}QMenu::item:selected {background-color: "
    "#2dabf9;}";
} // namespace

WindowMenus::WindowMenus(QWidget *window, QMenuBar *menuBar) : QObject(window), m_window(window)
{
    menuBar->addMenu(createFileMenu());
    menuBar->addMenu(createEditMenu());
    menuBar->addMenu(createViewMenu());
    menuBar->addMenu(createHelpMenu());

    // The keyboard's way to the newest popup: on the window itself, not in a menu, so it works
    // with the menu bar hidden. (Per window: an application-wide key would be ambiguous, and
    // dead, as soon as a second main window exists.)
    auto *notice = new QAction(tr("转到最新通知"), window);
    notice->setShortcut(QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_N));
    connect(notice, &QAction::triggered, this, &WindowMenus::newestNoticeRequested);
    window->addAction(notice);
}

QMenu *WindowMenus::createFileMenu()
{
    auto *menu = new QMenu(tr("文件"), m_window);
    menu->setStyleSheet(QLatin1String(menuStyle));
    QAction *settings = menu->addAction(tr("设置"), this, &WindowMenus::settingsRequested);
    settings->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    QAction *quit = menu->addAction(tr("退出"), this, &WindowMenus::closeRequested);
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    return menu;
}

QMenu *WindowMenus::createEditMenu()
{
    auto *menu = new QMenu(tr("修改"), m_window);
    menu->setStyleSheet(QLatin1String(menuStyle));
    const auto add = [this, menu](const QString &text, QWebEnginePage::WebAction action) {
        menu->addAction(text, this, [this, action] { emit pageActionRequested(action); });
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

QMenu *WindowMenus::createViewMenu()
{
    auto *menu = new QMenu(tr("视图"), m_window);
    menu->setStyleSheet(QLatin1String(menuStyle));
    m_stopAction = menu->addAction(tr("停止"), this,
                                   [this] { emit pageActionRequested(QWebEnginePage::Stop); });
    m_stopAction->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_Period), Qt::Key_Escape});
    m_reloadAction = menu->addAction(tr("重新加载  "), this,
                                     [this] { emit pageActionRequested(QWebEnginePage::Reload); });
    m_reloadAction->setShortcuts(QKeySequence::Refresh);
    menu->addSeparator();
    QAction *zoomIn = menu->addAction(tr("放大"), this, &WindowMenus::zoomInRequested);
    zoomIn->setShortcuts(
        {QKeySequence(Qt::CTRL | Qt::Key_Plus), QKeySequence(Qt::CTRL | Qt::Key_Equal)});
    QAction *zoomOut = menu->addAction(tr("缩小"), this, &WindowMenus::zoomOutRequested);
    zoomOut->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Minus));
    QAction *resetZoom = menu->addAction(tr("重置"), this, &WindowMenus::zoomResetRequested);
    resetZoom->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_0));
    menu->addSeparator();
    QAction *fullScreen =
        menu->addAction(tr("切换全屏  "), this, &WindowMenus::fullScreenToggleRequested);
    fullScreen->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F));
    return menu;
}

QMenu *WindowMenus::createHelpMenu()
{
    auto *menu = new QMenu(tr("帮助"), m_window);
    menu->setStyleSheet(QLatin1String(menuStyle));
    menu->addAction(tr("隐藏菜单栏"), this, &WindowMenus::hideMenuBarRequested);
    QAction *networkTest = menu->addAction(tr("网络测试"));
    networkTest->setEnabled(false);
    menu->addAction(tr("更新日志"), this, &WindowMenus::updateLogRequested);
    menu->addAction(tr("检查版本"), this, &WindowMenus::checkVersionRequested);
    menu->addAction(tr("调试工具"), this, &WindowMenus::devToolsRequested);
    return menu;
}
