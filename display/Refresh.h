// Paints one panel refresh's picture onto the alarm bar and the tributary form.
#pragma once

#include "display/CAlarmBar.h"
#include "display/CKestrelSettings.h"
#include "session/SessionObserver.h"

namespace kestrel {

// All eight LEDs from the picture's alarms: lit red or yellow as kAlarmIndications says.
void PaintAlarmBar(CAlarmBar& bar, const PanelPicture& picture);

// All 64 LEDs from the picture's tributaries: a lit one tells the end, local red, remote
// yellow, whatever the kind of trouble.
void PaintTributaryLeds(CKestrelSettings& panel, const PanelPicture& picture);

}  // namespace kestrel
