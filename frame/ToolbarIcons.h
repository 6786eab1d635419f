// The toolbar's pictures, drawn as vectors so that they stay sharp at any screen scale.
#pragma once

#include <QIcon>

namespace kestrel {

// The picture of a toolbar command: the desktop theme's icon when it has one, else our own.
QIcon ToolbarIcon(int commandId);
// Always our own drawing (tests and screenshots without a desktop theme).
QIcon DrawnToolbarIcon(int commandId);

}  // namespace kestrel
