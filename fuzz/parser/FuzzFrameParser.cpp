// Fuzzes the frame parser with random bytes in random splits and checks the state's rules.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "monitor/BerMeter.h"
#include "monitor/FrameParser.h"
#include "monitor/MonitorState.h"

namespace {

void Check(bool ok) {
    if (!ok)
        std::abort();
}

void CheckInvariants(const kestrel::MonitorState& s, const kestrel::FrameParser& parser,
                     std::size_t lastCall) {
    const int local = s.localNoInputSignal + s.localAis + s.localLof;
    Check(local <= 1);
    Check(s.localRai == 0 || local == 0);
    Check(s.localAlarm == (local == 1 ? 1 : 0));
    const int remote = s.remoteNoInputSignal + s.remoteAis + s.remoteLof;
    Check(remote <= 1);
    Check(s.remoteRai == 0 || remote == 0);
    if (s.localAlarm) {
        Check(remote + s.remoteRai == 0);
    }
    for (int i = 0; i < kestrel::kTribCount; ++i) {
        Check(s.tribNoSig[i] == 0 || s.tribNoSig[i] == 1);
        Check(s.tribCErr[i] == 0 || s.tribCErr[i] == 1);
        if (s.localAlarm && i >= 16)
            Check(s.tribNoSig[i] == 0 && s.tribCErr[i] == 0);
    }
    Check(parser.Buffered() <= kestrel::kMaxCarryOver + lastCall);
    Check(s.nearErrorsTotal >= 0 && s.farErrorsTotal >= 0);
    const std::string text = s.spinnerText();
    Check(s.frameCount == 0 ? text.empty()
                            : text.size() == static_cast<std::size_t>(kestrel::kSpinnerWidth));
}

// Every BER text has the shape d.dddddde+ddd or d.dddddde-ddd.
class CheckingSink : public kestrel::BerSink {
public:
    void BerTexts(const std::array<std::string, 4>& texts) override {
        for (const auto& t : texts) {
            Check(t.size() == 13 && t[1] == '.' && t[8] == 'e' && (t[9] == '+' || t[9] == '-'));
            for (std::size_t i : {0u, 2u, 3u, 4u, 5u, 6u, 7u, 10u, 11u, 12u}) {
                Check(t[i] >= '0' && t[i] <= '9');
            }
        }
    }
};

}  // namespace

// The first byte of every piece says how long the piece is, so the fuzzer explores splits.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    kestrel::MonitorState state;
    kestrel::BerMeter meter(state);
    CheckingSink sink;
    meter.SetSink(&sink);
    kestrel::FrameParser parser(state, meter);
    std::size_t pos = 0;
    while (pos < size) {
        const std::size_t length = data[pos] % 128;
        ++pos;
        const std::size_t n = length < size - pos ? length : size - pos;
        parser.Parse(std::string_view(reinterpret_cast<const char*>(data + pos), n));
        pos += n;
        if (data[pos - 1] == 'B')
            meter.OnBerInterval(32775 + (n & 3));
        CheckInvariants(state, parser, n);
    }
    return 0;
}
