// Loading of the six LED icons from the built-in resources.
#include "display/LedIcons.h"

#include <QString>
#include <array>

// The resources live in a static library, so they are registered by hand.
static void InitLedResources() {
    Q_INIT_RESOURCE(leds);
}

namespace kestrel {

namespace {

// Every picture is drawn for these sizes, so each screen scale gets a sharp one.
constexpr std::array<int, 6> kSizes = {16, 24, 32, 48, 64, 128};

QIcon LoadLed(const char* stem) {
    QIcon icon;
    for (const int size : kSizes) {
        icon.addFile(QStringLiteral(":/leds/%1-%2.png").arg(QLatin1String(stem)).arg(size),
                     QSize(size, size));
    }
    return icon;
}

}  // namespace

LedIcons LedIcons::Load() {
    InitLedResources();
    LedIcons icons;
    // Same order as the application has always loaded them: the bar's three, then the panel's.
    icons.ledRed = LoadLed("red");
    icons.ledOff = LoadLed("off");
    icons.ledYellow = LoadLed("yellow");
    // The panel's lamps are the same drawings shown at half the size; the sized files make
    // each of them sharp at 16 pixels and at every scale above.
    icons.smallLedOff = icons.ledOff;
    icons.smallLedRed = icons.ledRed;
    icons.smallLedYellow = icons.ledYellow;
    return icons;
}

const QIcon& LedIcons::Large(LedState state) const {
    switch (state) {
        case LedState::Red:
            return ledRed;
        case LedState::Yellow:
            return ledYellow;
        case LedState::Off:
            break;
    }
    return ledOff;
}

const QIcon& LedIcons::Small(LedState state) const {
    switch (state) {
        case LedState::Red:
            return smallLedRed;
        case LedState::Yellow:
            return smallLedYellow;
        case LedState::Off:
            break;
    }
    return smallLedOff;
}

}  // namespace kestrel
