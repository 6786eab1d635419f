// Keeps a restored window rectangle on a screen that exists.
#pragma once

#include <QList>
#include <QRect>

namespace kestrel {

// The smallest window that a stored placement may give.
inline constexpr int kMinWindowWidth = 200;
inline constexpr int kMinWindowHeight = 120;

// A rectangle whose top strip (where the title bar is grabbed) shows enough of itself on one
// of the screens is kept as it is; otherwise it moves onto the first screen, shrunk to fit.
// Degenerate sizes grow to the minimum.
QRect KeepOnScreens(QRect wanted, const QList<QRect>& screens);

}  // namespace kestrel
