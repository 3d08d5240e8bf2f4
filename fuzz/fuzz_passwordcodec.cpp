// The stored-password form: any stored text decodes without harm, and every password comes
// back unchanged from its stored form.
#include "fuzz/fuzzcheck.h"
#include "store/passwordcodec.h"

#include <QByteArray>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), int(size));
    FUZZ_CHECK(shuffleText(shuffleText(bytes)) == bytes);

    // Whatever sits in the database.
    QString plain = QStringLiteral("x");
    const bool decoded = decodePassword(QString::fromUtf8(bytes), plain);
    FUZZ_CHECK(decoded == !plain.isEmpty());

    // Round trip.
    const QString password = QString::fromUtf8(bytes);
    QString stored = QStringLiteral("x");
    const bool encoded = encodePassword(password, stored);
    FUZZ_CHECK(encoded == !password.isEmpty());
    FUZZ_CHECK(encoded == !stored.isEmpty());
    if (!encoded)
        return 0;
    for (const QChar c : stored)
        FUZZ_CHECK(c.unicode() < 0x80 && c != QLatin1Char('='));
    QString back;
    FUZZ_CHECK(decodePassword(stored, back));
    FUZZ_CHECK(back == password);
    return 0;
}
