// The six shared LED icons and the three states an LED can show.
#pragma once

#include <QIcon>

namespace kestrel {

enum class LedState { Off, Red, Yellow };

// Held once by the application object and shared by every LED: controls keep a reference to
// this record and paint from it, they never copy the pictures.
struct LedIcons {
    QIcon ledOff, ledRed, ledYellow;                 // alarm bar (icons 136, 135, 134)
    QIcon smallLedOff, smallLedRed, smallLedYellow;  // tributary panel (140, 141, 144), 16x16
    static LedIcons Load();                          // from the resources in res/leds

    // The picture of one state in the large or the small set.
    const QIcon& Large(LedState state) const;
    const QIcon& Small(LedState state) const;
};

}  // namespace kestrel
