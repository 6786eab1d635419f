// The application icon (icon 128) in all the sizes it is drawn at.
#pragma once

#include <QIcon>

namespace kestrel {

QIcon AppIcon();

}  // namespace kestrel
