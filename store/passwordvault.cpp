#include "store/passwordvault.h"

#include <QLoggingCategory>

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <cstring>
#include <memory>

Q_DECLARE_LOGGING_CATEGORY(lcSecrets)

namespace {

const int kKeySize = 32;
const int kNonceSize = 12;
const int kTagSize = 16;
const QString kPrefix = QStringLiteral("#1:");

// Sixteen characters that the old scrambled form never holds and that an older version's
// decoder skips altogether: a sealed row reads there as an empty password, never a wrong one.
const char kDigits[] = "12356789ABCDabcd";

QByteArray toDigits(const QByteArray &bytes)
{
    QByteArray text;
    text.reserve(bytes.size() * 2);
    for (char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        text.append(kDigits[byte >> 4]);
        text.append(kDigits[byte & 0x0f]);
    }
    return text;
}

bool fromDigits(const QByteArray &text, QByteArray &bytes)
{
    if (text.size() % 2 != 0)
        return false;
    bytes.clear();
    bytes.reserve(text.size() / 2);
    for (int i = 0; i < text.size(); i += 2) {
        const char *high = text[i] ? strchr(kDigits, text[i]) : nullptr;
        const char *low = text[i + 1] ? strchr(kDigits, text[i + 1]) : nullptr;
        if (!high || !low)
            return false;
        bytes.append(static_cast<char>(((high - kDigits) << 4) | (low - kDigits)));
    }
    return true;
}

QByteArray randomBytes(int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    if (RAND_bytes(reinterpret_cast<unsigned char *>(bytes.data()), size) != 1)
        return QByteArray();
    return bytes;
}

using CipherContext = std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)>;

const unsigned char *bytesOf(const QByteArray &a)
{
    return reinterpret_cast<const unsigned char *>(a.constData());
}

// nonce | ciphertext | tag, the name as associated data; empty on any failure.
QByteArray gcmSeal(const QByteArray &key, const QByteArray &aad, const QByteArray &plain)
{
    const QByteArray nonce = randomBytes(kNonceSize);
    CipherContext ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
    if (nonce.isEmpty() || !ctx)
        return QByteArray();
    QByteArray out(plain.size() + kTagSize, Qt::Uninitialized);
    auto *cipher = reinterpret_cast<unsigned char *>(out.data());
    int len = 0;
    int total = 0;
    if (EVP_EncryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, bytesOf(key), bytesOf(nonce)) !=
            1 ||
        EVP_EncryptUpdate(ctx.get(), nullptr, &len, bytesOf(aad), aad.size()) != 1 ||
        EVP_EncryptUpdate(ctx.get(), cipher, &len, bytesOf(plain), plain.size()) != 1)
        return QByteArray();
    total = len;
    if (EVP_EncryptFinal_ex(ctx.get(), cipher + total, &len) != 1)
        return QByteArray();
    total += len;
    if (EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_GET_TAG, kTagSize, cipher + total) != 1)
        return QByteArray();
    out.resize(total + kTagSize);
    return nonce + out;
}

bool gcmOpen(const QByteArray &key, const QByteArray &aad, const QByteArray &sealed,
             QByteArray &plain)
{
    if (sealed.size() < kNonceSize + kTagSize)
        return false;
    const QByteArray nonce = sealed.left(kNonceSize);
    const QByteArray cipher = sealed.mid(kNonceSize, sealed.size() - kNonceSize - kTagSize);
    QByteArray tag = sealed.right(kTagSize);
    CipherContext ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
    if (!ctx)
        return false;
    plain = QByteArray(cipher.size(), Qt::Uninitialized);
    auto *out = reinterpret_cast<unsigned char *>(plain.data());
    int len = 0;
    int total = 0;
    if (EVP_DecryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, bytesOf(key), bytesOf(nonce)) !=
            1 ||
        EVP_DecryptUpdate(ctx.get(), nullptr, &len, bytesOf(aad), aad.size()) != 1 ||
        EVP_DecryptUpdate(ctx.get(), out, &len, bytesOf(cipher), cipher.size()) != 1)
        return false;
    total = len;
    if (EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_TAG, kTagSize, tag.data()) != 1 ||
        EVP_DecryptFinal_ex(ctx.get(), out + total, &len) != 1) {
        plain.clear();
        return false;
    }
    plain.resize(total + len);
    return true;
}

} // namespace

PasswordVault::PasswordVault(QObject *parent) : QObject(parent) {}

QString PasswordVault::defaultKeyId()
{
    return QStringLiteral("1");
}

QString PasswordVault::itemName(const QString &keyId)
{
    return QStringLiteral("login-key-") + keyId;
}

bool PasswordVault::isSealed(const QString &stored)
{
    return stored.startsWith(kPrefix);
}

QString PasswordVault::keyIdOf(const QString &stored)
{
    if (!isSealed(stored))
        return QString();
    const int end = stored.indexOf(QLatin1Char(':'), kPrefix.size());
    return end < 0 ? QString() : stored.mid(kPrefix.size(), end - kPrefix.size());
}

bool PasswordVault::isCurrent(const QString &stored) const
{
    return !m_current.isEmpty() && keyIdOf(stored) == m_current;
}

bool PasswordVault::seal(const QString &name, const QString &password, QString &stored) const
{
    stored.clear();
    if (m_state != State::Ready || m_current.isEmpty() || password.isEmpty())
        return false;
    const QByteArray sealed = gcmSeal(m_keys.value(m_current), name.toUtf8(), password.toUtf8());
    if (sealed.isEmpty())
        return false;
    stored = kPrefix + m_current + QLatin1Char(':') + QString::fromLatin1(toDigits(sealed));
    return true;
}

