#pragma once

class QKeyEvent;

// The keys a main window handles itself. The menus' shortcuts stop while the menu bar is
// hidden (as in full screen); these work always.
class WindowKeys
{
public:
    enum Command { None, LeaveFullScreen, ToggleFullScreen, Hide, NewTab, CloseTab };

    static Command command(const QKeyEvent &event, bool fullScreen);
};
