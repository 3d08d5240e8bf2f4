#include "store/proxysecret.h"

#include "store/secretkeyring.h"
#include "store/settingsstore.h"

#include <QEventLoop>
#include <QLoggingCategory>
#include <QTimer>

Q_DECLARE_LOGGING_CATEGORY(lcSecrets)

namespace {
const QString kItem = QStringLiteral("proxy-password");
} // namespace

ProxySecret::ProxySecret(QObject *parent) : QObject(parent)
{
    SettingsStore::setProxyPasswordKeeper([this](const QString &password) { store(password); });
}

ProxySecret::~ProxySecret()
{
    SettingsStore::setProxyPasswordKeeper({});
}

void ProxySecret::load()
{
    QString clear;
    if (SettingsStore::clearProxyPassword(clear) && !clear.isEmpty()) {
        // Written by an older version or without a keyring: it is the latest, and moves.
        ++m_writes;
        SecretKeyring::write(
            kItem, clear.toUtf8(), this, [this](const auto &answer) {
                const bool moved = answer.outcome == SecretKeyring::Outcome::Done &&
                                   SettingsStore::keepProxyPasswordInKeyring();
                if (moved)
                    qCInfo(lcSecrets)
                        << "The proxy password moved from the settings file to the keyring";
                else
                    SecretKeyring::reportUnprotected(answer);
                --m_writes;
                emit kept(moved);
            });
        return;
    }
    if (!SettingsStore::isProxyPasswordInKeyring())
        return;
    SecretKeyring::read(kItem, this, [this](const auto &answer) {
        if (answer.outcome == SecretKeyring::Outcome::Done)
            emit loaded(QString::fromUtf8(answer.data));
        else if (answer.outcome == SecretKeyring::Outcome::Missing)
            qCWarning(lcSecrets) << "The keyring no longer holds the proxy password";
        else
            SecretKeyring::reportUnprotected(answer);
    });
}

void ProxySecret::store(const QString &password)
{
    ++m_writes;
    if (password.isEmpty()) {
        // Nothing secret to keep: the file gets the empty text as before, once the item is gone.
        SecretKeyring::remove(kItem, this, [this](const auto &) {
            SettingsStore::keepProxyPasswordInFile(QString());
            --m_writes;
            emit kept(false);
        });
        return;
    }
    SecretKeyring::write(kItem, password.toUtf8(), this, [this, password](const auto &answer) {
        const bool inKeyring = answer.outcome == SecretKeyring::Outcome::Done &&
                               SettingsStore::keepProxyPasswordInKeyring();
        if (!inKeyring) {
            SettingsStore::keepProxyPasswordInFile(password);
            SecretKeyring::reportUnprotected(answer);
        }
        --m_writes;
        emit kept(inKeyring);
    });
}

bool ProxySecret::finishWrites(int timeoutMs)
{
    if (m_writes == 0)
        return true;
    QEventLoop loop;
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    connect(this, &ProxySecret::kept, &loop, [this, &loop] {
        if (m_writes == 0)
            loop.quit();
    });
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    return m_writes == 0;
}
