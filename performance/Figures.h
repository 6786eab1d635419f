// The 34 monitored objects, one second of the line as values, interval figures and times.
#pragma once

#include <array>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace kestrel {

// Objects in their fixed order: near end, far end, local tributaries 1..16, remote 1..16.
inline constexpr int kObjectCount = 34;
inline constexpr int kNearObject = 0;
inline constexpr int kFarObject = 1;
inline constexpr int kFirstLocalTribObject = 2;
inline constexpr int kFirstRemoteTribObject = 18;

// "near", "far", "local-trib-N", "remote-trib-N".
const std::string& ObjectName(int object);
// The index of a name above; nullopt for anything else.
std::optional<int> ObjectIndex(std::string_view name);
inline bool IsLineEnd(int object) {
    return object < kFirstLocalTribObject;
}

// One applied frame as the line memory needs it. Tributary bit i follows MonitorState's
// indexing (0..15 local tributaries 1..16, 16..31 remote tributaries 1..16).
struct FrameSecond {
    bool nearDefect = false;  // local status ranks as no input signal, AIS or LOF
    bool farDefect = false;   // the same for the remote status byte, also under a local alarm
    bool remoteTribsDecoded = true;  // false while a local alarm hides the remote half
    double nearCount = 0;
    double farCount = 0;
    std::uint32_t tribNoSig = 0;
    std::uint32_t tribCErr = 0;
    // The eight 34 Mbit/s indications as decoded, in the event-log column order: bits 0..3
    // local no signal, AIS, LOF, RAI; bits 4..7 the remote four (0 under a local alarm).
    std::uint8_t alarms = 0;
};

// The ratio of the BER meter: count x 11.44 / 179000 per second.
inline constexpr double kBerScale = 11.44;
inline constexpr double kBerDivisor = 179000.0;
// A second whose count gives a ratio of at least 1e-3 is severely errored (count >= 15.65).
inline bool SevereCount(double count) {
    return count * kBerScale / kBerDivisor >= 1e-3;
}
// A block of 60 seconds whose ratio is worse than 1e-6 is a degraded minute.
inline bool DegradedBlock(double countSum) {
    return countSum * kBerScale / (kBerDivisor * 60.0) > 1e-6;
}

// The figures of one object over one interval. For tributaries dm, minutes and errors stay 0
// and are reported as absent.
struct Figures {
    std::int64_t available = 0;
    std::int64_t unavailable = 0;
    std::int64_t notMeasured = 0;
    std::int64_t es = 0;
    std::int64_t ses = 0;
    std::int64_t dm = 0;
    std::int64_t minutes = 0;  // blocks of 60 available non-SES seconds completed
    std::int64_t errors = 0;   // counts of the applied seconds, each truncated
    bool operator==(const Figures&) const = default;
};

// Shares in percent; nullopt when the base is 0. The interval's time is shared out of its
// elapsed seconds (available + unavailable + not measured), so those three add up to 100 %;
// the error ratios are of the available time, as G.821 defines them.
struct Percentages {
    std::optional<double> available;    // of elapsed seconds
    std::optional<double> unavailable;  // of elapsed seconds
    std::optional<double> notMeasured;  // of elapsed seconds
    std::optional<double> es;           // of available seconds
    std::optional<double> ses;          // of available seconds
    std::optional<double> dm;           // of the minutes counted
    bool esFailing = false;             // ES >= 8 %
    bool sesFailing = false;            // SES >= 0.2 %
    bool dmFailing = false;             // DM >= 10 %
};
Percentages PercentagesOf(const Figures& f);
// "12.5%" with at most two decimals, or "-" without a denominator.
std::string PercentText(const std::optional<double>& share);

enum class BinKind { Quarter, Day };
// "15min" and "24h", the store's and the tools' names.
const char* BinKindName(BinKind kind);

// Start and length of the bin that holds second t, in the machine's local time: quarter
// hours, and days from local midnight (23 or 25 hours on a daylight-saving change).
struct BinSpan {
    std::time_t start = 0;
    int length = 0;
    std::time_t End() const { return start + length; }
};
BinSpan BinOf(BinKind kind, std::time_t t);

// ISO 8601 in UTC: 2026-03-29T00:45:00Z.
std::string IsoUtc(std::time_t t);
// ISO 8601 with a zone (Z or +hh:mm / +hhmm / +hh), seconds optional; nullopt when malformed,
// for a date or time that does not exist (30 February, 23:59:60) and outside 1970 to 2200.
std::optional<std::time_t> ParseIsoTime(std::string_view text);

}  // namespace kestrel
