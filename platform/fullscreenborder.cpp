#include "platform/fullscreenborder.h"

#include <QGuiApplication>
#include <QWindow>

bool FullScreenBorder::keepBorder(QWindow *window)
{
    if (!window)
        return false;
    // Looked up by name so that no Windows-only header is needed to build.
    using SetHasBorderInFullScreen = void (*)(QWindow *, bool);
    const QFunctionPointer function =
        QGuiApplication::platformFunction(QByteArrayLiteral("WindowsSetHasBorderInFullScreen"));
    if (!function)
        return false;
    reinterpret_cast<SetHasBorderInFullScreen>(function)(window, true);
    return true;
}
