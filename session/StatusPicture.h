// The status picture of one MUX as texts, and the one shape both JSON writers give it.
#pragma once

#include <array>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "session/StatusTexts.h"

namespace kestrel {

class LineMemory;

// What the journal says of the line, beside the LEDs: those go dark while the line is unseen,
// but an alarm that was on is then unknown, not off.
struct LineReport {
    bool seen = true;
    std::optional<std::time_t> unknownSince;  // while not seen
    // Journal objects ("near:ais", ...) on, or last seen on while the line is unseen.
    std::vector<std::string> objects;
};
LineReport LineReportOf(const LineMemory& memory);

// What a status picture shows. The window fills it from its widgets, the headless monitor
// from its session; both then write it through WriteStatusPicture, so the member names and
// their order exist once.
struct StatusPicture {
    // In the order of kStatusPanes; a pane its host does not have is left out.
    std::array<std::optional<std::string>, kStatusPanes.size()> panes;
    long long frameCount = 0;
    // Bytes of the line let go undecoded because they came faster than decoding (a flooding
    // network server); shown by hosts that read their line through a session.
    std::optional<long long> bytesDropped;
    // In the order of kAlarmIndications: "o" off, "r" red, "y" yellow (see LedLetter).
    std::array<const char*, 8> alarmLeds{"o", "o", "o", "o", "o", "o", "o", "o"};
    // "localNoSig", "localCErr", "remoteNoSig", "remoteCErr": 16 letters each, tributary 1
    // first.
    std::array<std::string, 4> tributaryRows;
    // The four BER fields in the order of the BER texts.
    std::array<std::string, 4> ber;
    bool statistics = false;
    std::optional<LineReport> line;
};

// One LED as a status picture shows it.
inline const char* LedLetter(bool lit, bool red) {
    return !lit ? "o" : red ? "r" : "y";
}

// The members of a JSON object as a writer makes them; nested objects open and close.
class StatusPictureSink {
public:
    virtual ~StatusPictureSink() = default;
    virtual void Open(const std::string& key) = 0;
    virtual void Close() = 0;
    virtual void Text(const std::string& key, const std::string& value) = 0;
    virtual void Number(const std::string& key, long long value) = 0;
    virtual void Flag(const std::string& key, bool value) = 0;
};

// "panes", "frameCount", "bytesDropped" (where set), "alarmLeds" (by LED id), "tributaryLeds", "ber", "statistics" and
// "line" ("seen", "unknownSince" while not, and "on" or "unknown" with the objects), in that
// order; the caller writes the members before them.
void WriteStatusPicture(const StatusPicture& picture, StatusPictureSink& sink);

}  // namespace kestrel
