// The tributary form and the alarm bar over the application's icons, for the display tests.
#pragma once

#include <gtest/gtest.h>

#include "display/CAlarmBar.h"
#include "display/CKestrelSettings.h"
#include "display/LedIcons.h"

namespace kestrel {

class DisplayFixture : public ::testing::Test {
protected:
    DisplayFixture() : icons(LedIcons::Load()), panel(icons), bar(icons) {}

    LedIcons icons;
    CKestrelSettings panel;
    CAlarmBar bar;
};

}  // namespace kestrel
