#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

class QObject;

// The desktop's secret store (Secret Service or KWallet, the Windows credential store) through
// QtKeychain. Every call answers later, on the event loop, and not at all once `context` is gone.
class SecretKeyring
{
public:
    enum class Outcome {
        Done,
        // No such item; a locked keyring whose unlocking was refused answers the same.
        Missing,
        // No keyring at all: no session bus, no Secret Service, no wallet.
        Unavailable,
        // The keyring is there but refused (locked, or the user said no).
        Refused
    };
    struct Answer
    {
        Outcome outcome = Outcome::Unavailable;
        QByteArray data;
        QString error;
    };
    using Callback = std::function<void(const Answer &)>;

    static void read(const QString &key, QObject *context, Callback done);
    static void write(const QString &key, const QByteArray &data, QObject *context, Callback done);
    static void remove(const QString &key, QObject *context, Callback done);

    // Logs that passwords stay in their unprotected form, once per process however many
    // stores find out.
    static void reportUnprotected(const Answer &answer);
};
