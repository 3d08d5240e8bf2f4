#pragma once

#include <QDialog>

// The system settings dialog; deletes itself when closed.
class SysSettingWindow : public QDialog
{
    Q_OBJECT
public:
    explicit SysSettingWindow(QWidget *parent = nullptr);

protected:
    void closeEvent(QCloseEvent *event) override;
};
