#include "update/updater.h"

#include "platform/installerlauncher.h"
#include "store/appsettings.h"
#include "store/serviceurl.h"
#include "update/progressdialog.h"
#include "update/versionfile.h"
#include "update/versionrules.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QVariant>
#include <QWidget>

Q_LOGGING_CATEGORY(lcUpdate, "norva.update")

namespace {
const QString otherSettingsGroup = QStringLiteral("OtherSettings");
} // namespace

Updater::Updater(Host host, QObject *parent)
    : QObject(parent), m_host(std::move(host)), m_download(new InstallerDownload(this))
{
    connect(m_download, &InstallerDownload::progress, this, &Updater::reportProgress);
    // Evaluated first, then started: after a confirmed redirect the next request is running
    // and startUpdate waits for it.
    connect(m_download, &InstallerDownload::finished, this, [this] {
        downloadFinished(m_version);
        startUpdate();
    });
    if (QCoreApplication *app = QCoreApplication::instance())
        connect(app, &QCoreApplication::aboutToQuit, this, &Updater::installPendingAtQuit);
}

Updater::~Updater()
{
    // The download must not report back into a half-destroyed updater.
    m_download->disconnect(this);
}

QWidget *Updater::boxParent() const
{
    if (m_requester)
        return m_requester;
    return m_host.window ? m_host.window() : nullptr;
}

QString Updater::insecureText(const QUrl &url) const
{
    return tr("升级包的下载地址不安全（不是 https 链接），已停止升级：%1").arg(url.toString());
}

int Updater::showBox(QMessageBox::Icon icon, const QString &title, const QString &text,
                     QMessageBox::StandardButtons buttons,
                     QMessageBox::StandardButton defaultButton)
{
    // On the heap: the window (its parent) may go away while the nested loop runs.
    QPointer<QMessageBox> box = new QMessageBox(icon, title, text, buttons, boxParent(),
                                                Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint);
    if (QAbstractButton *yes = box->button(QMessageBox::Yes))
        yes->setText(tr("是"));
    if (QAbstractButton *no = box->button(QMessageBox::No))
        no->setText(tr("否"));
    if (defaultButton != QMessageBox::NoButton)
        box->setDefaultButton(defaultButton);
    const int answer = box->exec();
    delete box.data();
    return answer;
}

void Updater::checkVersion(bool silent, QWidget *requester)
{
    if (m_checkInProgress)
        return;
    m_requester = requester;
    startCheck(silent);
}

void Updater::startCheck(bool silent)
{
    if (m_checkInProgress)
        return;
    m_silentCheck = silent;
    m_checkInProgress = true;
    m_checkTimedOut = false;

    // One manager per check, released with its reply.
    auto *manager = new QNetworkAccessManager(this);
    connect(manager, &QNetworkAccessManager::finished, this,
            &Updater::handleNetworkRequestFinished);
    QNetworkReply *reply = manager->get(QNetworkRequest(QUrl(ServiceUrl::versionFileUrl())));
    // A connection that hangs must not hold the guard until the client restarts.
    QTimer::singleShot(m_versionTimeoutMs, reply, [this, reply] {
        if (!reply->isRunning())
            return;
        m_checkTimedOut = true;
        reply->abort();
    });
}

void Updater::handleNetworkRequestFinished(QNetworkReply *reply)
{
    if (!reply)
        return;
    reply->deleteLater();
    if (QNetworkAccessManager *manager = reply->manager()) {
        if (manager->parent() == this)
            manager->deleteLater();
    }

    if (reply->error() != QNetworkReply::NoError) {
        const QString reason = m_checkTimedOut ? tr("连接超时") : reply->errorString();
        // Only a check the user asked for reports it: an automatic one would put up a box at
        // every interval while the network is away.
        if (m_silentCheck) {
            qCWarning(lcUpdate) << "automatic version check failed:" << reason;
            m_checkInProgress = false;
            return;
        }
        QPointer<Updater> self(this);
        showBox(QMessageBox::Warning, tr("版本检查失败"), tr("失败原因:") + reason);
        // Cleared after the box, so that timer ticks while it is open do not stack more boxes.
        if (self)
            m_checkInProgress = false;
        return;
    }
    if (!appSettings) {
        m_checkInProgress = false;
        return;
    }

    VersionFile::Input input;
    input.clearCacheVersion = appSettings->clearCacheVersion;
    input.defaultMainPage = appSettings->defaultMainPage;
    input.serviceUrl = ServiceUrl::base();
    input.updateMode = appSettings->updateMode;
    input.silent = m_silentCheck;
    input.overHttps =
        m_assumeHttpsVersionFile ||
        reply->url().scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0;
    apply(VersionFile::evaluate(reply->readAll(), input));
}

