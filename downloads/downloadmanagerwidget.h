#pragma once

#include <QWidget>

#include <functional>

struct AppSettings;
class DownloadWidget;
class QLabel;
class QScrollArea;
class QVBoxLayout;
class QWebEngineDownloadItem;

// The window listing what pages download; one row per accepted download, newest on top.
class DownloadManagerWidget : public QWidget
{
    Q_OBJECT
public:
    explicit DownloadManagerWidget(QWidget *parent = nullptr);

    void setAppSettings(AppSettings *settings) { m_settings = settings; }
    AppSettings *appSettings() const { return m_settings; }

    // Puts a row at the top; an older row for the same target path leaves the list and its
    // download, if still running, is cancelled.
    void add(DownloadWidget *row);
    // The rows in list order, top first.
    QList<DownloadWidget *> rows() const;
    int numDownloads() const { return m_numDownloads; }
    QLabel *zeroItemsLabel() const { return m_zeroItemsLabel; }

    // Where the save dialog starts: the download folder, one "/", the file name.
    static QString suggestedPath(const QString &downloadPath, const QString &fileName);
    // Save dialog filter for a MIME type.
    static QString fileFilter(const QString &mimeType);

    // Asks where to save (parent, caption, start path, filter); empty means cancelled.
    // A modal file dialog unless replaced (tests do).
    using SaveFileAsker =
        std::function<QString(QWidget *, const QString &, const QString &, const QString &)>;
    void setSaveFileAsker(SaveFileAsker asker) { m_askSaveFile = std::move(asker); }

public slots:
    void downloadRequested(QWebEngineDownloadItem *download);

private:
    QVBoxLayout *m_topLevelLayout = nullptr;
    QScrollArea *m_scrollArea = nullptr;
    QWidget *m_items = nullptr;
    QVBoxLayout *m_itemsLayout = nullptr;
    QLabel *m_zeroItemsLabel = nullptr;
    int m_numDownloads = 0;
    AppSettings *m_settings = nullptr;
    SaveFileAsker m_askSaveFile;
};
