#pragma once

#include "platform/qhotkey.h"

// What the platform halves of the hotkey share; each half defines registerKey and unregisterKey.
class QHotkey::Private
{
public:
    int id = 0; // the Windows registration id; unused on X11

    static bool registerKey(QHotkey *q);
    static void unregisterKey(QHotkey *q);
};

namespace QHotkeyDetail {
// Splits a sequence into its one key and its modifiers; false unless it is exactly one
// combination of a real key and modifiers that both platforms can grab, with Ctrl, Alt or Meta
// among them.
bool singleCombination(const QKeySequence &sequence, int *key, Qt::KeyboardModifiers *mods);
} // namespace QHotkeyDetail
