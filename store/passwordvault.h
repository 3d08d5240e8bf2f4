#pragma once

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>

#include "store/secretkeyring.h"

// The keys that protect saved passwords. A key is 32 random bytes kept as an item of the
// desktop keyring; a row holds only the AES-256-GCM sealed password, bound to its user name,
// and the id of the key that sealed it. Keyring jobs answer later: until the keys are read the
// vault is pending, and `settled` tells when it no longer is.
class PasswordVault : public QObject
{
    Q_OBJECT
public:
    enum class State {
        Closed,
        Pending,
        Ready,
        // No keyring this time: passwords keep their old scrambled form.
        Unavailable
    };
    enum class Opened {
        Ok,
        // No key for it here, or the text was not sealed with this name and key.
        Unreadable
    };

    explicit PasswordVault(QObject *parent = nullptr);

    State state() const { return m_state; }
    // Whether rows may be sealed with keys not read yet: only while the first open runs. A
    // retry or a new key after a clear leaves every readable row readable meanwhile.
    bool isPending() const { return m_state == State::Pending && m_blocking; }

    // Reads the keys the rows name (newest first). Without any, or when none of them is there
    // any more, a key is made: under the default id when no row names a key, else under a new
    // id, so that an item a locked keyring only hid is never overwritten.
    void open(const QStringList &keyIds);
    // After a failure that was not a refusal, a keyring that has come up since is used.
    void retry(const QStringList &keyIds);
    // Keyring items of keys that no row names any more go; the current key stays.
    void dropUnused(const QStringList &keyIdsInUse);
    // Every row is gone: their keys go too (a copy of the old file is then useless), and a new
    // key takes the default id.
    void renew(const QStringList &formerKeyIds);

    static bool isSealed(const QString &stored);
    // The key id of a sealed text; empty for anything else.
    static QString keyIdOf(const QString &stored);
    // False (and `stored` empty) while there is no key to seal with.
    bool seal(const QString &name, const QString &password, QString &stored) const;
    Opened unseal(const QString &name, const QString &stored, QString &password) const;
    // Whether the current key is the one that sealed this text.
    bool isCurrent(const QString &stored) const;

    // The keyring item of a key id.
    static QString itemName(const QString &keyId);
    static QString defaultKeyId();

signals:
    // Pending ended: Ready or Unavailable.
    void settled();

private:
    void readNext();
    void createKey(const QString &keyId);
    void finish(State state);
    void fail(const SecretKeyring::Answer &answer);
    bool isCurrentGeneration(int generation) const { return generation == m_generation; }

    State m_state = State::Closed;
    bool m_blocking = false;
    int m_generation = 0;
    QStringList m_toRead;
    QStringList m_wanted;
    bool m_sawFailure = false;
    SecretKeyring::Answer m_failure;
    QHash<QString, QByteArray> m_keys;
    QString m_current;
};
