#pragma once

#include "update/progressdialog.h"
#include "update/versionfile.h"

#include <QLoggingCategory>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>

Q_DECLARE_LOGGING_CATEGORY(lcUpdate)

class QFile;
class QJsonObject;
class QNetworkReply;
class QVariant;
class QWidget;

// The version check and installer download of one window. Dialogs are parented to the host's
// widget; everything the update changes outside itself goes through the host's callbacks.
class Updater : public QObject
{
    Q_OBJECT
public:
    struct Host
    {
        QWidget *window = nullptr; // parent of the boxes and the progress dialog, and of this
        std::function<void(const QJsonObject &)> setForceNotice;
        std::function<void(int)> setNoticeStayTime;      // seconds
        std::function<void(int)> setCheckUpdateInterval; // seconds
        std::function<void()> clearBrowsingData;         // cache, cookies, visited links
        std::function<void(const QUrl &)> loadUrl;       // into the current view
        std::function<void(const QString &, const QString &, const QVariant &)>
            saveSettingsValue; // key, group, value
        std::function<void()> quitAfterInstallerStarted;
    };

    explicit Updater(Host host);
    ~Updater() override;

    // Starts a check unless one (or the update it started) is under way.
    void checkVersion(bool silent);
    // Downloads the installer of the given release into the download directory.
    void downloadFile(const QString &url, const QString &version);

    bool checkInProgress() const { return m_checkInProgress; }
    bool silentCheck() const { return m_silentCheck; }
    bool forceUpdate() const { return m_forceUpdate; }
    bool cacheCleared() const { return m_cacheCleared; }
    QUrl downloadUrl() const { return m_downloadUrl; }
    bool downloadAborted() const { return m_downloadAborted; }
    QNetworkReply *downloadReply() const { return m_downloadReply; }
    QString installerPath() const { return m_installerPath; }
    ProgressDialog *progressDialog() const { return m_progressDialog; }

    // How long the notice before replacing an existing installer of a mandatory update stays.
    int overwriteNoticeDelay() const { return m_overwriteNoticeDelayMs; }
    void setOverwriteNoticeDelay(int ms) { m_overwriteNoticeDelayMs = ms; }

    // Starts the installer (directory, file name); InstallerLauncher::launch unless replaced.
    using Launcher = std::function<bool(const QString &, const QString &)>;
    void setInstallerLauncher(Launcher launcher) { m_launcher = std::move(launcher); }
    // Treats every version file as one that came over https (the loopback test service cannot
    // serve https).
    void setAssumeHttpsVersionFile(bool on) { m_assumeHttpsVersionFile = on; }
    // Whether the running update may only download over https.
    bool requireHttps() const { return m_requireHttps; }

public slots:
    void handleNetworkRequestFinished(QNetworkReply *reply);
    void cancelDownload();
    void downloadFinished(const QString &strVersion);
    void downloadReadyRead();
    void startUpdate();

private:
    void startCheck(bool silent);
    void apply(const VersionFile::Decisions &decisions);
    QString insecureText(const QUrl &url) const;
    void startRequest(const QUrl &url, const QString &version);
    std::unique_ptr<QFile> openFileForWrite(const QString &fileName);
    void releaseReply();
    bool downloadIncomplete() const;
    int showBox(QMessageBox::Icon icon, const QString &title, const QString &text,
                QMessageBox::StandardButtons buttons = QMessageBox::Ok,
                QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);

    Host m_host;
    QWidget *m_window;
    bool m_silentCheck = true;
    bool m_checkInProgress = false;
    bool m_forceUpdate = false;
    bool m_cacheCleared = false;

    // Made at the first download: a network manager loads the bearer plugins when it is built.
    std::unique_ptr<QNetworkAccessManager> m_downloadManager;
    QUrl m_downloadUrl;
    bool m_downloadAborted = false;
    QNetworkReply *m_downloadReply = nullptr;
    std::unique_ptr<QFile> m_installerFile;
    QString m_installerPath;
    QPointer<ProgressDialog> m_progressDialog;

    // Whether the reply that finished last delivered the installer itself.
    bool m_downloadCompleted = false;
    // A failed write aborts the download; the reason is reported when it has finished.
    bool m_writeFailed = false;
    QString m_writeError;
    qint64 m_bytesWritten = 0;
    int m_overwriteNoticeDelayMs = 10000;
    bool m_requireHttps = false;
    bool m_assumeHttpsVersionFile = false;
    Launcher m_launcher;
};