void Updater::apply(const VersionFile::Decisions &d)
{
    if (d.installForceNotice && m_host.setForceNotice)
        m_host.setForceNotice(d.forceNotice);
    if (d.setNoticeStayTime && m_host.setNoticeStayTime)
        m_host.setNoticeStayTime(d.noticeStayTime);
    if (d.checkUpdateInterval > 0 && m_host.setCheckUpdateInterval)
        m_host.setCheckUpdateInterval(d.checkUpdateInterval);

    if (d.clearCache) {
        if (m_host.clearBrowsingData)
            m_host.clearBrowsingData();
        m_cacheCleared = true;
        appSettings->clearCacheVersion = d.cacheVersion;
        if (m_host.saveSettingsValue)
            m_host.saveSettingsValue(QStringLiteral("clearCacheVersion"), otherSettingsGroup,
                                     d.cacheVersion);
        if (m_host.loadUrl)
            m_host.loadUrl(QUrl::fromUserInput(appSettings->defaultMainPage));
    }

    if (!d.refusedMainPage.isEmpty())
        qCWarning(lcUpdate) << "Ignoring a main page outside the service:" << d.refusedMainPage;
    if (!d.newMainPage.isEmpty()) {
        appSettings->defaultMainPage = d.newMainPage;
        if (m_host.saveSettingsValue)
            m_host.saveSettingsValue(QStringLiteral("defaultMainPage"), otherSettingsGroup,
                                     d.newMainPage);
        if (m_host.loadUrl)
            m_host.loadUrl(QUrl::fromUserInput(d.newMainPage));
    }

    QPointer<Updater> self(this);
    switch (d.release) {
    case VersionFile::Release::None:
        m_checkInProgress = false;
        return;
    case VersionFile::Release::BrokenVersion:
        if (d.report)
            showBox(QMessageBox::Warning, tr("检查版本"), tr("获取版本信息出错"));
        if (self)
            m_checkInProgress = false;
        return;
    case VersionFile::Release::UpToDate:
        if (d.report)
            showBox(QMessageBox::Information, tr("检查版本"),
                    tr("当前版本 %1 已经是最新版本！").arg(appSettings->version));
        if (self)
            m_checkInProgress = false;
        return;
    case VersionFile::Release::Mandatory:
    case VersionFile::Release::Optional:
        break;
    }

    m_requireHttps = d.requireHttps;
    m_forceUpdate = d.release == VersionFile::Release::Mandatory;
    if (m_forceUpdate) {
        startDownload(d.updateUrl, d.latestVersion, false);
        return;
    }
    // Already downloaded and waiting for the quit: nothing to fetch again.
    if (!m_pendingInstaller.isEmpty() && m_pendingVersion == d.latestVersion &&
        QFile::exists(m_pendingInstaller)) {
        if (m_silentCheck) {
            qCInfo(lcUpdate) << "release" << d.latestVersion << "installs when the client quits";
            m_checkInProgress = false;
        } else {
            askToInstall(d.latestVersion);
        }
        return;
    }
    if (d.background) {
        startDownload(d.updateUrl, d.latestVersion, true);
        return;
    }
    if (!d.ask) {
        qCInfo(lcUpdate) << "release" << d.latestVersion << "not offered by an automatic check";
        m_checkInProgress = false;
        return;
    }
    const int answer = showBox(QMessageBox::Question, tr("升级提醒"),
                               tr("发现新版本 %1 ，是否下载升级？").arg(d.latestVersion),
                               QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
    if (!self)
        return;
    if (answer == QMessageBox::Yes)
        startDownload(d.updateUrl, d.latestVersion, false);
    else
        m_checkInProgress = false;
}

void Updater::downloadFile(const QString &urlText, const QString &version)
{
    startDownload(urlText, version, false);
}

void Updater::startDownload(const QString &urlText, const QString &version, bool background)
{
    // One download at a time: a running one keeps its reply, file and guard.
    if (m_download->reply())
        return;
    m_background = background;
    if (urlText.isEmpty() || !appSettings || appSettings->downloadPath.isEmpty()) {
        m_checkInProgress = false;
        return;
    }

    QPointer<Updater> self(this);
    const QUrl url = QUrl::fromUserInput(urlText);
    if (!url.isValid()) {
        showBox(QMessageBox::Warning, tr("错误"),
                tr("无效的下载链接: %1: %2").arg(urlText, url.errorString()));
        if (self)
            m_checkInProgress = false;
        return;
    }

    if (!VersionRules::isAllowedDownload(url, m_requireHttps)) {
        qCWarning(lcUpdate) << "installer address is not https:" << url.toString();
        showBox(QMessageBox::Warning, tr("错误"), insecureText(url));
        if (self)
            m_checkInProgress = false;
        return;
    }

    const QString fileName = VersionRules::installerFileName(url, version, m_platform);
    // The command interpreter would run something else than an installer, or a device.
    if (!VersionRules::isStartableInstallerName(fileName, m_platform)) {
        qCWarning(lcUpdate) << "installer name cannot be started:" << fileName;
        showBox(QMessageBox::Warning, tr("错误"),
                tr("升级包的文件名 %1 不是可以启动的安装程序，已停止升级。").arg(fileName));
        if (self)
            m_checkInProgress = false;
        return;
    }
    const QString directory = QDir::cleanPath(appSettings->downloadPath);
    const bool useDirectory = !directory.isEmpty() && QFileInfo(directory).isDir();
    const QString target = useDirectory ? directory + QLatin1Char('/') + fileName : fileName;

    if (QFile::exists(target)) {
        if (m_forceUpdate) {
            // Owned here and deleted after use; the timer dies with the box.
            QPointer<QMessageBox> notice = new QMessageBox(
                QMessageBox::Information, tr("升级提醒"),
                tr("10秒后自动下载新版本 %1 安装升级").arg(version), QMessageBox::NoButton,
                boxParent(), Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint);
            QTimer::singleShot(m_overwriteNoticeDelayMs, notice.data(), &QMessageBox::accept);
            notice->exec();
            delete notice.data();
            if (!self)
                return;
        } else {
            const int answer =
                showBox(QMessageBox::Question, tr("是否覆盖已存在的 %1 文件").arg(version),
                        tr("此处已存在一个文件名为  %1%2.\n覆盖?")
                            .arg(target, useDirectory ? QString() : tr(" 在当前目录")),
                        QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
            if (!self)
                return;
            if (answer == QMessageBox::No) {
                m_checkInProgress = false;
                return;
            }
        }
        QFile::remove(target);
    }

    // Whatever waited for the quit is replaced, or was the very file about to be rewritten.
    m_pendingInstaller.clear();
    m_pendingVersion.clear();
    if (openFileForWrite(target))
        startRequest(url, version);
}

bool Updater::openFileForWrite(const QString &fileName)
{
    QString error;
    if (m_download->open(fileName, &error))
        return true;
    QPointer<Updater> self(this);
    showBox(QMessageBox::Information, tr("错误"),
            tr("无法保存到该文件 %1: %2.").arg(QDir::toNativeSeparators(fileName), error));
    if (self)
        m_checkInProgress = false;
    return false;
}

void Updater::startRequest(const QUrl &url, const QString &version)
{
    m_version = version;
    m_lastPercent = -1;
    m_download->start(url);

    // A dialog left over from a redirected request gives way to the new one.
    if (m_progressDialog) {
        m_progressDialog->disconnect(this);
        m_progressDialog->deleteLater();
    }
    if (m_background) {
        // No dialog in front of the user's work: the tray tells the progress.
        reportProgress(0, -1);
        return;
    }
    auto *dialog = new ProgressDialog(url, m_host.window ? m_host.window() : m_requester.data());
    m_progressDialog = dialog;
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(tr("新版本 %1 下载进度").arg(version));
    dialog->setLabelText(tr("下载 ") + url.toString());
    if (m_forceUpdate) {
        dialog->canClose = false;
        dialog->setCancelButton(nullptr);
    } else {
        dialog->setCancelButtonText(tr("取消"));
    }

    connect(dialog, &QProgressDialog::canceled, this, &Updater::cancelDownload);
    connect(m_download, &InstallerDownload::progress, dialog,
            &ProgressDialog::networkReplyProgress);
    dialog->show();
}

void Updater::reportProgress(qint64 received, qint64 total)
{
    if (!m_background)
        return;
    // The tooltip changes with the percentage, not with every packet.
    const int percent = total > 0 ? int(qBound<qint64>(0, received * 100 / total, 100)) : -1;
    if (percent == m_lastPercent && received > 0)
        return;
    m_lastPercent = percent;
    emit backgroundStatus(percent < 0 ? tr("正在下载新版本 %1").arg(m_version)
                                      : tr("正在下载新版本 %1：%2%").arg(m_version).arg(percent));
}

void Updater::downloadReadyRead()
{
    m_download->readyRead();
}

void Updater::cancelDownload()
{
    m_download->cancel();
}

void Updater::downloadFinished(const QString &strVersion)
{
    m_downloadCompleted = false;
    const InstallerDownload::Result result = m_download->result();
    if (m_download->reply() || result == InstallerDownload::Result::Running)
        return;
    const QString fileName = m_download->fileName();
    m_installerPath = fileName;
    const QString absolutePath =
        fileName.isEmpty() ? QString() : QFileInfo(fileName).absoluteFilePath();

    // A download that stops here must not leave an undismissable dialog behind.
    if (m_progressDialog)
        m_progressDialog->canClose = true;

    switch (result) {
    case InstallerDownload::Result::Running:
    case InstallerDownload::Result::Cancelled:
    case InstallerDownload::Result::Failed:
        return;
    case InstallerDownload::Result::Stalled:
        if (m_progressDialog)
            m_progressDialog->setLabelText(tr("长时间没有收到数据，下载已停止。"));
        return;
    case InstallerDownload::Result::WriteFailed:
        showBox(QMessageBox::Information, tr("错误"),
                tr("无法保存到该文件 %1: %2.")
                    .arg(QDir::toNativeSeparators(fileName), m_download->writeError()));
        return;
    case InstallerDownload::Result::NotInstaller: {
        const QByteArray contentType = m_download->contentType();
        const qint64 bytes = m_download->bytesWritten();
        qCWarning(lcUpdate) << "download is no installer:" << contentType << bytes << "bytes";
        showBox(QMessageBox::Warning, tr("错误"),
                tr("下载的内容不是安装程序（%1），已停止升级。")
                    .arg(bytes > 0 ? QString::fromLatin1(contentType) : tr("内容为空")));
        return;
    }
    case InstallerDownload::Result::Completed:
        m_downloadCompleted = true;
        return;
    case InstallerDownload::Result::Redirected:
        break;
    }

    const QUrl resolved = m_download->redirectTarget();
    QPointer<Updater> self(this);
    if (!VersionRules::isAllowedDownload(resolved, m_requireHttps)) {
        qCWarning(lcUpdate) << "installer redirect leaves https:" << resolved.toString();
        if (!absolutePath.isEmpty())
            QFile::remove(absolutePath);
        showBox(QMessageBox::Warning, tr("错误"), insecureText(resolved));
        return;
    }
    const int answer =
        showBox(QMessageBox::Question, tr("重定向"), tr("重定向到 %1 ？").arg(resolved.toString()),
                QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (!self)
        return;
    if (answer == QMessageBox::No) {
        if (!absolutePath.isEmpty())
            QFile::remove(absolutePath);
        return;
    }
    if (!absolutePath.isEmpty() && openFileForWrite(absolutePath))
        startRequest(resolved, strVersion);
}

void Updater::startUpdate()
{
    // After a confirmed redirect the update goes on with the new request.
    if (m_download->reply())
        return;
    if (m_background)
        emit backgroundStatus(QString());

    const bool completed = m_downloadCompleted;
    m_downloadCompleted = false;
    if (!completed || m_installerPath.isEmpty()) {
        m_checkInProgress = false;
        return;
    }
    if (m_background) {
        askToInstall(m_version);
        return;
    }
    m_checkInProgress = false;
    launchInstaller(m_installerPath);
}

void Updater::askToInstall(const QString &version)
{
    const QString path = m_pendingInstaller.isEmpty() ? m_installerPath : m_pendingInstaller;
    QPointer<Updater> self(this);
    const int answer = showBox(QMessageBox::Question, tr("升级提醒"),
                               tr("新版本 %1 已下载完成，是否现在安装？").arg(version),
                               QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
    if (!self)
        return;
    m_checkInProgress = false;
    if (answer == QMessageBox::Yes) {
        launchInstaller(path);
        return;
    }
    m_pendingInstaller = path;
    m_pendingVersion = version;
    qCInfo(lcUpdate) << "release" << version << "installs when the client quits";
}

bool Updater::launchInstaller(const QString &path)
{
    // The file as opened: in the download directory, or in the current one as a fallback.
    const QFileInfo installer(path);
    const bool started =
        m_launcher ? m_launcher(installer.absolutePath(), installer.fileName())
                   : InstallerLauncher::launch(installer.absolutePath(), installer.fileName());
    // Without a running installer the client stays: quitting would leave the user with neither.
    if (!started) {
        showBox(QMessageBox::Warning, tr("错误"),
                tr("无法启动安装程序 %1。")
                    .arg(QDir::toNativeSeparators(installer.absoluteFilePath())));
        return false;
    }
    m_pendingInstaller.clear();
    m_pendingVersion.clear();
    if (m_host.quitAfterInstallerStarted)
        m_host.quitAfterInstallerStarted();
    return true;
}

void Updater::installPendingAtQuit()
{
    if (m_pendingInstaller.isEmpty())
        return;
    const QFileInfo installer(m_pendingInstaller);
    m_pendingInstaller.clear();
    m_pendingVersion.clear();
    // Nobody is left to read a box: the log has to do.
    const bool started =
        installer.exists() &&
        (m_launcher ? m_launcher(installer.absolutePath(), installer.fileName())
                    : InstallerLauncher::launch(installer.absolutePath(), installer.fileName()));
    if (started)
        qCInfo(lcUpdate) << "installer started at quit:" << installer.absoluteFilePath();
    else
        qCWarning(lcUpdate) << "installer could not be started at quit:"
                            << installer.absoluteFilePath();
}
