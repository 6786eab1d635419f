// Paints one panel refresh's picture onto the alarm bar and the tributary form.
#pragma once

#include <optional>

#include "display/CAlarmBar.h"
#include "display/CKestrelSettings.h"
#include "performance/Figures.h"
#include "session/SessionObserver.h"

namespace kestrel {

// All eight LEDs from the picture's alarms: lit red or yellow as kAlarmIndications says.
void PaintAlarmBar(CAlarmBar& bar, const PanelPicture& picture);

// All 64 LEDs from the picture's tributaries: a lit one tells the end, local red, remote
// yellow, whatever the kind of trouble.
void PaintTributaryLeds(CKestrelSettings& panel, const PanelPicture& picture);

// Fields 1024..1027 from the shares of one interval: unavailable time, degraded minutes, SES
// and ES, each as G821FieldText writes it.
void PaintG821Line(CKestrelSettings& panel, const Percentages& shares);
// "0.12%": two decimals. A share without a denominator (no measured second, no minute counted
// yet) keeps the template's "0%", which nothing measured can show.
QString G821FieldText(const std::optional<double>& share);

// A text control drawn dimmed while its figure is not live, or as usual; its text stays.
void ShowStale(QWidget& control, bool stale);

}  // namespace kestrel
