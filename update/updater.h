#pragma once

#include "update/installerdownload.h"
#include "update/progressdialog.h"
#include "update/versionfile.h"
#include "update/versionrules.h"

#include <QLoggingCategory>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <functional>

Q_DECLARE_LOGGING_CATEGORY(lcUpdate)

class QJsonObject;
class QNetworkReply;
class QVariant;
class QWidget;

// The client's one update flow: the version check, wherever it was asked for, and the download
// and start of the installer. One guard and one installer file for the whole client; everything
// the update changes outside itself goes through the host's callbacks.
class Updater : public QObject
{
    Q_OBJECT
public:
    struct Host
    {
        // Parent of the progress dialog, and of the boxes when the window that asked is gone.
        std::function<QWidget *()> window;
        std::function<void(const QJsonObject &)> setForceNotice;
        std::function<void(int)> setNoticeStayTime;      // seconds
        std::function<void(int)> setCheckUpdateInterval; // seconds
        std::function<void()> clearBrowsingData;         // cache, cookies, visited links
        std::function<void(const QUrl &)> loadUrl;       // into the main window's current view
        std::function<void(const QString &, const QString &, const QVariant &)>
            saveSettingsValue; // key, group, value
        // Ends the whole client, whichever window the update was asked for in.
        std::function<void()> quitAfterInstallerStarted;
    };

    explicit Updater(Host host, QObject *parent = nullptr);
    ~Updater() override;

    // Starts a check unless one (or the update it started) is under way. The boxes of the
    // check go to the requesting window while it exists.
    void checkVersion(bool silent, QWidget *requester = nullptr);
    // Downloads the installer of the given release into the download directory.
    void downloadFile(const QString &url, const QString &version);

    bool checkInProgress() const { return m_checkInProgress; }
    bool silentCheck() const { return m_silentCheck; }
    bool forceUpdate() const { return m_forceUpdate; }
    bool cacheCleared() const { return m_cacheCleared; }
    QUrl downloadUrl() const { return m_download->url(); }
    bool downloadAborted() const { return m_download->cancelled(); }
    QNetworkReply *downloadReply() const { return m_download->reply(); }
    QString installerPath() const { return m_installerPath; }
    ProgressDialog *progressDialog() const { return m_progressDialog; }
    // A downloaded installer the user chose to install later: it starts when the client quits.
    QString pendingInstaller() const { return m_pendingInstaller; }

    // How long the notice before replacing an existing installer of a mandatory update stays.
    int overwriteNoticeDelay() const { return m_overwriteNoticeDelayMs; }
    void setOverwriteNoticeDelay(int ms) { m_overwriteNoticeDelayMs = ms; }
    // How long a version request may take, and how long the installer download may receive
    // nothing, before it ends as a failure.
    int versionTimeout() const { return m_versionTimeoutMs; }
    void setVersionTimeout(int ms) { m_versionTimeoutMs = ms; }
    int stallTimeout() const { return m_download->stallTimeout(); }
    void setStallTimeout(int ms) { m_download->setStallTimeout(ms); }

    // Starts the installer (directory, file name); InstallerLauncher::launch unless replaced.
    using Launcher = std::function<bool(const QString &, const QString &)>;
    void setInstallerLauncher(Launcher launcher) { m_launcher = std::move(launcher); }
    // The platform whose installer naming rules apply; the host's unless replaced.
    void setPlatform(VersionRules::Platform platform) { m_platform = platform; }
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

signals:
    // A download without a dialog (update mode 2) tells its progress here; empty when it ends.
    void backgroundStatus(const QString &text);

private:
    void startCheck(bool silent);
    void apply(const VersionFile::Decisions &decisions);
    void startDownload(const QString &url, const QString &version, bool background);
    QString insecureText(const QUrl &url) const;
    void startRequest(const QUrl &url, const QString &version);
    bool openFileForWrite(const QString &fileName);
    void reportProgress(qint64 received, qint64 total);
    void askToInstall(const QString &version);
    bool launchInstaller(const QString &path);
    void installPendingAtQuit();
    QWidget *boxParent() const;
    int showBox(QMessageBox::Icon icon, const QString &title, const QString &text,
                QMessageBox::StandardButtons buttons = QMessageBox::Ok,
                QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);

    Host m_host;
    QPointer<QWidget> m_requester;
    bool m_silentCheck = true;
    bool m_checkInProgress = false;
    bool m_checkTimedOut = false;
    bool m_forceUpdate = false;
    bool m_cacheCleared = false;
    // The running download shows no dialog and asks only once it is complete.
    bool m_background = false;

    InstallerDownload *m_download;
    QString m_version; // of the running download
    QString m_installerPath;
    QPointer<ProgressDialog> m_progressDialog;
    int m_lastPercent = -1;
    QString m_pendingInstaller;
    QString m_pendingVersion;

    // Whether the request that finished last delivered the installer itself.
    bool m_downloadCompleted = false;
    int m_overwriteNoticeDelayMs = 10000;
    int m_versionTimeoutMs = 30000;
    bool m_requireHttps = false;
    bool m_assumeHttpsVersionFile = false;
    VersionRules::Platform m_platform = VersionRules::hostPlatform();
    Launcher m_launcher;
};
