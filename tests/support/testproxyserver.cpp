#include "tests/support/testproxyserver.h"

#include <QNetworkProxy>
#include <QPointer>
#include <QSharedPointer>
#include <QTcpSocket>
#include <QUrl>

namespace {

void answer(QTcpSocket *client, const QByteArray &status, const QByteArray &extraHeaders)
{
    const QByteArray body = status + "\n";
    client->write("HTTP/1.1 " + status + "\r\n" + extraHeaders +
                  "Content-Type: text/plain\r\nContent-Length: " + QByteArray::number(body.size()) +
                  "\r\nConnection: close\r\nProxy-Connection: close\r\n\r\n" + body);
    client->disconnectFromHost();
}

} // namespace

TestProxyServer::TestProxyServer(const QString &user, const QString &password, QObject *parent)
    : QObject(parent),
      m_expectedAuthorization("Basic " + (user + QLatin1Char(':') + password).toUtf8().toBase64())
{
    connect(&m_server, &QTcpServer::newConnection, this, &TestProxyServer::handleConnection);
}

bool TestProxyServer::listen()
{
    return m_server.listen(QHostAddress::LocalHost, 0);
}

void TestProxyServer::handleConnection()
{
    while (QTcpSocket *client = m_server.nextPendingConnection()) {
        auto buffer = QSharedPointer<QByteArray>::create();
        auto handled = QSharedPointer<bool>::create(false);
        connect(client, &QTcpSocket::disconnected, client, &QObject::deleteLater);
        connect(client, &QTcpSocket::readyRead, this, [this, client, buffer, handled] {
            if (*handled)
                return; // one request per connection; the rest is ignored
            buffer->append(client->readAll());
            const int end = buffer->indexOf("\r\n\r\n");
            if (end < 0)
                return;
            const QByteArray head = buffer->left(end);
            *handled = true;
            handleRequest(client, head);
        });
    }
}

void TestProxyServer::handleRequest(QTcpSocket *client, const QByteArray &head)
{
    const QList<QByteArray> lines = head.split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    QByteArray authorization;
    for (const QByteArray &line : lines.mid(1)) {
        const int colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().toLower() == "proxy-authorization")
            authorization = line.mid(colon + 1).trimmed();
    }
    if (authorization != m_expectedAuthorization) {
        ++m_challenges;
        answer(client, "407 Proxy Authentication Required",
               "Proxy-Authenticate: Basic realm=\"norva-test-proxy\"\r\n");
        return;
    }

    const QUrl url(QString::fromLatin1(requestLine.value(1)));
    if (requestLine.value(0) != "GET" || url.scheme() != QLatin1String("http") ||
        !m_hosts.contains(url.host().toLower())) {
        answer(client, "502 Bad Gateway", QByteArray());
        return;
    }
    m_forwarded << url.toString();

    QPointer<QTcpSocket> downstream(client);
    auto *upstream = new QTcpSocket(this);
    upstream->setProxy(QNetworkProxy::NoProxy); // never back through the proxy under test
    connect(upstream, &QTcpSocket::connected, upstream, [upstream, url] {
        const QByteArray target = url.toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority);
        upstream->write("GET " + (target.isEmpty() ? QByteArray("/") : target) +
                        " HTTP/1.0\r\nHost: " + url.host().toUtf8() + "\r\n\r\n");
    });
    connect(upstream, &QTcpSocket::readyRead, upstream, [upstream, downstream] {
        if (downstream)
            downstream->write(upstream->readAll());
    });
    auto finish = [upstream, downstream] {
        if (downstream) {
            downstream->write(upstream->readAll());
            downstream->disconnectFromHost();
        }
        upstream->deleteLater();
    };
    connect(upstream, &QTcpSocket::disconnected, upstream, finish);
    connect(upstream, &QAbstractSocket::errorOccurred, upstream, [upstream, finish] {
        if (upstream->error() != QAbstractSocket::RemoteHostClosedError)
            finish();
    });
    upstream->connectToHost(QHostAddress::LocalHost, quint16(url.port(80)));
}
