#include "downloads/downloadmanagerwidget.h"

#include <QWebEngineDownloadItem>

// Placeholder until the download list lands.
DownloadManagerWidget::DownloadManagerWidget(QWidget *parent) : QWidget(parent)
{
    setWindowTitle(tr("下载管理"));
}

void DownloadManagerWidget::downloadRequested(QWebEngineDownloadItem *download)
{
    Q_UNUSED(download);
}
