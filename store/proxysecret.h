#pragma once

#include <QObject>
#include <QString>

// Keeps the manual proxy's password in the desktop keyring; the settings file then holds only a
// note that it is there. Without a keyring the file keeps it in clear, as older versions do.
// While it lives, every settings write that carries the password hands it here.
class ProxySecret : public QObject
{
    Q_OBJECT
public:
    explicit ProxySecret(QObject *parent = nullptr);
    ~ProxySecret() override;

    // At start: a clear password in the file moves to the keyring; one that the keyring holds is
    // read and reported by `loaded`.
    void load();
    // A new password: into the keyring, or into the file when the keyring does not take it.
    void store(const QString &password);
    // Waits, bounded, for keyring writes still on their way, so that a password saved right
    // before quitting is kept somewhere. Answers whether none is left.
    bool finishWrites(int timeoutMs);

signals:
    void loaded(const QString &password);
    // A load or store has reached the keyring (true) or the file (false).
    void kept(bool inKeyring);

private:
    int m_writes = 0;
};
