// The live texts of the status-bar panes. snprintf's integer conversions never look at the
// locale, so these texts are the same whatever LC_NUMERIC says.
#include "session/StatusTexts.h"

#include <cinttypes>
#include <cstdio>

namespace kestrel {

namespace {

std::string Format(const char* label, std::int64_t value) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%s%6" PRId64, label, value);
    return buf;
}

}  // namespace

std::string NearErrorsText(std::int64_t total) {
    return Format("Near Errors = ", total);
}

std::string FarErrorsText(std::int64_t total) {
    return Format("Far Errors = ", total);
}

std::string ComText(int portNumber) {
    return "COM: " + std::to_string(portNumber);
}

std::string PortText(int portOpen) {
    return portOpen ? "PORT: OPENED" : "PORT: CLOSED";
}

std::string MuxText(int connected) {
    return connected ? "MUX CONNECTED " : "MUX NOT CONNECTED";
}

std::string ElapsedText(std::chrono::seconds elapsed) {
    // A monotonic clock never runs backwards, but stay sane if a caller passes a negative span.
    std::int64_t s = elapsed.count() < 0 ? 0 : elapsed.count();
    const std::int64_t days = s / 86400;
    s %= 86400;
    char buf[64];
    std::snprintf(buf, sizeof buf, " %" PRId64 ":%02d:%02d:%02d", days, static_cast<int>(s / 3600),
                  static_cast<int>(s / 60 % 60), static_cast<int>(s % 60));
    return buf;
}

}  // namespace kestrel
