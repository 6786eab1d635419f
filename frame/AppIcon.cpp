// The application icon (icon 128) in all the sizes it is drawn at.
#include "frame/AppIcon.h"

// The resources live in a static library: the linker keeps them only when asked for.
static void InitAppResources() {
    Q_INIT_RESOURCE(app);
}

namespace kestrel {

QIcon AppIcon() {
    static const bool loaded = (InitAppResources(), true);
    (void)loaded;
    QIcon icon;
    for (const char* size : {"16", "32", "48", "64", "128"}) {
        icon.addFile(QStringLiteral(":/icons/kestrel-%1.png").arg(QString::fromLatin1(size)));
    }
    icon.addFile(QStringLiteral(":/icons/kestrel.png"));
    return icon;
}

}  // namespace kestrel
