#include "platform/qhotkey.h"

#include "platform/qhotkey_p.h"

bool QHotkeyDetail::singleCombination(const QKeySequence &sequence, int *key,
                                      Qt::KeyboardModifiers *mods)
{
    if (sequence.count() != 1)
        return false;
    const int combined = sequence[0];
    *key = combined & ~int(Qt::KeyboardModifierMask);
    *mods = Qt::KeyboardModifiers(combined & int(Qt::KeyboardModifierMask));
    // Neither platform can grab with any other modifier (AltGr, group switch).
    if (*mods & ~(Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier |
                  Qt::KeypadModifier))
        return false;
    // A bare key (or one with Shift only) would be taken from every program on the desktop:
    // typing it anywhere would bring the window up.
    if (!(*mods & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)))
        return false;
    switch (*key) {
    case 0:
    case Qt::Key_unknown:
    case Qt::Key_Shift:
    case Qt::Key_Control:
    case Qt::Key_Alt:
    case Qt::Key_AltGr:
    case Qt::Key_Meta:
    case Qt::Key_Super_L:
    case Qt::Key_Super_R:
    case Qt::Key_Hyper_L:
    case Qt::Key_Hyper_R:
        return false;
    default:
        return true;
    }
}

QHotkey::QHotkey(const QKeySequence &shortcut, bool autoRegister, QObject *parent)
    : QObject(parent), m_shortcut(shortcut), d(new Private)
{
    if (autoRegister)
        setRegistered(true);
}

QHotkey::~QHotkey()
{
    setRegistered(false);
    delete d;
}

bool QHotkey::setRegistered(bool registered)
{
    if (registered == m_registered)
        return true;
    if (registered) {
        m_registered = Private::registerKey(this);
        return m_registered;
    }
    Private::unregisterKey(this);
    m_registered = false;
    return true;
}
