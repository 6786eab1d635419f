// Keeps a restored window rectangle on a screen that exists and within its size.
#pragma once

#include <QList>
#include <QMargins>
#include <QRect>
#include <cstdint>
#include <optional>

namespace kestrel {

// The smallest window that a stored placement may give.
inline constexpr int kMinWindowWidth = 200;
inline constexpr int kMinWindowHeight = 120;

struct RestoredRect {
    QRect rect;
    // The stored rectangle could not be used as it was: it had to move or shrink. (Growing to
    // the window's minimum is no reason to forget it: the window grows again at every start.)
    bool clamped = false;
};

// The stored edges (right and bottom exclusive) as a window rectangle. Edges are taken in 64
// bits, so extreme stored values cannot overflow the size. A rectangle whose top strip (where
// the title bar is grabbed) shows enough of itself on one of the screens keeps its place;
// otherwise it moves onto the first screen. Either way it is at most as large as that screen
// and at least the window's minimum (which wins on a screen smaller than it); a rectangle
// that had to shrink is moved as far onto the screen as it fits.
RestoredRect KeepOnScreens(std::int64_t left, std::int64_t top, std::int64_t right,
                           std::int64_t bottom, const QList<QRect>& screens,
                           QSize minimum = QSize(kMinWindowWidth, kMinWindowHeight));

struct FirstRect {
    QSize size;
    // Where the window itself (inside the frame) goes; none leaves that to the window manager.
    std::optional<QPoint> at;
};

// The window of a first start, without a stored placement: the wanted size, made smaller
// where the frame the window manager draws around it would not fit in the available area.
// A window that had to shrink is also placed, its frame inside the area and centred where
// there is room, since a window manager may put a window as large as the screen below a
// panel or title bar; one that fits is placed by the window manager as usual. The minimum
// wins over the area.
FirstRect FitFirstPlacement(QSize wanted, const QRect& available, const QMargins& frame,
                            QSize minimum);

}  // namespace kestrel
