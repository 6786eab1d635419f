// Keeps a restored window rectangle on a screen that exists.
#include "frame/Placement.h"

#include <algorithm>

namespace kestrel {

QRect KeepOnScreens(QRect wanted, const QList<QRect>& screens) {
    wanted.setWidth(std::max(wanted.width(), kMinWindowWidth));
    wanted.setHeight(std::max(wanted.height(), kMinWindowHeight));
    if (screens.isEmpty()) {
        return wanted;
    }
    // The strip a user grabs to move the window: at least 64 x 16 pixels of it must show.
    const QRect strip(wanted.left(), wanted.top(), wanted.width(), 24);
    for (const QRect& s : screens) {
        const QRect seen = s.intersected(strip);
        if (seen.width() >= 64 && seen.height() >= 16) {
            return wanted;
        }
    }
    const QRect s = screens.first();
    QRect moved = wanted;
    moved.setWidth(std::min(wanted.width(), s.width()));
    moved.setHeight(std::min(wanted.height(), s.height()));
    const int x = std::clamp(wanted.left(), s.left(), s.right() + 1 - moved.width());
    const int y = std::clamp(wanted.top(), s.top(), s.bottom() + 1 - moved.height());
    moved.moveTo(x, y);
    return moved;
}

}  // namespace kestrel
