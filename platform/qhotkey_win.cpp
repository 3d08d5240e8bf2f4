// The Windows half of the hotkey: RegisterHotKey and the thread's WM_HOTKEY messages.
#include "platform/qhotkey_p.h"

#ifdef Q_OS_WIN

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QHash>
#include <QPointer>
#include <QTimer>
#include <windows.h>

using QHotkeyDetail::singleCombination;

namespace {

UINT virtualKeyFor(int key, Qt::KeyboardModifiers mods)
{
    if (mods & Qt::KeypadModifier) {
        if (key >= Qt::Key_0 && key <= Qt::Key_9)
            return VK_NUMPAD0 + UINT(key - Qt::Key_0);
        switch (key) {
        case Qt::Key_Asterisk:
            return VK_MULTIPLY;
        case Qt::Key_Plus:
            return VK_ADD;
        case Qt::Key_Minus:
            return VK_SUBTRACT;
        case Qt::Key_Period:
            return VK_DECIMAL;
        case Qt::Key_Slash:
            return VK_DIVIDE;
        default:
            break;
        }
    }
    if (key >= Qt::Key_F1 && key <= Qt::Key_F24)
        return VK_F1 + UINT(key - Qt::Key_F1);
    if ((key >= Qt::Key_A && key <= Qt::Key_Z) || (key >= Qt::Key_0 && key <= Qt::Key_9))
        return UINT(key);
    switch (key) {
    case Qt::Key_Escape:
        return VK_ESCAPE;
    case Qt::Key_Tab:
        return VK_TAB;
    case Qt::Key_Backspace:
        return VK_BACK;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return VK_RETURN;
    case Qt::Key_Insert:
        return VK_INSERT;
    case Qt::Key_Delete:
        return VK_DELETE;
    case Qt::Key_Pause:
        return VK_PAUSE;
    case Qt::Key_Print:
        return VK_SNAPSHOT;
    case Qt::Key_Clear:
        return VK_CLEAR;
    case Qt::Key_Home:
        return VK_HOME;
    case Qt::Key_End:
        return VK_END;
    case Qt::Key_Left:
        return VK_LEFT;
    case Qt::Key_Up:
        return VK_UP;
    case Qt::Key_Right:
        return VK_RIGHT;
    case Qt::Key_Down:
        return VK_DOWN;
    case Qt::Key_PageUp:
        return VK_PRIOR;
    case Qt::Key_PageDown:
        return VK_NEXT;
    case Qt::Key_Space:
        return VK_SPACE;
    case Qt::Key_Menu:
        return VK_APPS;
    case Qt::Key_Help:
        return VK_HELP;
    case Qt::Key_VolumeDown:
        return VK_VOLUME_DOWN;
    case Qt::Key_VolumeMute:
        return VK_VOLUME_MUTE;
    case Qt::Key_VolumeUp:
        return VK_VOLUME_UP;
    case Qt::Key_MediaPlay:
        return VK_MEDIA_PLAY_PAUSE;
    case Qt::Key_MediaStop:
        return VK_MEDIA_STOP;
    case Qt::Key_MediaPrevious:
        return VK_MEDIA_PREV_TRACK;
    case Qt::Key_MediaNext:
        return VK_MEDIA_NEXT_TRACK;
    default:
        break;
    }
    // Punctuation depends on the keyboard layout.
    if (key >= 0x20 && key <= 0xff) {
        const SHORT scan = VkKeyScanW(WCHAR(key));
        if (scan != -1 && !(scan & 0x0100)) // reachable without Shift
            return UINT(scan & 0xff);
    }
    return 0;
}

class HotkeyFilter : public QAbstractNativeEventFilter
{
public:
    static HotkeyFilter *instance()
    {
        static HotkeyFilter *filter = nullptr;
        if (!filter) {
            filter = new HotkeyFilter;
            QCoreApplication::instance()->installNativeEventFilter(filter);
        }
        return filter;
    }

    int add(QHotkey *owner)
    {
        const int id = m_nextId++;
        m_owners.insert(id, owner);
        return id;
    }
    void remove(int id) { m_owners.remove(id); }

    bool nativeEventFilter(const QByteArray &eventType, void *message, long *) override
    {
        if (eventType != "windows_generic_MSG")
            return false;
        const MSG *msg = static_cast<const MSG *>(message);
        if (msg->message != WM_HOTKEY)
            return false;
        QPointer<QHotkey> target = m_owners.value(int(msg->wParam));
        if (!target)
            return false;
        QTimer::singleShot(0, target, [target] {
            if (target)
                emit target->activated();
        });
        return true;
    }

private:
    QHash<int, QHotkey *> m_owners;
    int m_nextId = 1;
};

} // namespace

bool QHotkey::Private::registerKey(QHotkey *q)
{
    int key = 0;
    Qt::KeyboardModifiers mods;
    if (!singleCombination(q->m_shortcut, &key, &mods))
        return false;
    const UINT vk = virtualKeyFor(key, mods);
    if (!vk)
        return false;
    UINT winMods = MOD_NOREPEAT;
    if (mods & Qt::ShiftModifier)
        winMods |= MOD_SHIFT;
    if (mods & Qt::ControlModifier)
        winMods |= MOD_CONTROL;
    if (mods & Qt::AltModifier)
        winMods |= MOD_ALT;
    if (mods & Qt::MetaModifier)
        winMods |= MOD_WIN;
    HotkeyFilter *filter = HotkeyFilter::instance();
    const int id = filter->add(q);
    if (!RegisterHotKey(nullptr, id, winMods, vk)) {
        filter->remove(id);
        return false;
    }
    q->d->id = id;
    return true;
}

void QHotkey::Private::unregisterKey(QHotkey *q)
{
    if (!q->d->id)
        return;
    UnregisterHotKey(nullptr, q->d->id);
    HotkeyFilter::instance()->remove(q->d->id);
    q->d->id = 0;
}

#endif
