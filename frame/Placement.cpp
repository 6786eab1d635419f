// Keeps a restored window rectangle on a screen that exists and within its size.
#include "frame/Placement.h"

#include <algorithm>

namespace kestrel {

namespace {

// Whether at least 64 x 16 pixels of the 24-pixel strip at the top of the rectangle lie on
// the screen: enough to grab the window and move it.
bool StripShows(std::int64_t left, std::int64_t top, std::int64_t width, const QRect& s) {
    const std::int64_t seenWidth =
        std::min<std::int64_t>(left + width, std::int64_t{s.x()} + s.width()) -
        std::max<std::int64_t>(left, s.x());
    const std::int64_t seenHeight =
        std::min<std::int64_t>(top + 24, std::int64_t{s.y()} + s.height()) -
        std::max<std::int64_t>(top, s.y());
    return seenWidth >= 64 && seenHeight >= 16;
}

}  // namespace

RestoredRect KeepOnScreens(std::int64_t left, std::int64_t top, std::int64_t right,
                           std::int64_t bottom, const QList<QRect>& screens, QSize minimum) {
    minimum = minimum.expandedTo(QSize(kMinWindowWidth, kMinWindowHeight));
    const std::int64_t width = right - left;
    const std::int64_t height = bottom - top;
    // Without any screen to measure against, the largest window a display server can have.
    QRect screen(0, 0, 32767, 32767);
    bool seen = false;
    for (const QRect& s : screens) {
        if (StripShows(left, top, width, s)) {
            screen = s;
            seen = true;
            break;
        }
    }
    if (!seen && !screens.isEmpty()) {
        screen = screens.first();
    }
    const int w = static_cast<int>(
        std::max<std::int64_t>(std::min<std::int64_t>(width, screen.width()), minimum.width()));
    const int h = static_cast<int>(
        std::max<std::int64_t>(std::min<std::int64_t>(height, screen.height()), minimum.height()));
    const bool shrunk = w < width || h < height;
    if (seen && !shrunk) {
        // On a screen and not larger than it: the place the user left it.
        return {QRect(static_cast<int>(left), static_cast<int>(top), w, h), false};
    }
    const auto fit = [](std::int64_t at, int first, int room, int size) {
        return static_cast<int>(
            std::clamp<std::int64_t>(at, first, std::max<std::int64_t>(first, first + room - size)));
    };
    const QRect moved(fit(left, screen.x(), screen.width(), w),
                      fit(top, screen.y(), screen.height(), h), w, h);
    return {moved, shrunk || moved.x() != left || moved.y() != top};
}

FirstRect FitFirstPlacement(QSize wanted, const QRect& available, const QMargins& frame,
                            QSize minimum) {
    const QSize room = available.marginsRemoved(frame).size();
    const QSize size = wanted.boundedTo(room).expandedTo(minimum);
    if (size.width() >= wanted.width() && size.height() >= wanted.height()) {
        return {size, std::nullopt};
    }
    const auto centre = [](int first, int free, int before) {
        return first + before + std::max(0, free) / 2;
    };
    const QPoint at(centre(available.x(), room.width() - size.width(), frame.left()),
                    centre(available.y(), room.height() - size.height(), frame.top()));
    return {size, at};
}

}  // namespace kestrel
