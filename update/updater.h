#pragma once

#include <QObject>
#include <QString>

class MainWindow;
class QNetworkReply;

// The main window's version check and installer download.
class Updater : public QObject
{
    Q_OBJECT
public:
    explicit Updater(MainWindow *window);

    // Starts a check unless one (or the update it started) is under way.
    void checkVersion(bool silent);
    bool checkInProgress() const { return m_checkInProgress; }
    bool silentCheck() const { return m_silentCheck; }
    bool forceUpdate() const { return m_forceUpdate; }
    void downloadFile(const QString &url, const QString &version);

public slots:
    void handleNetworkRequestFinished(QNetworkReply *reply);
    void cancelDownload();
    void downloadFinished(const QString &strVersion);
    void downloadReadyRead();
    void startUpdate();

private:
    MainWindow *m_window;
    bool m_silentCheck = true;
    bool m_checkInProgress = false;
    bool m_forceUpdate = false;
};
