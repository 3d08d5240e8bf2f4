// The X11 half of the hotkey: a passive grab on the root window.
#include "platform/qhotkey_p.h"

#ifndef Q_OS_WIN

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QHash>
#include <QList>
#include <QPointer>
#include <QTimer>
#include <QVector>
#include <QX11Info>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

using QHotkeyDetail::singleCombination;

namespace {

// X keysyms for the Qt keys that do not share their code with Latin-1.
quint32 keysymFor(int key, Qt::KeyboardModifiers mods)
{
    if (mods & Qt::KeypadModifier) {
        if (key >= Qt::Key_0 && key <= Qt::Key_9)
            return 0xffb0 + quint32(key - Qt::Key_0); // XK_KP_0
        switch (key) {
        case Qt::Key_Asterisk:
            return 0xffaa;
        case Qt::Key_Plus:
            return 0xffab;
        case Qt::Key_Minus:
            return 0xffad;
        case Qt::Key_Period:
            return 0xffae;
        case Qt::Key_Slash:
            return 0xffaf;
        case Qt::Key_Enter:
            return 0xff8d;
        default:
            break;
        }
    }
    if (key >= Qt::Key_F1 && key <= Qt::Key_F35)
        return 0xffbe + quint32(key - Qt::Key_F1); // XK_F1
    if (key >= Qt::Key_A && key <= Qt::Key_Z)
        return quint32(key - Qt::Key_A) + 'a'; // the unshifted symbol is in the first column
    if ((key >= 0x20 && key <= 0x7e) || (key >= 0xa0 && key <= 0xff))
        return quint32(key);
    switch (key) {
    case Qt::Key_Escape:
        return 0xff1b;
    case Qt::Key_Tab:
        return 0xff09;
    case Qt::Key_Backtab:
        return 0xfe20; // ISO_Left_Tab
    case Qt::Key_Backspace:
        return 0xff08;
    case Qt::Key_Return:
        return 0xff0d;
    case Qt::Key_Enter:
        return 0xff8d;
    case Qt::Key_Insert:
        return 0xff63;
    case Qt::Key_Delete:
        return 0xffff;
    case Qt::Key_Pause:
        return 0xff13;
    case Qt::Key_Print:
        return 0xff61;
    case Qt::Key_SysReq:
        return 0xff15;
    case Qt::Key_Clear:
        return 0xff0b;
    case Qt::Key_Home:
        return 0xff50;
    case Qt::Key_End:
        return 0xff57;
    case Qt::Key_Left:
        return 0xff51;
    case Qt::Key_Up:
        return 0xff52;
    case Qt::Key_Right:
        return 0xff53;
    case Qt::Key_Down:
        return 0xff54;
    case Qt::Key_PageUp:
        return 0xff55;
    case Qt::Key_PageDown:
        return 0xff56;
    case Qt::Key_CapsLock:
        return 0xffe5;
    case Qt::Key_NumLock:
        return 0xff7f;
    case Qt::Key_ScrollLock:
        return 0xff14;
    case Qt::Key_Menu:
        return 0xff67;
    case Qt::Key_Help:
        return 0xff6a;
    case Qt::Key_VolumeDown:
        return 0x1008ff11;
    case Qt::Key_VolumeMute:
        return 0x1008ff12;
    case Qt::Key_VolumeUp:
        return 0x1008ff13;
    case Qt::Key_MediaPlay:
        return 0x1008ff14;
    case Qt::Key_MediaStop:
        return 0x1008ff15;
    case Qt::Key_MediaPrevious:
        return 0x1008ff16;
    case Qt::Key_MediaNext:
        return 0x1008ff17;
    case Qt::Key_HomePage:
        return 0x1008ff18;
    case Qt::Key_LaunchMail:
        return 0x1008ff19;
    case Qt::Key_Search:
        return 0x1008ff1b;
    case Qt::Key_Calculator:
        return 0x1008ff1d;
    default:
        return 0;
    }
}

const quint32 keysymNumLock = 0xff7f;
const quint32 keysymAltL = 0xffe9;
const quint32 keysymSuperL = 0xffeb;

// Keycodes producing the keysym in the current keyboard map.
QVector<xcb_keycode_t> keycodesFor(xcb_key_symbols_t *symbols, quint32 keysym)
{
    QVector<xcb_keycode_t> codes;
    if (xcb_keycode_t *list = xcb_key_symbols_get_keycode(symbols, keysym)) {
        for (xcb_keycode_t *c = list; *c != XCB_NO_SYMBOL; ++c)
            if (!codes.contains(*c))
                codes.append(*c);
        free(list);
    }
    return codes;
}

// The modifier bit (Mod1..Mod5) that carries the keysym, or the fallback when the server's
// modifier map does not say.
quint16 modifierBitFor(xcb_connection_t *connection, xcb_key_symbols_t *symbols, quint32 keysym,
                       quint16 fallback)
{
    const QVector<xcb_keycode_t> codes = keycodesFor(symbols, keysym);
    if (codes.isEmpty())
        return fallback;
    xcb_get_modifier_mapping_reply_t *reply =
        xcb_get_modifier_mapping_reply(connection, xcb_get_modifier_mapping(connection), nullptr);
    if (!reply)
        return fallback;
    quint16 bit = 0;
    const xcb_keycode_t *map = xcb_get_modifier_mapping_keycodes(reply);
    const int perModifier = reply->keycodes_per_modifier;
    for (int mod = 0; mod < 8 && !bit; ++mod)
        for (int i = 0; i < perModifier; ++i)
            if (map[mod * perModifier + i] != 0 && codes.contains(map[mod * perModifier + i])) {
                bit = quint16(1u << mod);
                break;
            }
    free(reply);
    return bit ? bit : fallback;
}

struct Grab
{
    xcb_keycode_t keycode = 0;
    quint16 modifiers = 0; // without NumLock and CapsLock
    bool operator==(const Grab &o) const
    {
        return keycode == o.keycode && modifiers == o.modifiers;
    }
};

// One filter and one set of X grabs for the whole process: two hotkeys on the same
// combination share the grab, which is released only when the last of them goes.
class HotkeyRegistry : public QAbstractNativeEventFilter
{
public:
    static HotkeyRegistry *instance()
    {
        static HotkeyRegistry *registry = nullptr;
        if (!registry) {
            registry = new HotkeyRegistry;
            QCoreApplication::instance()->installNativeEventFilter(registry);
        }
        return registry;
    }

