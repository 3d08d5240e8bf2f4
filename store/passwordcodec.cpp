#include "store/passwordcodec.h"

#include <algorithm>

namespace {

const char kKey = 0x1F;

void xorWithKey(QByteArray &bytes)
{
    for (char &c : bytes)
        c = static_cast<char>(c ^ kKey);
}

} // namespace

QByteArray shuffleText(const QByteArray &text)
{
    const int equals = text.indexOf('=');
    int bodyLength = 0;
    if (equals >= 6)
        bodyLength = equals;
    else if (equals < 0 && text.size() >= 6)
        bodyLength = text.size();
    else
        return text;

    QByteArray result = text;
    std::reverse(result.begin() + 1, result.begin() + bodyLength);
    return result;
}

bool encodePassword(const QString &plain, QString &stored)
{
    stored.clear();
    if (plain.isEmpty())
        return false;
    QByteArray bytes = shuffleText(plain.toUtf8().toBase64());
    xorWithKey(bytes);
    stored = QString::fromLatin1(bytes);
    return true;
}

bool decodePassword(const QString &stored, QString &plain)
{
    plain.clear();
    if (stored.isEmpty())
        return false;
    QByteArray bytes = shuffleText(stored.toUtf8());
    xorWithKey(bytes);
    // The lenient decoder skips everything outside the alphabet, so the '=' padding that the
    // shuffle moved to the front (and any garbage) simply drops out.
    plain = QString::fromUtf8(QByteArray::fromBase64(bytes));
    return !plain.isEmpty();
}
