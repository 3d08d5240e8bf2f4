#include "web/engineflags.h"

#include <QList>

QByteArray EngineFlags::withCompatibilityMode(const QByteArray &flags)
{
    static const char *const added[] = {"--disable-gpu", "--disable-gpu-compositing"};
    const QList<QByteArray> present = flags.simplified().split(' ');
    QByteArray result = flags.trimmed();
    for (const char *flag : added) {
        if (present.contains(QByteArray(flag)))
            continue;
        if (!result.isEmpty())
            result += ' ';
        result += flag;
    }
    return result;
}

void EngineFlags::enableCompatibilityMode()
{
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS",
            withCompatibilityMode(qgetenv("QTWEBENGINE_CHROMIUM_FLAGS")));
}
