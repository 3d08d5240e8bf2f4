#include "update/installerdownload.h"

#include "update/versionrules.h"

#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

Q_DECLARE_LOGGING_CATEGORY(lcUpdate)

namespace {
// What the network thread may read ahead of the disk. Each chunk crosses threads with a wake-up,
// so a small buffer costs speed (64 KiB: about 0.7 of curl's throughput), a large one memory
// (1 MiB: 11 MB peak growth for 200 MB); 384 KiB gives about 1.1 of curl and 8 MB.
const qint64 downloadBufferSize = 384 * 1024;
} // namespace

InstallerDownload::InstallerDownload(QObject *parent) : QObject(parent)
{
    m_stallTimer.setSingleShot(true);
    connect(&m_stallTimer, &QTimer::timeout, this, [this] {
        if (!m_reply || !m_reply->isRunning())
            return;
        qCWarning(lcUpdate) << "installer download received nothing for" << m_stallTimeoutMs
                            << "ms:" << m_url.toString();
        m_stalled = true;
        m_reply->abort();
    });
}

InstallerDownload::~InstallerDownload()
{
    if (m_reply) {
        m_reply->disconnect(this);
        m_reply->abort();
        m_reply->deleteLater();
    }
}

bool InstallerDownload::open(const QString &fileName, QString *error)
{
    auto file = std::make_unique<QFile>(fileName);
    // Unbuffered: a failed write shows at once, not at some later flush.
    if (!file->open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        if (error)
            *error = file->errorString();
        return false;
    }
    m_file = std::move(file);
    m_fileName = fileName;
    return true;
}

void InstallerDownload::start(const QUrl &url)
{
    m_url = url;
    m_cancelled = false;
    m_stalled = false;
    m_result = Result::Running;
    m_writeFailed = false;
    m_writeError.clear();
    m_contentType.clear();
    m_bytesWritten = 0;
    m_redirectTarget = QUrl();
    if (!m_manager) {
        m_manager = std::make_unique<QNetworkAccessManager>();
        // Redirects are put to the user, never followed silently.
        m_manager->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
    }
    m_reply = m_manager->get(QNetworkRequest(url));
    // Bounded: the network thread waits when the disk is slower, instead of queueing the
    // whole installer in memory.
    m_reply->setReadBufferSize(downloadBufferSize);
    connect(m_reply, &QIODevice::readyRead, this, &InstallerDownload::readyRead);
    connect(m_reply, &QNetworkReply::downloadProgress, this, &InstallerDownload::progress);
    connect(m_reply, &QNetworkReply::finished, this, &InstallerDownload::handleFinished);
    m_stallTimer.start(m_stallTimeoutMs);
}

void InstallerDownload::cancel()
{
    m_cancelled = true;
    if (m_reply && m_reply->isRunning())
        m_reply->abort();
}

void InstallerDownload::readyRead()
{
    if (!m_file || !m_reply)
        return;
    // Written as it arrives, so memory stays flat whatever the installer's size.
    const QByteArray data = m_reply->readAll();
    if (data.isEmpty() || m_writeFailed)
        return;
    m_stallTimer.start(m_stallTimeoutMs);
    if (m_file->write(data) != data.size()) {
        // A short write would leave a corrupt installer: stop here.
        m_writeFailed = true;
        m_writeError = m_file->errorString();
        m_reply->abort();
        return;
    }
    m_bytesWritten += data.size();
}

bool InstallerDownload::incomplete() const
{
    // Qt reports a connection that closes early as a success; the announced length tells.
    const QVariant length = m_reply->header(QNetworkRequest::ContentLengthHeader);
    const QByteArray encoding = m_reply->rawHeader("Content-Encoding").trimmed().toLower();
    if (!length.isValid() || !(encoding.isEmpty() || encoding == "identity"))
        return false;
    return length.toLongLong() != m_bytesWritten;
}

InstallerDownload::Result InstallerDownload::verdict()
{
    if (m_cancelled)
        return Result::Cancelled;
    if (m_stalled)
        return Result::Stalled;
    if (m_writeFailed)
        return Result::WriteFailed;
    if (m_reply->error() != QNetworkReply::NoError)
        return Result::Failed;
    const QUrl redirect = m_reply->attribute(QNetworkRequest::RedirectionTargetAttribute).toUrl();
    if (!redirect.isEmpty()) {
        m_redirectTarget = m_url.resolved(redirect);
        return Result::Redirected;
    }
    if (incomplete())
        return Result::Failed;
    m_contentType = m_reply->header(QNetworkRequest::ContentTypeHeader).toByteArray();
    // A captive portal's login page or an empty answer must never be started.
    if (!VersionRules::looksLikeInstaller(m_contentType, m_bytesWritten))
        return Result::NotInstaller;
    return Result::Completed;
}

void InstallerDownload::handleFinished()
{
    m_stallTimer.stop();
    // Whatever is still buffered belongs to the file too.
    if (m_reply->error() == QNetworkReply::NoError)
        readyRead();
    if (m_file) {
        m_file->close();
        if (m_file->error() != QFileDevice::NoError && !m_writeFailed) {
            m_writeFailed = true;
            m_writeError = m_file->errorString();
        }
        m_file.reset();
    }
    m_result = verdict();
    m_reply->deleteLater();
    m_reply = nullptr;

    switch (m_result) {
    case Result::Failed:
    case Result::Stalled:
    case Result::WriteFailed:
    case Result::NotInstaller:
        if (!m_fileName.isEmpty())
            QFile::remove(QFileInfo(m_fileName).absoluteFilePath());
        break;
    case Result::Running:
    case Result::Completed:
    case Result::Cancelled:
    case Result::Redirected:
        break;
    }
    emit finished();
}
