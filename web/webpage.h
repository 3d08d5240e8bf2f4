#pragma once

#include <QWebEngineClientCertificateSelection>
#include <QWebEnginePage>
#include <QWebEngineRegisterProtocolHandlerRequest>

#include <QAuthenticator>

// The page behind the views of tabs and popup windows: decides permission, scheme-handler,
// authentication and certificate questions for the user.
class WebPage : public QWebEnginePage
{
    Q_OBJECT
public:
    explicit WebPage(QWebEngineProfile *profile, QObject *parent = nullptr);

    // The question asked for a feature, with %1 standing for the requesting host; empty for a
    // feature that is never granted.
    static QString permissionQuestion(QWebEnginePage::Feature feature);
    // Whether a server that asks for a client certificate (host and port, as the engine names
    // it) gets one: only the service's own origin does, and only over https.
    static bool offersClientCertificateTo(const QUrl &hostAndPort);

protected:
    bool certificateError(const QWebEngineCertificateError &error) override;

private slots:
    void handleAuthenticationRequired(const QUrl &requestUrl, QAuthenticator *auth);
    void handleFeaturePermissionRequested(const QUrl &securityOrigin,
                                          QWebEnginePage::Feature feature);
    void handleProxyAuthenticationRequired(const QUrl &requestUrl, QAuthenticator *auth,
                                           const QString &proxyHost);
    void handleRegisterProtocolHandlerRequested(QWebEngineRegisterProtocolHandlerRequest request);
    void handleSelectClientCertificate(QWebEngineClientCertificateSelection clientCertSelection);

private:
    bool askUser(const QString &question);
};
