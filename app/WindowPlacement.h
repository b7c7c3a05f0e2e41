// Where a window with a fixed place on the screen goes.
#pragma once

#include <QPoint>
#include <QRect>

namespace placement {

// The window's top-left corner: where `wanted` puts it when the window fits in the screen's free
// area there, otherwise moved just far enough to lie inside it (to the area's top-left corner
// along a side where the window is larger than the area).
QPoint keptOnScreen(const QRect& wanted, const QRect& available);

} // namespace placement
