#pragma once

#include <QRect>

// Initial geometry of a main window inside the available screen area. Only the area's size
// matters: the horizontal position ignores its left edge on purpose.
QRect mainWindowGeometry(const QSize &available, int titleBarHeight, int displayMode);
