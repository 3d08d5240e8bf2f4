#include "tests/support/testhttpserver.h"

#include <QTimer>

TestHttpServer::TestHttpServer(QObject *parent) : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, &TestHttpServer::handleConnection);
}

bool TestHttpServer::listen()
{
    return m_server.listen(QHostAddress::LocalHost, 0);
}

quint16 TestHttpServer::port() const
{
    return m_server.serverPort();
}

QUrl TestHttpServer::url(const QString &path) const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(port()).arg(path));
}

void TestHttpServer::setResponse(const QString &path, const Response &response)
{
    m_responses.insert(path, response);
}

void TestHttpServer::setHtml(const QString &path, const QString &html)
{
    Response r;
    r.body = html.toUtf8();
    setResponse(path, r);
}

void TestHttpServer::setHandler(const QString &path, Handler handler)
{
    m_handlers.insert(path, std::move(handler));
}

void TestHttpServer::handleConnection()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        auto buffer = QSharedPointer<QByteArray>::create();
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket, buffer] {
            buffer->append(socket->readAll());
            if (!buffer->contains("\r\n\r\n"))
                return;
            const QList<QByteArray> requestLine = buffer->left(buffer->indexOf("\r\n")).split(' ');
            buffer->clear();
            const QByteArray target = requestLine.value(1);
            const QString pathAndQuery = QString::fromUtf8(target);
            const QString path = pathAndQuery.section(QLatin1Char('?'), 0, 0);
            m_requests << pathAndQuery;
            emit requestSeen(pathAndQuery);

            Response r;
            if (m_handlers.contains(path)) {
                r = m_handlers.value(path)(target);
            } else if (m_responses.contains(path)) {
                r = m_responses.value(path);
            } else {
                r.status = 404;
                r.body = "not found";
                r.contentType = "text/plain";
            }
            QByteArray head = "HTTP/1.0 " + QByteArray::number(r.status) + " X\r\n";
            head += "Content-Type: " + r.contentType + "\r\n";
            if (r.sendLength)
                head += "Content-Length: " + QByteArray::number(r.body.size()) + "\r\n";
            for (const auto &h : r.headers)
                head += h.first + ": " + h.second + "\r\n";
            head += "Connection: close\r\n\r\n";
            if (r.hold) {
                m_stalled.insert(pathAndQuery,
                                 {socket, QSharedPointer<QByteArray>::create(head + r.body)});
                return;
            }
            socket->write(head);
            if (r.stallAfter >= 0) {
                socket->write(r.body.left(r.stallAfter));
                auto rest = QSharedPointer<QByteArray>::create(r.body.mid(r.stallAfter));
                m_stalled.insert(pathAndQuery, {socket, rest});
                if (r.trickle) {
                    auto *timer = new QTimer(socket);
                    connect(timer, &QTimer::timeout, socket, [socket, rest] {
                        if (rest->size() <= 1024)
                            return;
                        socket->write(rest->left(1024));
                        rest->remove(0, 1024);
                    });
                    timer->start(20);
                }
                return;
            }
            socket->write(r.body);
            socket->disconnectFromHost();
        });
    }
}

void TestHttpServer::release(const QString &pathAndQuery, bool complete)
{
    const auto stalled = m_stalled.take(pathAndQuery);
    QTcpSocket *socket = stalled.first;
    if (!socket)
        return;
    qDeleteAll(socket->findChildren<QTimer *>());
    if (!complete)
        return socket->abort();
    socket->write(*stalled.second);
    socket->disconnectFromHost();
}
