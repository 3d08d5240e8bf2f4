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
    // Whether the URL belongs to the service: the origin of the base URL or of the main page.
    static bool isServiceOrigin(const QUrl &url, const QString &mainPage);
    static QString updateLogUrl();
};
