// The notice message a page sends through the bridge: any text, JSON or not.
#include "bridge/noticemessage.h"
#include "fuzz/fuzzcheck.h"

#include <QByteArray>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), int(size));
    const NoticeMessage message = NoticeMessage::parse(text);
    if (!message.parsed)
        FUZZ_CHECK(message.title.isEmpty() && message.content.isEmpty() && message.busicType == 0);
    for (const QString &field : {message.title, message.content, text}) {
        const QString shortened = NoticeMessage::shortened(field);
        FUZZ_CHECK(shortened.size() <= 18);
        FUZZ_CHECK(field.size() > 15 || shortened == field);
    }
    return 0;
}
