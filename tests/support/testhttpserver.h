#pragma once

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QSharedPointer>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>

#include <functional>

// A small HTTP/1.0 server on loopback for tests: fixed answers per path, optional handlers.
class TestHttpServer : public QObject
{
    Q_OBJECT
public:
    struct Response
    {
        int status = 200;
        QByteArray contentType = "text/html; charset=utf-8";
        QByteArray body;
        QList<QPair<QByteArray, QByteArray>> headers;
        bool sendLength = true;
        // Sends only this many bytes of the body until release() (a download caught running);
        // with trickle, then a kilobyte more every 20 ms, but never the last one.
        int stallAfter = -1;
        bool trickle = false;
        // Sends nothing at all, not even the status line, until release(): a navigation that
        // stays pending.
        bool hold = false;
    };
    using Handler = std::function<Response(const QByteArray &pathAndQuery)>;

    explicit TestHttpServer(QObject *parent = nullptr);

    bool listen();
    QUrl url(const QString &path = QStringLiteral("/")) const;
    quint16 port() const;

    void setResponse(const QString &path, const Response &response);
    void setHtml(const QString &path, const QString &html);
    void setHandler(const QString &path, Handler handler);
    // Every request path (with query) seen so far.
    QStringList requests() const { return m_requests; }
    // Sends the rest of a stalled answer, or drops its connection.
    void release(const QString &pathAndQuery, bool complete = true);

signals:
    void requestSeen(const QString &pathAndQuery);

private:
    void handleConnection();

    QTcpServer m_server;
    QHash<QString, Response> m_responses;
    QHash<QString, Handler> m_handlers;
    QStringList m_requests;
    QHash<QString, QPair<QPointer<QTcpSocket>, QSharedPointer<QByteArray>>> m_stalled;
};
