#include "update/updater.h"

#include "platform/installerlauncher.h"
#include "store/appsettings.h"
#include "store/serviceurl.h"
#include "update/progressdialog.h"
#include "update/versionfile.h"
#include "update/versionrules.h"

#include <QAbstractButton>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QVariant>
#include <QWidget>

Q_LOGGING_CATEGORY(lcUpdate, "norva.update")

namespace {
const QString otherSettingsGroup = QStringLiteral("OtherSettings");
// What the network thread may read ahead of the disk. Each chunk crosses threads with a wake-up,
// so a small buffer costs speed (64 KiB: about 0.7 of curl's throughput), a large one memory
// (1 MiB: 11 MB peak growth for 200 MB); 384 KiB gives about 1.1 of curl and 8 MB.
const qint64 downloadBufferSize = 384 * 1024;
} // namespace

Updater::Updater(Host host) : QObject(host.window), m_host(std::move(host)), m_window(m_host.window)
{}

Updater::~Updater()
{
    if (m_downloadReply) {
        m_downloadReply->disconnect(this);
        m_downloadReply->abort();
    }
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
    QPointer<QMessageBox> box = new QMessageBox(icon, title, text, buttons, m_window,
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

void Updater::checkVersion(bool silent)
{
    startCheck(silent);
}

void Updater::startCheck(bool silent)
{
    if (m_checkInProgress)
        return;
    m_silentCheck = silent;
    m_checkInProgress = true;

    // One manager per check, released with its reply.
    auto *manager = new QNetworkAccessManager(m_window);
    connect(manager, &QNetworkAccessManager::finished, this,
            &Updater::handleNetworkRequestFinished);
    manager->get(QNetworkRequest(QUrl(ServiceUrl::versionFileUrl())));
}

void Updater::handleNetworkRequestFinished(QNetworkReply *reply)
{
    if (!reply)
        return;
    reply->deleteLater();
    if (QNetworkAccessManager *manager = reply->manager()) {
        if (manager != m_downloadManager.get())
            manager->deleteLater();
    }

    if (reply->error() != QNetworkReply::NoError) {
        // Only a check the user asked for reports it: an automatic one would put up a box at
        // every interval while the network is away.
        if (m_silentCheck) {
            qCWarning(lcUpdate) << "automatic version check failed:" << reply->errorString();
            m_checkInProgress = false;
            return;
        }
        QPointer<Updater> self(this);
        showBox(QMessageBox::Warning, tr("版本检查失败"), tr("失败原因:") + reply->errorString());
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
        downloadFile(d.updateUrl, d.latestVersion);
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
        downloadFile(d.updateUrl, d.latestVersion);
    else
        m_checkInProgress = false;
}

void Updater::downloadFile(const QString &urlText, const QString &version)
{
    // One download at a time: a running one keeps its reply, file and guard.
    if (m_downloadReply)
        return;
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

    const QString fileName = VersionRules::installerFileName(url, version);
    const QString directory = QDir::cleanPath(appSettings->downloadPath);
    const bool useDirectory = !directory.isEmpty() && QFileInfo(directory).isDir();
    const QString target = useDirectory ? directory + QLatin1Char('/') + fileName : fileName;

    if (QFile::exists(target)) {
        if (m_forceUpdate) {
            // Owned here and deleted after use; the timer dies with the box.
            QPointer<QMessageBox> notice = new QMessageBox(
                QMessageBox::Information, tr("升级提醒"),
                tr("10秒后自动下载新版本 %1 安装升级").arg(version), QMessageBox::NoButton,
                m_window, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint);
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

    m_installerFile = openFileForWrite(target);
    if (m_installerFile)
        startRequest(url, version);
}

std::unique_ptr<QFile> Updater::openFileForWrite(const QString &fileName)
{
    auto file = std::make_unique<QFile>(fileName);
    // Unbuffered: a failed write shows at once, not at some later flush.
    if (!file->open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        const QString error = file->errorString();
        file.reset();
        QPointer<Updater> self(this);
        showBox(QMessageBox::Information, tr("错误"),
                tr("无法保存到该文件 %1: %2.").arg(QDir::toNativeSeparators(fileName), error));
        if (self)
            m_checkInProgress = false;
        return nullptr;
    }
    return file;
}

void Updater::startRequest(const QUrl &url, const QString &version)
{
    m_downloadUrl = url;
    m_downloadAborted = false;
    m_writeFailed = false;
    m_writeError.clear();
    m_bytesWritten = 0;
    if (!m_downloadManager) {
        m_downloadManager = std::make_unique<QNetworkAccessManager>();
        // Redirects are put to the user, never followed silently.
        m_downloadManager->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
    }
    m_downloadReply = m_downloadManager->get(QNetworkRequest(url));
    QNetworkReply *reply = m_downloadReply;
    // Bounded: the network thread waits when the disk is slower, instead of queueing the
    // whole installer in memory.
    reply->setReadBufferSize(downloadBufferSize);

    connect(reply, &QNetworkReply::finished, this, [this, version] { downloadFinished(version); });
    connect(reply, &QIODevice::readyRead, this, &Updater::downloadReadyRead);

    // A dialog left over from a redirected request gives way to the new one.
    if (m_progressDialog) {
        m_progressDialog->disconnect(this);
        m_progressDialog->deleteLater();
    }
    auto *dialog = new ProgressDialog(url, m_window);
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
    connect(reply, &QNetworkReply::downloadProgress, dialog, &ProgressDialog::networkReplyProgress);
    connect(reply, &QNetworkReply::finished, this, &Updater::startUpdate);
    dialog->show();
}

void Updater::downloadReadyRead()
{
    if (!m_installerFile || !m_downloadReply)
        return;
    // Written as it arrives, so memory stays flat whatever the installer's size.
    const QByteArray data = m_downloadReply->readAll();
    if (data.isEmpty() || m_writeFailed)
        return;
    if (m_installerFile->write(data) != data.size()) {
        // A short write would leave a corrupt installer: stop here and report it when finished.
        m_writeFailed = true;
        m_writeError = m_installerFile->errorString();
        m_downloadReply->abort();
        return;
    }
    m_bytesWritten += data.size();
}

bool Updater::downloadIncomplete() const
{
    // Qt reports a connection that closes early as a success; the announced length tells.
    const QVariant length = m_downloadReply->header(QNetworkRequest::ContentLengthHeader);
    const QByteArray encoding = m_downloadReply->rawHeader("Content-Encoding").trimmed().toLower();
    if (!length.isValid() || !(encoding.isEmpty() || encoding == "identity"))
        return false;
    return length.toLongLong() != m_bytesWritten;
}

void Updater::cancelDownload()
{
    m_downloadAborted = true;
    if (m_downloadReply && m_downloadReply->isRunning())
        m_downloadReply->abort();
}

void Updater::releaseReply()
{
    if (m_downloadReply) {
        m_downloadReply->deleteLater();
        m_downloadReply = nullptr;
    }
}

void Updater::downloadFinished(const QString &strVersion)
{
    m_downloadCompleted = false;
    // Whatever is still buffered belongs to the file too.
    if (m_downloadReply && m_downloadReply->error() == QNetworkReply::NoError)
        downloadReadyRead();
    QString fileName;
    if (m_installerFile) {
        fileName = m_installerFile->fileName();
        m_installerPath = fileName;
        m_installerFile->close();
        if (m_installerFile->error() != QFileDevice::NoError && !m_writeFailed) {
            m_writeFailed = true;
            m_writeError = m_installerFile->errorString();
        }
        m_installerFile.reset();
    }
    const QString absolutePath =
        fileName.isEmpty() ? QString() : QFileInfo(fileName).absoluteFilePath();

    // A download that stops here must not leave an undismissable dialog behind.
    auto letDialogClose = [this] {
        if (m_progressDialog)
            m_progressDialog->canClose = true;
    };

    if (m_downloadAborted) {
        releaseReply();
        letDialogClose();
        return;
    }

    if (!m_downloadReply)
        return;
    if (m_writeFailed || m_downloadReply->error() != QNetworkReply::NoError) {
        if (!absolutePath.isEmpty())
            QFile::remove(absolutePath);
        releaseReply();
        letDialogClose();
        if (m_writeFailed) {
            showBox(QMessageBox::Information, tr("错误"),
                    tr("无法保存到该文件 %1: %2.")
                        .arg(QDir::toNativeSeparators(fileName), m_writeError));
        }
        return;
    }

    const QUrl redirect =
        m_downloadReply->attribute(QNetworkRequest::RedirectionTargetAttribute).toUrl();
    if (redirect.isEmpty()) {
        if (downloadIncomplete()) {
            if (!absolutePath.isEmpty())
                QFile::remove(absolutePath);
            releaseReply();
            letDialogClose();
            return;
        }
        const QByteArray contentType =
            m_downloadReply->header(QNetworkRequest::ContentTypeHeader).toByteArray();
        releaseReply();
        // A captive portal's login page or an empty answer must never be started.
        if (!VersionRules::looksLikeInstaller(contentType, m_bytesWritten)) {
            qCWarning(lcUpdate) << "download is no installer:" << contentType << m_bytesWritten
                                << "bytes";
            if (!absolutePath.isEmpty())
                QFile::remove(absolutePath);
            letDialogClose();
            showBox(
                QMessageBox::Warning, tr("错误"),
                tr("下载的内容不是安装程序（%1），已停止升级。")
                    .arg(m_bytesWritten > 0 ? QString::fromLatin1(contentType) : tr("内容为空")));
            return;
        }
        m_downloadCompleted = true;
        return;
    }
    releaseReply();

    letDialogClose();
    const QUrl resolved = m_downloadUrl.resolved(redirect);
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
    if (absolutePath.isEmpty())
        return;
    m_installerFile = openFileForWrite(absolutePath);
    if (m_installerFile)
        startRequest(resolved, strVersion);
}

void Updater::startUpdate()
{
    // After a confirmed redirect the update goes on with the new request.
    if (m_downloadReply)
        return;
    m_checkInProgress = false;

    const bool completed = m_downloadCompleted;
    m_downloadCompleted = false;
    if (!completed || m_installerPath.isEmpty())
        return;

    // The file as opened: in the download directory, or in the current one as a fallback.
    const QFileInfo installer(m_installerPath);
    const bool started =
        m_launcher ? m_launcher(installer.absolutePath(), installer.fileName())
                   : InstallerLauncher::launch(installer.absolutePath(), installer.fileName());
    // Without a running installer the client stays: quitting would leave the user with neither.
    if (!started) {
        showBox(QMessageBox::Warning, tr("错误"),
                tr("无法启动安装程序 %1。")
                    .arg(QDir::toNativeSeparators(installer.absoluteFilePath())));
        return;
    }
    if (m_host.quitAfterInstallerStarted)
        m_host.quitAfterInstallerStarted();
}
