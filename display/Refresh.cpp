// The tributary and alarm-bar steps of the one-second refresh.
#include "display/Refresh.h"

namespace kestrel {

namespace {

constexpr int kTribs = 16;

int NoSigLedId(int index) {
    return index < kTribs ? CKestrelSettings::kLocalNoSigFirst + index
                          : CKestrelSettings::kRemoteNoSigFirst + index - kTribs;
}

int CErrLedId(int index) {
    return index < kTribs ? CKestrelSettings::kLocalCErrFirst + index
                          : CKestrelSettings::kRemoteCErrFirst + index - kTribs;
}

// A lit tributary LED tells the end, not the kind of trouble: local red, remote yellow.
void SetTribLed(CKestrelSettings& panel, int id, int index, int value) {
    if (value == 0) {
        panel.SetTribLedOff(id);
    } else if (index < kTribs) {
        panel.SetTribLedRed(id);
    } else {
        panel.SetTribLedYellow(id);
    }
}

}  // namespace

void TributaryLedRefresh(MonitorState& state, CKestrelSettings* activePanel) {
    if (state.closing.load() != 0)
        return;
    if (state.connected.load() == 0)
        state.NotConnectedReset();
    if (activePanel == nullptr)
        return;
    for (int i = 0; i < kTribCount; ++i) {
        SetTribLed(*activePanel, NoSigLedId(i), i, state.tribNoSig[i].load());
        SetTribLed(*activePanel, CErrLedId(i), i, state.tribCErr[i].load());
    }
}

void AlarmBarRefresh(MonitorState& state, CAlarmBar& bar, bool bothChanged,
                     const std::function<void()>& writeAlarmRow) {
    if (state.closing.load() != 0)
        return;
    if (state.connected.load() == 0) {
        for (const int id : CAlarmBar::kLedIds)
            bar.SetAlarmLedOff(id);
        return;
    }
    if (bothChanged && writeAlarmRow)
        writeAlarmRow();

    // Only the local interface's loss of signal and of frame are red; every other lit
    // indication is yellow.
    struct Flag {
        int id;
        const std::atomic<int>& value;
        bool red;
    };
    const Flag flags[] = {
        {1124, state.localNoInputSignal, true},
        {1125, state.localAis, false},
        {1126, state.localLof, true},
        {1128, state.localRai, false},
        {1127, state.remoteNoInputSignal, false},
        {1129, state.remoteAis, false},
        {1130, state.remoteLof, false},
        {1131, state.remoteRai, false},
    };
    for (const Flag& flag : flags) {
        if (flag.value.load() == 0) {
            bar.SetAlarmLedOff(flag.id);
        } else if (flag.red) {
            bar.SetAlarmLedRed(flag.id);
        } else {
            bar.SetAlarmLedYellow(flag.id);
        }
    }
}

}  // namespace kestrel
