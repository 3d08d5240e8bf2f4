#include "platform/proxyconfig.h"

#include "store/appsettings.h"

#include <QLoggingCategory>
#include <QNetworkProxyFactory>

Q_LOGGING_CATEGORY(lcProxy, "norva.proxy")

ProxyConfig ProxyConfig::fromSettings(const AppSettings &settings)
{
    ProxyConfig config;
    config.mode = settings.proxyMode;
    config.type = settings.proxyType;
    config.host = settings.proxyHost.trimmed();
    config.port = settings.proxyPort;
    config.user = settings.proxyUsername;
    config.password = settings.proxyPassword;
    return config;
}

bool ProxyConfig::usesSystemConfiguration() const
{
    return mode == SystemProxy;
}

QNetworkProxy ProxyConfig::applicationProxy() const
{
    if (mode != ManualProxy)
        return QNetworkProxy(QNetworkProxy::NoProxy);

    QNetworkProxy::ProxyType proxyType;
    if (type == Http) {
        proxyType = QNetworkProxy::HttpProxy;
    } else if (type == Socks5) {
        proxyType = QNetworkProxy::Socks5Proxy;
    } else {
        qCWarning(lcProxy) << "Manual proxy refused: unknown type" << type;
        return QNetworkProxy(QNetworkProxy::NoProxy);
    }
    const QString name = host.trimmed();
    if (name.isEmpty() || port < 1 || port > 65535) {
        qCWarning(lcProxy) << "Manual proxy refused: host" << name << "port" << port;
        return QNetworkProxy(QNetworkProxy::NoProxy);
    }
    QNetworkProxy proxy(proxyType, name, quint16(port));
    // Credentials let the client's own requests pass a proxy that asks for them.
    if (!user.isEmpty()) {
        proxy.setUser(user);
        proxy.setPassword(password);
    }
    return proxy;
}

bool ProxyConfig::answersAuthenticationFor(const QString &proxyHost) const
{
    const QNetworkProxy proxy = applicationProxy();
    if (proxy.type() == QNetworkProxy::NoProxy || proxy.user().isEmpty())
        return false;
    return proxy.hostName().compare(proxyHost.trimmed(), Qt::CaseInsensitive) == 0;
}

void ProxyConfig::apply() const
{
    // Qt's default follows the system, so "no proxy" is set explicitly too. Setting the
    // application proxy drops the system factory.
    if (usesSystemConfiguration())
        QNetworkProxyFactory::setUseSystemConfiguration(true);
    else
        QNetworkProxy::setApplicationProxy(applicationProxy());
}
