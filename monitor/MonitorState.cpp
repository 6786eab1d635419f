// Group resets and the activity indicator table of the monitor state.
#include "monitor/MonitorState.h"

namespace kestrel {

const std::array<std::string, kSpinnerWidth>& SpinnerFrames() {
    static const std::array<std::string, kSpinnerWidth> frames = [] {
        std::array<std::string, kSpinnerWidth> f;
        for (int i = 0; i < kSpinnerWidth; ++i) {
            f[i] = std::string(kSpinnerWidth, ' ');
            f[i][i] = '*';
        }
        return f;
    }();
    return frames;
}

std::string MonitorState::spinnerText() const {
    const int i = spinnerShown.load();
    return (i >= 0 && i < kSpinnerWidth) ? SpinnerFrames()[i] : std::string();
}

void MonitorState::ClearIndications() {
    for (auto* flag : {&localNoInputSignal, &localAis, &localLof, &localRai, &remoteNoInputSignal,
                       &remoteAis, &remoteLof, &remoteRai}) {
        flag->store(0);
    }
}

void MonitorState::ClearTributaries() {
    for (int i = 0; i < kTribCount; ++i) {
        tribNoSig[i].store(0);
        tribCErr[i].store(0);
    }
}

void MonitorState::NoDataReset() {
    ClearIndications();
    ClearTributaries();
}

void MonitorState::NotConnectedReset() {
    ClearIndications();
    localAlarm.store(0);
    ClearTributaries();
}

void MonitorState::ConnectionEvent() {
    lastLocalStatus.store(255);
    lastRemoteStatus.store(255);
}

}  // namespace kestrel
