#include "downloads/downloadmanagerwidget.h"

#include "downloads/downloadrules.h"

#include "downloads/downloadwidget.h"
#include "store/appsettings.h"

#include <QFileDialog>
#include <QLabel>
#include <QScrollArea>
#include <QVBoxLayout>
#include <QWebEngineDownloadItem>

DownloadManagerWidget::DownloadManagerWidget(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("DownloadManagerWidget"));
    resize(419, 260);
    setStyleSheet(QString());

    m_topLevelLayout = new QVBoxLayout(this);
    m_topLevelLayout->setObjectName(QStringLiteral("m_topLevelLayout"));
    m_topLevelLayout->setSpacing(6);
    m_topLevelLayout->setSizeConstraint(QLayout::SetNoConstraint);
    m_topLevelLayout->setContentsMargins(0, 1, 0, 1);

    m_scrollArea = new QScrollArea(this);
    m_scrollArea->setObjectName(QStringLiteral("m_scrollArea"));
    m_scrollArea->setStyleSheet(QStringLiteral("#m_scrollArea {\n"
                                               "  margin: 2px;\n"
                                               "  border: none;\n"
                                               "}"));
    m_scrollArea->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_scrollArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scrollArea->setWidgetResizable(true);
    m_scrollArea->setAlignment(Qt::AlignLeading | Qt::AlignLeft | Qt::AlignTop);

    m_items = new QWidget();
    m_items->setObjectName(QStringLiteral("m_items"));
    m_items->setStyleSheet(QStringLiteral("#m_items {background: palette(mid)}"));

    m_itemsLayout = new QVBoxLayout(m_items);
    m_itemsLayout->setObjectName(QStringLiteral("m_itemsLayout"));
    m_itemsLayout->setSpacing(1);
    m_itemsLayout->setSizeConstraint(QLayout::SetMinAndMaxSize);
    m_itemsLayout->setContentsMargins(1, 2, 1, 2);

    m_zeroItemsLabel = new QLabel(m_items);
    m_zeroItemsLabel->setObjectName(QStringLiteral("m_zeroItemsLabel"));
    m_zeroItemsLabel->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    m_zeroItemsLabel->setStyleSheet(QStringLiteral("color: palette(shadow)"));
    m_zeroItemsLabel->setAlignment(Qt::AlignCenter);
    m_itemsLayout->addWidget(m_zeroItemsLabel);

    m_scrollArea->setWidget(m_items);
    m_topLevelLayout->addWidget(m_scrollArea);

    m_numDownloads = 0;
    setWindowTitle(tr("下载管理"));
    m_zeroItemsLabel->setText(tr("没有下载内容"));
    m_scrollArea->setAccessibleName(tr("下载列表")); // it takes the focus to scroll
    m_itemsLayout->addStretch();

    m_askSaveFile = [](QWidget *parent, const QString &caption, const QString &dir,
                       const QString &filter) {
        return QFileDialog::getSaveFileName(parent, caption, dir, filter);
    };
}

QString DownloadManagerWidget::suggestedPath(const QString &downloadPath, const QString &fileName)
{
    return DownloadRules::suggestedPath(downloadPath, fileName);
}

QString DownloadManagerWidget::fileFilter(const QString &mimeType)
{
    return DownloadRules::fileFilter(mimeType);
}

namespace {

// Points the download at a full path, split into folder and file name.
void setDownloadPath(QWebEngineDownloadItem *download, const QString &path)
{
    const int slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash < 0) {
        download->setDownloadFileName(path);
        return;
    }
    download->setDownloadDirectory(slash == 0 ? QStringLiteral("/") : path.left(slash));
    download->setDownloadFileName(path.mid(slash + 1));
}

} // namespace

void DownloadManagerWidget::downloadRequested(QWebEngineDownloadItem *download)
{
    if (!download)
        return;
    const QString fileName = DownloadRules::fileNameOf(download->downloadFileName());

    // Read anew every time: the settings dialog may have changed the folder meanwhile.
    if (m_settings)
        setDownloadPath(download, suggestedPath(m_settings->downloadPath, fileName));

    const QString chosen = m_askSaveFile
                               ? m_askSaveFile(this, tr("另存为"), DownloadWidget::pathOf(download),
                                               fileFilter(download->mimeType()))
                               : QString();
    // Not accepting lets the engine drop the download.
    if (chosen.isEmpty())
        return;

    setDownloadPath(download, chosen);
    download->accept();
    auto *row = new DownloadWidget(download, nullptr);
    row->setWindowFilePath(chosen);
    add(row);
    show();
    raise();
    activateWindow();
}

void DownloadManagerWidget::add(DownloadWidget *row)
{
    for (int i = m_itemsLayout->count() - 1; i >= 0; --i) {
        auto *old = qobject_cast<DownloadWidget *>(m_itemsLayout->itemAt(i)->widget());
        if (!old || old->windowFilePath() != row->windowFilePath())
            continue;
        delete m_itemsLayout->takeAt(i);
        old->hide();
        // A replaced download that still runs would go on unseen and could finish after the
        // newer one, overwriting its file. The item itself stays with the profile.
        QWebEngineDownloadItem *download = old->download();
        if (download && download != row->download() && !download->isFinished())
            download->cancel();
        old->deleteLater();
    }
    m_itemsLayout->insertWidget(0, row, 0, Qt::AlignTop);
    if (m_numDownloads++ == 0)
        m_zeroItemsLabel->hide();
}

QList<DownloadWidget *> DownloadManagerWidget::rows() const
{
    QList<DownloadWidget *> list;
    for (int i = 0; i < m_itemsLayout->count(); ++i) {
        if (auto *row = qobject_cast<DownloadWidget *>(m_itemsLayout->itemAt(i)->widget()))
            list << row;
    }
    return list;
}
