#pragma once

class QWindow;

// Keeps a window's border in full-screen state where the platform offers that (Windows).
class FullScreenBorder
{
public:
    // Answers whether the platform provided the function; elsewhere nothing happens.
    static bool keepBorder(QWindow *window);
};
