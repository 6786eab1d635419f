// The alarm bar: the eight 34 Mbit/s LEDs of the local and the remote interface.
#pragma once

#include "display/LedForm.h"

namespace kestrel {

// Built from bar template 131 and docked at the top of the main window by the frame. Each LED
// carries its id as its object name ("1126"); the ids and the order are kAlarmIndications'.
class CAlarmBar : public LedForm {
    Q_OBJECT
public:
    explicit CAlarmBar(const LedIcons& icons, QWidget* parent = nullptr);
};

}  // namespace kestrel
