#include "mainwindow/traycontroller.h"

#include <QAction>
#include <QApplication>
#include <QDesktopWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPixmapCache>

TrayController::TrayController(QWidget *window, QMenuBar *menuBar)
    : QObject(window), m_window(window), m_menuBar(menuBar)
{
    m_menu = new QMenu(QApplication::desktop());
    m_menuBarAction = new QAction(tr("隐藏菜单栏"), this);
    connect(m_menuBarAction, &QAction::triggered, this, [this] {
        if (m_menuBar->isHidden())
            m_menuBar->show();
        else
            m_menuBar->hide();
        m_window->activateWindow();
        m_window->setFocus(Qt::OtherFocusReason);
    });
    m_menu->addAction(m_menuBarAction);
    // Tray hosts that show the menu themselves never send a context click.
    connect(m_menu, &QMenu::aboutToShow, this, &TrayController::updateMenuBarEntry);
    m_menu->addAction(tr("转到最新通知"), this, &TrayController::newestNoticeRequested);
    m_menu->addAction(tr("设置"), this, &TrayController::settingsRequested);
    m_menu->addAction(tr("更新日志"), this, &TrayController::updateLogRequested);
    m_menu->addAction(tr("检查版本"), this, &TrayController::checkVersionRequested);
    auto *quit = new QAction(tr("退出"), this);
    connect(quit, &QAction::triggered, this, &TrayController::quitRequested);
    m_menu->addAction(quit);

    m_icon = new QSystemTrayIcon(this);
    m_icon->setIcon(applicationIcon());
    m_icon->setToolTip(tr("青隼"));
    m_icon->setContextMenu(m_menu);
    // Not shown yet: see showIcon.
    connect(m_icon, &QSystemTrayIcon::activated, this, &TrayController::iconActivated);
    connect(m_icon, &QSystemTrayIcon::messageClicked, this, &TrayController::messageClicked);
}

TrayController::~TrayController()
{
    delete m_icon;
    m_icon = nullptr;
    delete m_menu;
}

void TrayController::showIcon()
{
    if (!m_icon->isVisible())
        m_icon->setVisible(true);
}

void TrayController::iconActivated(QSystemTrayIcon::ActivationReason reason)
{
    switch (reason) {
    case QSystemTrayIcon::Context:
        updateMenuBarEntry();
        break;
    case QSystemTrayIcon::DoubleClick:
    case QSystemTrayIcon::Trigger:
    case QSystemTrayIcon::MiddleClick:
        m_menu->hideTearOffMenu();
        emit raiseRequested();
        break;
    default:
        break;
    }
}

void TrayController::updateMenuBarEntry()
{
    m_menuBarAction->setText(m_menuBar->isHidden() ? tr("显示菜单栏") : tr("隐藏菜单栏"));
}

void TrayController::showMessage(const QString &title, const QString &text, int msecs)
{
    showIcon(); // a balloon needs its icon on the tray
    // Where Qt draws the balloon itself (X11 without a notification service), every balloon
    // caches its own style pixmaps under keys that never match again (its own palette), some
    // 2.6 KB each; drop them with the previous balloon before they pile up.
    QPixmapCache::clear();
    m_icon->showMessage(title, text, applicationIcon(), msecs);
    emit messageShown(title, text, msecs);
}

void TrayController::showUnreadCount(int count)
{
    const QString label = badgeLabel(count);
    m_icon->setIcon(label.isEmpty() ? applicationIcon() : badgedIcon(label));
}

QIcon TrayController::applicationIcon()
{
    // Decoding the seven sizes of the icon file takes a few milliseconds; main has done it once.
    const QIcon icon = QGuiApplication::windowIcon();
    return icon.isNull() ? QIcon(QStringLiteral(":AppIcon.ico")) : icon;
}

QString TrayController::badgeLabel(int count)
{
    if (count < 1)
        return QString();
    if (count > 99)
        return QStringLiteral("...");
    return QString::number(count);
}

QIcon TrayController::badgedIcon(const QString &label)
{
    QPixmap pixmap = applicationIcon().pixmap(64, 64);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF badge(pixmap.width() * 0.42, 0, pixmap.width() * 0.58, pixmap.height() * 0.58);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0xe5, 0x39, 0x35));
    painter.drawEllipse(badge);
    QFont font = painter.font();
    font.setBold(true);
    font.setPixelSize(label.size() > 1 ? 20 : 26);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(badge, Qt::AlignCenter, label);
    painter.end();
    return QIcon(pixmap);
}
