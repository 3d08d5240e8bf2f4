#include "platform/qhotkey.h"

// Placeholder until the real implementation lands.
class QHotkey::Private
{
};

QHotkey::QHotkey(const QKeySequence &shortcut, bool autoRegister, QObject *parent)
    : QObject(parent), m_shortcut(shortcut)
{
    if (autoRegister)
        setRegistered(true);
}

QHotkey::~QHotkey() = default;

bool QHotkey::setRegistered(bool)
{
    return false;
}
