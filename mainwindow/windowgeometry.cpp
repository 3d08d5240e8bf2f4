#include "mainwindow/windowgeometry.h"

#include <algorithm>

QRect mainWindowGeometry(const QSize &available, int titleBarHeight, int displayMode)
{
    const int t = titleBarHeight;
    const int w = available.width() > 1200 ? 1200 : available.width() - 2 * t;
    int h = available.height() - 3 * t + 5;
    int y = t;
    if (displayMode == 2) {
        // Browser mode starts at the top edge, its toolbar takes the title bar's room.
        h = available.height() - t;
        y = 0;
    }
    h = std::min(h, 900);
    const int x = (available.width() - w) / 2;
    return QRect(x, y, w, h);
}
