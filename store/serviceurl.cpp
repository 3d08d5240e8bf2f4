#include "store/serviceurl.h"

#include <QDebug>
#include <QUrl>

QString ServiceUrl::choose(const QString &override, const QString &compiledDefault)
{
    if (override.isEmpty())
        return compiledDefault;
    const QUrl url(override, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (url.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https")) &&
        !url.host().isEmpty() && override.endsWith(QLatin1Char('/')))
        return override;
    qWarning() << "Ignoring NORVA_SERVICE_URL" << override
               << "(expected an http or https URL ending in \"/\")";
    return compiledDefault;
}

QString ServiceUrl::base()
{
    static const QString url = choose(qEnvironmentVariable("NORVA_SERVICE_URL"),
                                      QStringLiteral(NORVA_DEFAULT_SERVICE_URL));
    return url;
}

QString ServiceUrl::versionFileUrl()
{
    return base() + QStringLiteral("kst-client/updates/version.json?v=") +
           QStringLiteral(NORVA_VERSION);
}

QString ServiceUrl::updateLogUrl()
{
    return base() + QStringLiteral("updates_new");
}

static bool sameOrigin(const QUrl &a, const QUrl &b)
{
    return a.isValid() && b.isValid() && !a.host().isEmpty() &&
           a.scheme().compare(b.scheme(), Qt::CaseInsensitive) == 0 &&
           a.host().compare(b.host(), Qt::CaseInsensitive) == 0 &&
           a.port(a.scheme() == QLatin1String("https") ? 443 : 80) ==
               b.port(b.scheme() == QLatin1String("https") ? 443 : 80);
}

bool ServiceUrl::isServiceOrigin(const QUrl &url)
{
    return sameOrigin(url, QUrl(base()));
}

bool ServiceUrl::isMainPageOf(const QString &page, const QString &serviceUrl, bool overHttps)
{
    if (page.trimmed().isEmpty())
        return false;
    const QUrl url(page);
    const QString scheme = url.scheme().toLower();
    if (scheme != QLatin1String("https") && (overHttps || scheme != QLatin1String("http")))
        return false;
    return sameOrigin(url, QUrl(serviceUrl));
}
