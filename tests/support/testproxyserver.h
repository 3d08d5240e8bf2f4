#pragma once

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QStringList>
#include <QTcpServer>

// A forwarding HTTP proxy on loopback for tests. It wants Basic authentication (407 with
// Proxy-Authenticate until the right Proxy-Authorization arrives) and resolves only the host
// names it was given, so a page under such a name loads only through this proxy.
class TestProxyServer : public QObject
{
    Q_OBJECT
public:
    TestProxyServer(const QString &user, const QString &password, QObject *parent = nullptr);

    bool listen();
    quint16 port() const { return m_server.serverPort(); }
    // Requests for this host name go to 127.0.0.1.
    void addHost(const QString &hostName) { m_hosts << hostName.toLower(); }

    // Absolute URLs forwarded after a successful authentication.
    QStringList forwarded() const { return m_forwarded; }
    int challenges() const { return m_challenges; }

private:
    void handleConnection();
    void handleRequest(class QTcpSocket *client, const QByteArray &head);

    QTcpServer m_server;
    QByteArray m_expectedAuthorization;
    QStringList m_hosts;
    QStringList m_forwarded;
    int m_challenges = 0;
};
