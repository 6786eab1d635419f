// Where a port that is meant to be open stands, as the driver reports it to its host.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace kestrel {

enum class LinkState {
    Closed,        // not meant to be open
    Connecting,    // meant to be open; its first open is under way on the receive thread
    Open,          // open
    Reconnecting,  // meant to be open, but the device is not there; tried again and again
};

struct LinkStatus {
    LinkState state = LinkState::Closed;
    std::string path;           // the device it is about
    int error = 0;              // errno of the last failed attempt; 0 once open
    std::string detail;         // why, in words, where the errno does not say it all
    std::uint64_t changes = 0;  // counts the changes, so that a poller sees each one
    // While reconnecting, when the next attempt is due. It moves with each failed attempt
    // without counting as a change: a poller that shows it reads it again.
    std::chrono::steady_clock::time_point nextTry{};
};

// How often a device that is gone is looked for: every `first` at the start, every `later`
// once it has been gone for `slowAfter`.
struct RetryPeriods {
    std::chrono::milliseconds first{2000};
    std::chrono::milliseconds later{30000};
    std::chrono::milliseconds slowAfter{60000};
};

}  // namespace kestrel
