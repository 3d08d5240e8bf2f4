#include "web/webpage.h"

#include "platform/proxyconfig.h"
#include "store/appsettings.h"
#include "store/serviceurl.h"

#include <QLoggingCategory>
#include <QMessageBox>
#include <QPointer>

Q_LOGGING_CATEGORY(lcWebPage, "norva.webpage")

WebPage::WebPage(QWebEngineProfile *profile, QObject *parent) : QWebEnginePage(profile, parent)
{
    connect(this, &QWebEnginePage::authenticationRequired, this,
            &WebPage::handleAuthenticationRequired);
    connect(this, &QWebEnginePage::featurePermissionRequested, this,
            &WebPage::handleFeaturePermissionRequested);
    connect(this, &QWebEnginePage::proxyAuthenticationRequired, this,
            &WebPage::handleProxyAuthenticationRequired);
    connect(this, &QWebEnginePage::registerProtocolHandlerRequested, this,
            &WebPage::handleRegisterProtocolHandlerRequested);
    connect(this, &QWebEnginePage::selectClientCertificate, this,
            &WebPage::handleSelectClientCertificate);
}

QString WebPage::permissionQuestion(QWebEnginePage::Feature feature)
{
    switch (feature) {
    case Notifications:
        return tr("Allow %1 to show notification on your desktop?");
    case Geolocation:
        return tr("Allow %1 to access your location information?");
    case MediaAudioCapture:
        return tr("Allow %1 to access your microphone?");
    case MediaVideoCapture:
        return tr("Allow %1 to access your webcam?");
    case MediaAudioVideoCapture:
        return tr("Allow %1 to access your microphone and webcam?");
    case MouseLock:
        return tr("Allow %1 to lock your mouse cursor?");
    case DesktopVideoCapture:
        return tr("Allow %1 to capture video of your desktop?");
    case DesktopAudioVideoCapture:
        return tr("Allow %1 to capture audio and video of your desktop?");
    }
    return QString();
}

bool WebPage::askUser(const QString &question)
{
    QWidget *parent = view() ? view()->window() : nullptr;
    // On the heap: the parent window may be deleted while the box waits.
    QPointer<QMessageBox> box =
        new QMessageBox(QMessageBox::Question, tr("Permission Request"), question,
                        QMessageBox::Yes | QMessageBox::No, parent);
    const int answer = box->exec();
    delete box;
    return answer == QMessageBox::Yes;
}

void WebPage::handleAuthenticationRequired(const QUrl &requestUrl, QAuthenticator *auth)
{
    // No credentials are ever handed out. The engine fills in the realm before asking, so an
    // authenticator left as it came would go back as an empty user name and password (and be
    // retried on every 401); a null one cancels the request instead.
    Q_UNUSED(requestUrl);
    if (auth)
        *auth = QAuthenticator();
}

void WebPage::handleFeaturePermissionRequested(const QUrl &securityOrigin,
                                               QWebEnginePage::Feature feature)
{
    const QString question = permissionQuestion(feature);
    if (question.isEmpty()) {
        setFeaturePermission(securityOrigin, feature, PermissionDeniedByUser);
        return;
    }
    QPointer<WebPage> self(this);
    const bool granted = askUser(question.arg(securityOrigin.host(QUrl::FullyDecoded)));
    if (!self)
        return;
    setFeaturePermission(securityOrigin, feature,
                         granted ? PermissionGrantedByUser : PermissionDeniedByUser);
}

void WebPage::handleProxyAuthenticationRequired(const QUrl &requestUrl, QAuthenticator *auth,
                                                const QString &proxyHost)
{
    Q_UNUSED(requestUrl);
    if (!auth)
        return;
    // Only the manual proxy that the user configured gets the stored credentials; any other
    // proxy asking is refused, as is the configured one when no user name is stored.
    const ProxyConfig config =
        appSettings ? ProxyConfig::fromSettings(*appSettings) : ProxyConfig();
    if (config.answersAuthenticationFor(proxyHost)) {
        auth->setUser(config.user);
        auth->setPassword(config.password);
        return;
    }
    qCInfo(lcWebPage) << "Proxy authentication refused for" << proxyHost;
    *auth = QAuthenticator();
}

void WebPage::handleRegisterProtocolHandlerRequested(
    QWebEngineRegisterProtocolHandlerRequest request)
{
    const QString question = tr("Allow %1 to open all %2 links?")
                                 .arg(request.origin().host(QUrl::FullyDecoded), request.scheme());
    if (askUser(question))
        request.accept();
    else
        request.reject();
}

bool WebPage::offersClientCertificateTo(const QUrl &hostAndPort)
{
    QUrl server;
    server.setScheme(QStringLiteral("https"));
    server.setHost(hostAndPort.host());
    server.setPort(hostAndPort.port(443));
    return !hostAndPort.host().isEmpty() && ServiceUrl::isServiceOrigin(server);
}

void WebPage::handleSelectClientCertificate(
    QWebEngineClientCertificateSelection clientCertSelection)
{
    // A certificate tells who the user is: the service gets one without a question, any other
    // site none (the engine then goes on without one).
    const QVector<QSslCertificate> certificates = clientCertSelection.certificates();
    if (certificates.isEmpty() || !offersClientCertificateTo(clientCertSelection.host())) {
        qCInfo(lcWebPage) << "No client certificate for" << clientCertSelection.host().host();
        clientCertSelection.selectNone();
    } else {
        clientCertSelection.select(certificates.first());
    }
}

bool WebPage::certificateError(const QWebEngineCertificateError &error)
{
    // Never override a certificate error; the load ends with the engine's error page.
    Q_UNUSED(error);
    return false;
}
