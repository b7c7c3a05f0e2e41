#include "WindowPlacement.h"

#include <QtGlobal>

namespace placement {

namespace {
// One side's start: kept when [start, start + length) lies in [from, from + room), otherwise
// pulled back or pushed in, never before `from`.
int keptWithin(int start, int length, int from, int room) {
    return qMax(from, qMin(start, from + room - length));
}
} // namespace

QPoint keptOnScreen(const QRect& wanted, const QRect& available) {
    return {keptWithin(wanted.x(), wanted.width(), available.x(), available.width()),
            keptWithin(wanted.y(), wanted.height(), available.y(), available.height())};
}

} // namespace placement
