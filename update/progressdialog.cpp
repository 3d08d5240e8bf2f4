#include "update/progressdialog.h"

#include <QCloseEvent>

ProgressDialog::ProgressDialog(const QUrl &url, QWidget *parent) : QProgressDialog(parent)
{
    setWindowTitle(tr("下载进度"));
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    setLabelText(tr("下载 %1.").arg(url.toDisplayString()));
    setMinimum(0);
    setValue(0);
    setMinimumDuration(0);
    setMinimumSize(QSize(400, 75));
}

QSize ProgressDialog::sizeHint() const
{
    return QSize(450, 200);
}

void ProgressDialog::networkReplyProgress(qlonglong bytesRead, qlonglong totalBytes)
{
    setMaximum(int(totalBytes));
    setValue(int(bytesRead));
}

void ProgressDialog::closeEvent(QCloseEvent *event)
{
    if (!canClose) {
        event->ignore();
        return;
    }
    // The base class reports the close as a cancel before closing.
    QProgressDialog::closeEvent(event);
}

void ProgressDialog::reject()
{
    if (!canClose)
        return;
    QProgressDialog::reject();
}
