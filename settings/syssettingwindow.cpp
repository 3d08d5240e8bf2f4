#include "settings/syssettingwindow.h"

#include "mainwindow/mainwindow.h"

#include <QCloseEvent>

SysSettingWindow::SysSettingWindow(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("SysSettingWindow"));
    setWindowTitle(tr("系统设置"));
    setAttribute(Qt::WA_DeleteOnClose, true);
}

void SysSettingWindow::closeEvent(QCloseEvent *event)
{
    if (auto *window = qobject_cast<MainWindow *>(parentWidget()))
        window->forgetSettingsWindow();
    event->accept();
}
