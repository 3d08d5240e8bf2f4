#include "store/secretkeyring.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QObject>

#include <qt5keychain/keychain.h>

Q_LOGGING_CATEGORY(lcSecrets, "norva.secrets")

namespace {

bool unprotectedReported = false;

QString serviceName()
{
    return QCoreApplication::organizationName() + QLatin1Char('/') +
           QCoreApplication::applicationName();
}

SecretKeyring::Answer answerOf(QKeychain::Job *job)
{
    SecretKeyring::Answer answer;
    answer.error = job->errorString();
    switch (job->error()) {
    case QKeychain::NoError:
        answer.outcome = SecretKeyring::Outcome::Done;
        if (auto *read = qobject_cast<QKeychain::ReadPasswordJob *>(job))
            answer.data = read->binaryData();
        break;
    case QKeychain::EntryNotFound:
        answer.outcome = SecretKeyring::Outcome::Missing;
        break;
    case QKeychain::AccessDenied:
    case QKeychain::AccessDeniedByUser:
        answer.outcome = SecretKeyring::Outcome::Refused;
        break;
    default:
        answer.outcome = SecretKeyring::Outcome::Unavailable;
        break;
    }
    return answer;
}

void run(QKeychain::Job *job, const QString &key, QObject *context, SecretKeyring::Callback done)
{
    // Never the library's plain-text fallback: without a keyring the caller keeps its own form.
    job->setInsecureFallback(false);
    job->setAutoDelete(true);
    job->setKey(key);
    QObject::connect(job, &QKeychain::Job::finished, context,
                     [done = std::move(done)](QKeychain::Job *finished) {
                         if (done)
                             done(answerOf(finished));
                     });
    job->start();
}

} // namespace

void SecretKeyring::read(const QString &key, QObject *context, Callback done)
{
    run(new QKeychain::ReadPasswordJob(serviceName()), key, context, std::move(done));
}

void SecretKeyring::write(const QString &key, const QByteArray &data, QObject *context,
                          Callback done)
{
    auto *job = new QKeychain::WritePasswordJob(serviceName());
    job->setBinaryData(data);
    run(job, key, context, std::move(done));
}

void SecretKeyring::remove(const QString &key, QObject *context, Callback done)
{
    run(new QKeychain::DeletePasswordJob(serviceName()), key, context, std::move(done));
}

void SecretKeyring::reportUnprotected(const Answer &answer)
{
    if (unprotectedReported) {
        qCDebug(lcSecrets) << "Keyring still not usable:" << answer.error;
        return;
    }
    unprotectedReported = true;
    qCWarning(lcSecrets).noquote()
        << "No usable keyring; saved passwords stay in their unprotected form:" << answer.error;
}
