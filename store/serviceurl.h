#pragma once

#include <QString>

class QUrl;

// The hosted service's base URL: compiled in, overridable through NORVA_SERVICE_URL.
class ServiceUrl
{
public:
    // Resolved once per process; always ends in "/".
    static QString base();

    // An override must be an http(s) URL ending in "/"; anything else falls back with a warning.
    static QString choose(const QString &override, const QString &compiledDefault);

    static QString versionFileUrl();
    // Whether the URL belongs to the service: scheme, host and port of the base URL.
    static bool isServiceOrigin(const QUrl &url);
    // Whether page may be the main page of the service at serviceUrl, stored and loaded: an
    // http(s) address of that very origin (scheme, host, port); after a version file that came
    // over https, an https one.
    static bool isMainPageOf(const QString &page, const QString &serviceUrl,
                             bool overHttps = false);
    static QString updateLogUrl();
};
