// Fuzzes the simulator's script reader with arbitrary text and checks what it accepts.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "monitor/FrameWriter.h"
#include "tools/mux-sim/MuxScript.h"

namespace {

void Check(bool ok) {
    if (!ok)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using kestrel::sim::ScriptStep;
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    std::vector<ScriptStep> steps;
    kestrel::sim::ScriptError error;
    if (!kestrel::sim::ParseScript(in, steps, error)) {
        Check(!error.message.empty() && error.line >= 0);
        return 0;
    }
    bool anyFrame = false;
    for (const ScriptStep& step : steps) {
        if (step.kind == ScriptStep::Kind::Silence) {
            Check(step.silenceSeconds > 0 && step.silenceSeconds <= kestrel::sim::kMaxSilenceSeconds);
            continue;
        }
        anyFrame = true;
        Check(step.repeat >= 1 && step.repeat <= kestrel::sim::kMaxRepeat);
        Check(step.frame.nearCount >= 0 && step.frame.nearCount <= kestrel::kMaxFrameCount);
        Check(step.frame.farCount >= 0 && step.frame.farCount <= kestrel::kMaxFrameCount);
        Check(kestrel::WriteFrame(step.frame).size() == kestrel::kStatusFrameLength);
    }
    Check(anyFrame);
    return 0;
}
