#pragma once

#include <QByteArray>

// Chromium switches for the web engine, which reads them once when it starts.
class EngineFlags
{
public:
    // The flags with GPU rendering and compositing switched off added; flags already present
    // are kept and not repeated.
    static QByteArray withCompatibilityMode(const QByteArray &flags);
    // Rewrites QTWEBENGINE_CHROMIUM_FLAGS for compatibility mode; call before anything touches
    // the web engine (its settings or profiles).
    static void enableCompatibilityMode();
};