    // A flush only hands the requests to the socket; another program asking right after us may
    // still be served first. A round trip makes sure the combination is really free again.
    static void syncWithServer(xcb_connection_t *connection)
    {
        free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
    }

    bool add(QHotkey *owner, const QVector<Grab> &grabs)
    {
        xcb_connection_t *connection = QX11Info::connection();
        const xcb_window_t root = QX11Info::appRootWindow();
        QVector<Grab> fresh;
        for (const Grab &g : grabs)
            if (!isGrabbed(g))
                fresh.append(g);

        const quint16 locks[] = {0, m_numLock, XCB_MOD_MASK_LOCK,
                                 quint16(m_numLock | XCB_MOD_MASK_LOCK)};
        struct Pending
        {
            Grab grab;
            quint16 mask;
            xcb_void_cookie_t cookie;
        };
        QVector<Pending> pending;
        for (const Grab &g : fresh)
            for (quint16 lock : locks)
                pending.append(
                    {g, quint16(g.modifiers | lock),
                     xcb_grab_key_checked(connection, 1, root, g.modifiers | lock, g.keycode,
                                          XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC)});
        bool ok = true;
        QVector<Pending> done;
        for (const Pending &p : pending) {
            if (xcb_generic_error_t *error = xcb_request_check(connection, p.cookie)) {
                ok = false; // BadAccess: another client holds this combination
                free(error);
            } else {
                done.append(p);
            }
        }
        if (!ok) {
            for (const Pending &p : done)
                xcb_ungrab_key(connection, p.grab.keycode, root, p.mask);
            syncWithServer(connection);
            return false;
        }
        for (const Grab &g : grabs)
            m_entries.append({owner, g});
        return true;
    }

