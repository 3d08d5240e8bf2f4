#pragma once

#include <QNetworkProxy>
#include <QString>

struct AppSettings;

// The proxy preferences and the one rule that turns them into the process-wide proxy: what the
// client's own requests use at once and what the web engine reads when it starts.
class ProxyConfig
{
public:
    enum Mode { NoProxy = 0, SystemProxy = 1, ManualProxy = 2 };
    enum Type { Http = 0, Socks5 = 1 };

    int mode = NoProxy;
    int type = Http;
    QString host;
    int port = 80;
    QString user;
    QString password;

    static ProxyConfig fromSettings(const AppSettings &settings);

    // True only for mode 1: the system's configuration decides.
    bool usesSystemConfiguration() const;
    // The explicit application proxy: a manual proxy (with its credentials) for a usable manual
    // entry, otherwise none. An unusable manual entry (no host, a port outside 1..65535, an
    // unknown type) is refused with a warning rather than guessed at.
    QNetworkProxy applicationProxy() const;
    // Whether the stored credentials answer an authentication request of this proxy host: only
    // in manual mode, with a user name, and for the configured host.
    bool answersAuthenticationFor(const QString &proxyHost) const;

    // Makes this configuration the process-wide one.
    void apply() const;
};