PasswordVault::Opened PasswordVault::unseal(const QString &name, const QString &stored,
                                            QString &password) const
{
    password.clear();
    const QString keyId = keyIdOf(stored);
    const auto key = m_keys.constFind(keyId);
    if (keyId.isEmpty() || key == m_keys.constEnd())
        return Opened::Unreadable;
    QByteArray sealed;
    QByteArray plain;
    if (!fromDigits(stored.mid(kPrefix.size() + keyId.size() + 1).toLatin1(), sealed) ||
        !gcmOpen(*key, name.toUtf8(), sealed, plain))
        return Opened::Unreadable;
    password = QString::fromUtf8(plain);
    return Opened::Ok;
}

void PasswordVault::open(const QStringList &keyIds)
{
    ++m_generation;
    m_state = State::Pending;
    m_keys.clear();
    m_current.clear();
    m_wanted = keyIds;
    m_wanted.removeDuplicates();
    m_toRead = m_wanted.isEmpty() ? QStringList{defaultKeyId()} : m_wanted;
    m_sawFailure = false;
    m_blocking = true;
    readNext();
}

void PasswordVault::retry(const QStringList &keyIds)
{
    if (m_state != State::Unavailable || m_failure.outcome == SecretKeyring::Outcome::Refused)
        return;
    open(keyIds);
    m_blocking = false;
}

void PasswordVault::readNext()
{
    if (m_toRead.isEmpty()) {
        const QStringList order = m_wanted.isEmpty() ? QStringList{defaultKeyId()} : m_wanted;
        for (const QString &id : order) {
            if (m_keys.contains(id)) {
                m_current = id;
                finish(State::Ready);
                return;
            }
        }
        if (m_sawFailure)
            fail(m_failure);
        else // a fresh id where rows name keys: never overwrite an item that is only hidden
            createKey(m_wanted.isEmpty() ? defaultKeyId()
                                         : QString::fromLatin1(toDigits(randomBytes(8))));
        return;
    }
    const QString id = m_toRead.takeFirst();
    const int generation = m_generation;
    SecretKeyring::read(itemName(id), this, [this, generation, id](const auto &answer) {
        if (!isCurrentGeneration(generation))
            return;
        using Outcome = SecretKeyring::Outcome;
        if (answer.outcome == Outcome::Done && answer.data.size() == kKeySize) {
            m_keys.insert(id, answer.data);
        } else if (answer.outcome == Outcome::Done || answer.outcome == Outcome::Missing) {
            // Only a key that rows name is missed; the default one is simply made.
            if (m_wanted.contains(id))
                qCWarning(lcSecrets).noquote()
                    << QStringLiteral("The keyring holds no usable key %1: passwords sealed "
                                      "with it cannot be read")
                           .arg(id);
        } else {
            // One refusal is enough: asking for the others would only bring more prompts.
            m_sawFailure = true;
            m_failure = answer;
            m_toRead.clear();
        }
        readNext();
    });
}

void PasswordVault::createKey(const QString &keyId)
{
    const QByteArray key = randomBytes(kKeySize);
    if (key.size() != kKeySize || keyId.isEmpty()) {
        SecretKeyring::Answer failure;
        failure.error = QStringLiteral("no random bytes");
        fail(failure);
        return;
    }
    m_state = State::Pending;
    const int generation = m_generation;
    SecretKeyring::write(itemName(keyId), key, this,
                         [this, generation, keyId, key](const auto &answer) {
                             if (!isCurrentGeneration(generation))
                                 return;
                             if (answer.outcome != SecretKeyring::Outcome::Done) {
                                 fail(answer);
                                 return;
                             }
                             m_keys.insert(keyId, key);
                             m_current = keyId;
                             finish(State::Ready);
                         });
}

void PasswordVault::dropUnused(const QStringList &keyIdsInUse)
{
    if (m_state != State::Ready)
        return;
    const QStringList known = m_keys.keys();
    for (const QString &id : known) {
        if (id == m_current || keyIdsInUse.contains(id))
            continue;
        m_keys.remove(id);
        SecretKeyring::remove(itemName(id), this, [id](const auto &answer) {
            if (answer.outcome != SecretKeyring::Outcome::Done)
                qCWarning(lcSecrets) << "Cannot remove the unused key" << id << answer.error;
        });
    }
}

void PasswordVault::renew(const QStringList &formerKeyIds)
{
    QStringList former = formerKeyIds + m_keys.keys();
    former.removeDuplicates();
    ++m_generation;
    m_keys.clear();
    m_current.clear();
    m_wanted.clear();
    m_toRead.clear();
    m_blocking = false;
    for (const QString &id : qAsConst(former)) {
        // The default item is overwritten by the new key right after.
        if (id == defaultKeyId())
            continue;
        SecretKeyring::remove(itemName(id), this, [id](const auto &answer) {
            if (answer.outcome != SecretKeyring::Outcome::Done)
                qCWarning(lcSecrets) << "Cannot remove the key" << id << answer.error;
        });
    }
    createKey(defaultKeyId());
}

void PasswordVault::fail(const SecretKeyring::Answer &answer)
{
    m_failure = answer;
    m_keys.clear();
    m_current.clear();
    SecretKeyring::reportUnprotected(answer);
    finish(State::Unavailable);
}

void PasswordVault::finish(State state)
{
    m_state = state;
    m_blocking = false;
    emit settled();
}
