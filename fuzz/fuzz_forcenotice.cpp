// The forced-notice configuration and its matching. The first two bytes are the notice's
// business type, the text up to the first newline its type, the rest the configuration.
#include "fuzz/fuzzcheck.h"
#include "notify/forcenoticerules.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    const int busicType = int(int8_t(data[0])) * 256 + data[1];
    const QByteArray rest(reinterpret_cast<const char *>(data + 2), int(size - 2));
    const int newline = rest.indexOf('\n');
    const QString type = QString::fromUtf8(newline < 0 ? QByteArray() : rest.left(newline));
    const QJsonObject config =
        QJsonDocument::fromJson(newline < 0 ? rest : rest.mid(newline + 1)).object();

    ForceNoticeRules rules;
    rules.configure(config);
    FUZZ_CHECK(rules.stayTimeMs() >= 2000 && rules.stayTimeMs() <= 86400000);
    int target = -12345;
    if (rules.matches(target, busicType, type)) {
        FUZZ_CHECK(busicType == 2 || busicType == 6);
        FUZZ_CHECK(rules.busicTypes().contains(busicType));
        FUZZ_CHECK(rules.noticeKeys().values().contains(target));
    } else {
        FUZZ_CHECK(target == -12345);
    }
    // A second configuration starts from scratch.
    rules.configure(QJsonObject{{QStringLiteral("status"), 1}});
    FUZZ_CHECK(!rules.matches(target, busicType, type));
    return 0;
}
