#pragma once

#include <QWidget>

struct AppSettings;
class QWebEngineDownloadItem;

// The window listing what pages download.
class DownloadManagerWidget : public QWidget
{
    Q_OBJECT
public:
    explicit DownloadManagerWidget(QWidget *parent = nullptr);

    void setAppSettings(AppSettings *settings) { m_settings = settings; }
    AppSettings *appSettings() const { return m_settings; }

public slots:
    void downloadRequested(QWebEngineDownloadItem *download);

private:
    AppSettings *m_settings = nullptr;
};
