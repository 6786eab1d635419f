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

}  // namespace kestrel
