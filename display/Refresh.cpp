// The alarm bar and the tributary LEDs as one refresh's picture shows them.
#include "display/Refresh.h"

#include "session/Indications.h"

namespace kestrel {

namespace {

LedState Lit(bool lit, bool red) {
    return !lit ? LedState::Off : red ? LedState::Red : LedState::Yellow;
}

}  // namespace

void PaintAlarmBar(CAlarmBar& bar, const PanelPicture& picture) {
    for (std::size_t i = 0; i < kAlarmIndications.size(); ++i) {
        bar.SetLed(kAlarmIndications[i].ledId, Lit(picture.alarms[i], kAlarmIndications[i].red));
    }
}

void PaintTributaryLeds(CKestrelSettings& panel, const PanelPicture& picture) {
    for (int i = 0; i < kTribCount; ++i) {
        panel.SetLed(CKestrelSettings::NoSigLedId(i),
                     Lit(picture.tribNoSig[i], IsLocalTributary(i)));
        panel.SetLed(CKestrelSettings::CErrLedId(i), Lit(picture.tribCErr[i], IsLocalTributary(i)));
    }
}

QString G821FieldText(const std::optional<double>& share) {
    return share ? QString::number(*share, 'f', 2) + QLatin1Char('%') : QStringLiteral("0%");
}

void PaintG821Line(CKestrelSettings& panel, const Percentages& shares) {
    panel.SetG821Texts({G821FieldText(shares.unavailable), G821FieldText(shares.dm),
                        G821FieldText(shares.ses), G821FieldText(shares.es)});
}

void ShowStale(QWidget& control, bool stale) {
    // The palette's colour for text that is only a hint follows the theme, light or dark.
    control.setForegroundRole(stale ? QPalette::PlaceholderText : QPalette::WindowText);
    // A new role alone does not repaint.
    control.update();
}

}  // namespace kestrel
