#include "mainwindow/windowkeys.h"

#include <QKeyEvent>

WindowKeys::Command WindowKeys::command(const QKeyEvent &event, bool fullScreen)
{
    const Qt::KeyboardModifiers mods = event.modifiers() & ~Qt::KeypadModifier;
    const int key = event.key();
    if (key == Qt::Key_Escape && fullScreen)
        return LeaveFullScreen;
    if (key == Qt::Key_F && mods == (Qt::ControlModifier | Qt::ShiftModifier))
        return ToggleFullScreen;
    if (mods != Qt::ControlModifier)
        return None;
    switch (key) {
    case Qt::Key_H:
        return Hide;
    case Qt::Key_T:
        return NewTab;
    case Qt::Key_W:
        return CloseTab;
    default:
        return None;
    }
}
