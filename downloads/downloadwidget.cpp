#include "downloads/downloadwidget.h"

#include "downloads/downloadrules.h"

#include <QDesktopServices>
#include <QGridLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QUrl>

namespace {

DownloadWidget::UrlOpener &urlOpener()
{
    static DownloadWidget::UrlOpener opener;
    return opener;
}

} // namespace

DownloadWidget::DownloadWidget(QWebEngineDownloadItem *download, QWidget *parent)
    : QFrame(parent), m_download(download)
{
    m_timeAdded.start();

    setObjectName(QStringLiteral("DownloadWidget"));
    resize(592, 78);
    setStyleSheet(QStringLiteral("#DownloadWidget {\n"
                                 "  background: palette(button);\n"
                                 "  border: 1px solid palette(dark);\n"
                                 "  margin: 0px;\n"
                                 "}"));

    m_topLevelLayout = new QGridLayout(this);
    m_topLevelLayout->setObjectName(QStringLiteral("m_topLevelLayout"));
    m_topLevelLayout->setSpacing(1);
    m_topLevelLayout->setSizeConstraint(QLayout::SetMinAndMaxSize);

    m_dstName = new QLabel(this);
    m_dstName->setObjectName(QStringLiteral("m_dstName"));
    m_dstName->setStyleSheet(QStringLiteral("font-weight: bold\n"));
    m_topLevelLayout->addWidget(m_dstName, 0, 0);

    m_btnOpenDir = new QPushButton(this);
    m_btnOpenDir->setObjectName(QStringLiteral("m_btnOpenDir"));
    m_btnOpenDir->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    m_btnOpenDir->setIconSize(QSize(16, 16));
    m_btnOpenDir->setFlat(false);
    m_topLevelLayout->addWidget(m_btnOpenDir, 0, 1);

    m_progressBar = new QProgressBar(this);
    m_progressBar->setObjectName(QStringLiteral("m_progressBar"));
    m_progressBar->setStyleSheet(QStringLiteral("font-size: 12px"));
    m_topLevelLayout->addWidget(m_progressBar, 1, 0, 1, 2);

    setToolTip(tr("双击打开文件"));
    m_dstName->setText(download ? download->downloadFileName() : QString());
    m_btnOpenDir->setText(tr("打开文件夹"));
    // Every row has this button: the spoken name says whose folder it opens.
    if (download) {
        m_btnOpenDir->setAccessibleName(
            tr("打开 %1 所在的文件夹").arg(download->downloadFileName()));
        m_progressBar->setAccessibleName(tr("%1 下载进度").arg(download->downloadFileName()));
    }

    connect(m_btnOpenDir, &QPushButton::clicked, this, &DownloadWidget::openFolder);
    if (download) {
        connect(download, &QWebEngineDownloadItem::downloadProgress, this,
                &DownloadWidget::updateWidget);
        connect(download, &QWebEngineDownloadItem::stateChanged, this,
                &DownloadWidget::updateWidget);
    }
    updateWidget();
}

QString DownloadWidget::withUnit(qreal bytes)
{
    return DownloadRules::withUnit(bytes);
}

DownloadWidget::Progress DownloadWidget::progressFor(QWebEngineDownloadItem::DownloadState state,
                                                     qreal received, qreal total,
                                                     qreal bytesPerSecond,
                                                     const QString &interruption)
{
    using S = DownloadRules::State;
    S plain = S::Interrupted;
    switch (state) {
    case QWebEngineDownloadItem::DownloadRequested:
        plain = S::Requested;
        break;
    case QWebEngineDownloadItem::DownloadInProgress:
        plain = S::InProgress;
        break;
    case QWebEngineDownloadItem::DownloadCompleted:
        plain = S::Completed;
        break;
    case QWebEngineDownloadItem::DownloadCancelled:
        plain = S::Cancelled;
        break;
    case QWebEngineDownloadItem::DownloadInterrupted:
        break;
    }
    return DownloadRules::progressFor(plain, received, total, bytesPerSecond, interruption);
}

QString DownloadWidget::folderOf(const QString &filePath)
{
    return DownloadRules::folderOf(filePath);
}

QString DownloadWidget::pathOf(const QWebEngineDownloadItem *download)
{
    if (!download)
        return QString();
    QString dir = download->downloadDirectory();
    const QString name = download->downloadFileName();
    if (dir.isEmpty())
        return name;
    if (!dir.endsWith(QLatin1Char('/')))
        dir += QLatin1Char('/');
    return dir + name;
}

void DownloadWidget::setUrlOpener(UrlOpener opener)
{
    urlOpener() = std::move(opener);
}

bool DownloadWidget::openUrl(const QUrl &url)
{
    if (urlOpener())
        return urlOpener()(url);
    return QDesktopServices::openUrl(url);
}

void DownloadWidget::updateWidget()
{
    if (!m_download)
        return;
    const qreal total = m_download->totalBytes();
    const qreal received = m_download->receivedBytes();
    // At least one millisecond, so an instant first report gives no infinite speed.
    const qreal elapsedMs = qMax<qint64>(m_timeAdded.elapsed(), 1);
    const qreal speed = received / elapsedMs * 1000;

    const Progress p = progressFor(m_download->state(), received, total, speed,
                                   m_download->interruptReasonString());
    if (!p.changes)
        return;
    m_progressBar->setValue(p.value);
    m_progressBar->setDisabled(!p.enabled);
    m_progressBar->setFormat(p.format);
}

void DownloadWidget::openFolder()
{
    const QString folder = folderOf(pathOf(m_download));
    if (!folder.isEmpty())
        openUrl(QUrl::fromLocalFile(folder));
}

void DownloadWidget::mouseDoubleClickEvent(QMouseEvent *event)
{
    Q_UNUSED(event);
    if (!m_download || m_download->state() != QWebEngineDownloadItem::DownloadCompleted)
        return;
    const QString path = pathOf(m_download);
    if (!path.isEmpty())
        openUrl(QUrl::fromLocalFile(path));
}
