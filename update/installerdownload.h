#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <memory>

class QFile;
class QNetworkAccessManager;
class QNetworkReply;

// One installer download into its file: the request, the data written as they arrive, the watch
// for a connection that has gone quiet, and the verdict on what arrived. A redirect is not
// followed; the verdict names its target and the caller decides.
class InstallerDownload : public QObject
{
    Q_OBJECT
public:
    enum class Result {
        Running,      // no request finished since the last start
        Completed,    // the whole installer is in the file
        Cancelled,    // cancel(): the partial file stays
        Failed,       // a network error or a short answer: the file is removed
        Stalled,      // nothing arrived for stallTimeout(): the file is removed
        WriteFailed,  // the disk refused the data: the file is removed, writeError() says why
        NotInstaller, // an empty answer or a web page: the file is removed
        Redirected    // redirectTarget() says where to; the file stays for the next request
    };

    explicit InstallerDownload(QObject *parent = nullptr);
    ~InstallerDownload() override;

    // Opens fileName for writing, emptying it; false with the reason in *error.
    bool open(const QString &fileName, QString *error);
    // GETs url into the open file; finished() follows in every case.
    void start(const QUrl &url);
    void cancel();

    // How long the download may receive nothing before it ends as Stalled.
    int stallTimeout() const { return m_stallTimeoutMs; }
    void setStallTimeout(int ms) { m_stallTimeoutMs = ms; }

    QNetworkReply *reply() const { return m_reply; }
    QUrl url() const { return m_url; }
    bool cancelled() const { return m_cancelled; }
    // The file as opened; kept after it has been closed.
    QString fileName() const { return m_fileName; }
    Result result() const { return m_result; }
    QString writeError() const { return m_writeError; }
    QByteArray contentType() const { return m_contentType; }
    qint64 bytesWritten() const { return m_bytesWritten; }
    // Resolved against url().
    QUrl redirectTarget() const { return m_redirectTarget; }

public slots:
    void readyRead();

signals:
    void progress(qint64 received, qint64 total);
    void finished();

private:
    void handleFinished();
    Result verdict();
    bool incomplete() const;

    // Made at the first download: a network manager loads the bearer plugins when it is built.
    std::unique_ptr<QNetworkAccessManager> m_manager;
    QNetworkReply *m_reply = nullptr;
    std::unique_ptr<QFile> m_file;
    QString m_fileName;
    QUrl m_url;
    QTimer m_stallTimer;
    int m_stallTimeoutMs = 60000;
    bool m_cancelled = false;
    bool m_stalled = false;
    Result m_result = Result::Running;
    // A failed write aborts the download; the reason is kept for the caller.
    bool m_writeFailed = false;
    QString m_writeError;
    QByteArray m_contentType;
    qint64 m_bytesWritten = 0;
    QUrl m_redirectTarget;
};
