// The BER meter's per-frame step, its menu commands and the text of a figure.
#include "monitor/BerMeter.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>

namespace kestrel {

namespace {
// Bits carried by one frame per second, and the scale the MUX's counts are read with.
constexpr double kBitsPerFrame = 179000.0;
constexpr double kScale = 11.44;
}  // namespace

std::string FormatBer(double value) {
    // Only finite figures from zero up have a text; -0.0 shows as zero.
    if (!std::isfinite(value) || value < 0) {
        return kBerNoFigure;
    }
    if (value == 0) {
        value = 0;  // -0.0 compares equal to zero
    }
    // to_chars is locale-independent; it writes at least two exponent digits ("e-05"),
    // the display has always shown three ("e-005").
    char buf[64];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific, 6);
    if (ec != std::errc()) {
        return kBerNoFigure;
    }
    // Widen the exponent to three digits: "6.391061e-05" -> "6.391061e-005".
    const char* e = std::find(buf, end, 'e');
    if (e == end || end - e < 3) {
        return kBerNoFigure;
    }
    const auto expDigits = end - (e + 2);
    std::string text;
    text.reserve(16);
    text.append(buf, static_cast<std::size_t>(e + 2 - buf));
    text.append(static_cast<std::size_t>(expDigits < 3 ? 3 - expDigits : 0), '0');
    text.append(e + 2, static_cast<std::size_t>(expDigits));
    return text;
}

void BerMeter::BerUpdate(double near, double far) {
    // One interval value for the whole step, whatever the menu does meanwhile.
    const int index = state.berIntervalIndex.load();
    const int seconds = BerIntervalSeconds[(index >= 0 && index < 4) ? index : 2];
    const auto nearInt = static_cast<std::int64_t>(near);
    const auto farInt = static_cast<std::int64_t>(far);

    // Counts are never negative, so adding the integer part equals truncating the sum.
    const std::int64_t nearTotal = state.nearErrorsTotal.load() + nearInt;
    state.nearErrorsTotal.store(nearTotal);
    const std::int64_t farTotal = state.farErrorsTotal.load() + farInt;
    state.farErrorsTotal.store(farTotal);

    const std::int64_t frames = state.frameCount.load();
    const auto slot = static_cast<std::size_t>(frames % seconds);
    state.nearWindow[slot] = nearInt;
    state.farWindow[slot] = farInt;

    double nearSum = 0;
    double farSum = 0;
    for (int i = 0; i < seconds; ++i) {
        nearSum += static_cast<double>(state.nearWindow[i]);
        farSum += static_cast<double>(state.farWindow[i]);
    }
    state.nearWindowSum = nearSum;
    state.farWindowSum = farSum;
    const auto step = static_cast<std::size_t>(state.berSteps++ % kBerWindowSlots);
    state.nearHistory[step] = nearInt;
    state.farHistory[step] = farInt;

    const double totalBits = static_cast<double>(frames) * kBitsPerFrame;
    const double windowBits = static_cast<double>(seconds) * kBitsPerFrame;
    const std::array<std::string, 4> texts = {
        FormatBer(static_cast<double>(nearTotal) / totalBits * kScale),
        FormatBer(nearSum / windowBits * kScale),
        FormatBer(static_cast<double>(farTotal) / totalBits * kScale),
        FormatBer(farSum / windowBits * kScale),
    };
    if (sink != nullptr) {
        sink->BerTexts(texts);
    }
}

BerFigures BerFiguresOf(const MonitorState& state) {
    BerFigures f;
    const std::int64_t frames = state.frameCount.load();
    const double totalBits = static_cast<double>(frames) * kBitsPerFrame;
    if (frames > 0) {
        f.total = {static_cast<double>(state.nearErrorsTotal.load()) / totalBits * kScale,
                   static_cast<double>(state.farErrorsTotal.load()) / totalBits * kScale};
    }
    const std::array<const std::array<std::int64_t, kBerWindowSlots>*, 2> history = {
        &state.nearHistory, &state.farHistory};
    for (std::size_t end = 0; end < 2; ++end) {
        for (std::size_t w = 0; w < BerIntervalSeconds.size(); ++w) {
            // As the texts do: the window's bits whether or not it has filled yet.
            const int seconds = BerIntervalSeconds[w];
            double sum = 0;
            for (int back = 1; back <= seconds && back <= state.berSteps; ++back) {
                sum += static_cast<double>(
                    (*history[end])[static_cast<std::size_t>((state.berSteps - back) %
                                                             kBerWindowSlots)]);
            }
            f.window[end][w] = sum / (seconds * kBitsPerFrame) * kScale;
        }
    }
    return f;
}

void BerMeter::OnBerInterval(int commandId) {
    if (commandId >= kCmdBerInterval1 && commandId <= kCmdBerInterval30) {
        state.berIntervalIndex.store(commandId - kCmdBerInterval1);
    }
}

void BerMeter::OnBerReset() {
    state.nearErrorsTotal.store(0);
    state.farErrorsTotal.store(0);
}

bool BerMeter::IsBerIntervalChecked(int commandId) const {
    return commandId == kCmdBerInterval1 + state.berIntervalIndex.load();
}

}  // namespace kestrel
