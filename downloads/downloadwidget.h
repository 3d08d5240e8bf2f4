#pragma once

#include "downloads/downloadrules.h"

#include <QElapsedTimer>
#include <QFrame>
#include <QPointer>
#include <QWebEngineDownloadItem>

#include <functional>

class QGridLayout;
class QLabel;
class QProgressBar;
class QPushButton;
class QUrl;

// One row of the download list: file name, progress and a button that opens the folder.
class DownloadWidget : public QFrame
{
    Q_OBJECT
public:
    // What the progress bar shows for one state of a download.
    using Progress = DownloadRules::Progress;

    explicit DownloadWidget(QWebEngineDownloadItem *download, QWidget *parent = nullptr);

    QWebEngineDownloadItem *download() const { return m_download; }
    QLabel *nameLabel() const { return m_dstName; }
    QPushButton *openDirButton() const { return m_btnOpenDir; }
    QProgressBar *progressBar() const { return m_progressBar; }

    // Byte count with a binary unit (B, KiB, MiB, GiB), digits in the default locale.
    static QString withUnit(qreal bytes);
    // Bar value, state and text for a download; a total below 0 means the size is unknown.
    static Progress progressFor(QWebEngineDownloadItem::DownloadState state, qreal received,
                                qreal total, qreal bytesPerSecond, const QString &interruption);
    // The folder part of a file path: everything before the last "/".
    static QString folderOf(const QString &filePath);
    // Full target path of a download.
    static QString pathOf(const QWebEngineDownloadItem *download);

    // Opens a file or folder URL; the desktop's handler unless replaced (tests do).
    using UrlOpener = std::function<bool(const QUrl &)>;
    static void setUrlOpener(UrlOpener opener);
    static bool openUrl(const QUrl &url);

signals:
    void removeClicked(DownloadWidget *self);

protected:
    void mouseDoubleClickEvent(QMouseEvent *event) override;

private slots:
    void updateWidget();

private:
    void openFolder();

    QGridLayout *m_topLevelLayout = nullptr;
    QLabel *m_dstName = nullptr;
    QPushButton *m_btnOpenDir = nullptr;
    QProgressBar *m_progressBar = nullptr;
    // Owned by the web profile, which may drop it before the row goes.
    QPointer<QWebEngineDownloadItem> m_download;
    QElapsedTimer m_timeAdded; // base of the speed figure
};