    void remove(QHotkey *owner)
    {
        QVector<Grab> released;
        for (int i = m_entries.size() - 1; i >= 0; --i) {
            if (m_entries[i].owner == owner) {
                released.append(m_entries[i].grab);
                m_entries.removeAt(i);
            }
        }
        if (released.isEmpty() || !QX11Info::isPlatformX11() || !QX11Info::connection())
            return;
        xcb_connection_t *connection = QX11Info::connection();
        const xcb_window_t root = QX11Info::appRootWindow();
        const quint16 locks[] = {0, m_numLock, XCB_MOD_MASK_LOCK,
                                 quint16(m_numLock | XCB_MOD_MASK_LOCK)};
        for (const Grab &g : released) {
            if (isGrabbed(g))
                continue; // still wanted by another hotkey
            for (quint16 lock : locks)
                xcb_ungrab_key(connection, g.keycode, root, g.modifiers | lock);
        }
        syncWithServer(connection);
    }

    void setNumLock(quint16 bit) { m_numLock = bit; }

    bool nativeEventFilter(const QByteArray &eventType, void *message, long *) override
    {
        if (eventType != "xcb_generic_event_t")
            return false;
        auto *event = static_cast<xcb_generic_event_t *>(message);
        if ((event->response_type & ~0x80) != XCB_KEY_PRESS)
            return false;
        auto *press = reinterpret_cast<xcb_key_press_event_t *>(event);
        // Pointer buttons and the lock keys do not change which combination was pressed.
        const quint16 relevant = quint16(0xff & ~(m_numLock | XCB_MOD_MASK_LOCK));
        const Grab pressed{press->detail, quint16(press->state & relevant)};
        bool matched = false;
        for (const Entry &e : qAsConst(m_entries)) {
            if (!(e.grab == pressed))
                continue;
            matched = true;
            // Delivered from the event loop, not from inside the filter, so a handler may
            // open dialogs or delete the hotkey.
            QPointer<QHotkey> target = e.owner;
            QTimer::singleShot(0, target, [target] {
                if (target)
                    emit target->activated();
            });
        }
        return matched;
    }

private:
    struct Entry
    {
        QHotkey *owner;
        Grab grab;
    };

    bool isGrabbed(const Grab &g) const
    {
        for (const Entry &e : m_entries)
            if (e.grab == g)
                return true;
        return false;
    }

    QList<Entry> m_entries;
    quint16 m_numLock = XCB_MOD_MASK_2;
};

} // namespace

bool QHotkey::Private::registerKey(QHotkey *q)
{
    if (!QX11Info::isPlatformX11() || !QX11Info::connection())
        return false;
    int key = 0;
    Qt::KeyboardModifiers mods;
    if (!singleCombination(q->m_shortcut, &key, &mods))
        return false;
    const quint32 keysym = keysymFor(key, mods);
    if (!keysym)
        return false;

    xcb_connection_t *connection = QX11Info::connection();
    xcb_key_symbols_t *symbols = xcb_key_symbols_alloc(connection);
    if (!symbols)
        return false;
    const QVector<xcb_keycode_t> codes = keycodesFor(symbols, keysym);
    quint16 mask = 0;
    if (mods & Qt::ShiftModifier)
        mask |= XCB_MOD_MASK_SHIFT;
    if (mods & Qt::ControlModifier)
        mask |= XCB_MOD_MASK_CONTROL;
    if (mods & Qt::AltModifier)
        mask |= modifierBitFor(connection, symbols, keysymAltL, XCB_MOD_MASK_1);
    if (mods & Qt::MetaModifier)
        mask |= modifierBitFor(connection, symbols, keysymSuperL, XCB_MOD_MASK_4);
    const quint16 numLock = modifierBitFor(connection, symbols, keysymNumLock, XCB_MOD_MASK_2);
    xcb_key_symbols_free(symbols);
    if (codes.isEmpty())
        return false;

    QVector<Grab> grabs;
    for (xcb_keycode_t code : codes)
        grabs.append({code, mask});
    HotkeyRegistry *registry = HotkeyRegistry::instance();
    registry->setNumLock(numLock);
    return registry->add(q, grabs);
}

void QHotkey::Private::unregisterKey(QHotkey *q)
{
    HotkeyRegistry::instance()->remove(q);
}

#endif
