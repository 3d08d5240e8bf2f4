#pragma once

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QStringList>
#include <QTcpServer>
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

signals:
    void requestSeen(const QString &pathAndQuery);

private:
    void handleConnection();

    QTcpServer m_server;
    QHash<QString, Response> m_responses;
    QHash<QString, Handler> m_handlers;
    QStringList m_requests;
};
