// Fuzzes the Telnet / RFC 2217 client with what a hostile or broken server could send, in
// random splits, and checks the rules any input must keep.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "link/Telnet.h"

namespace {

void Check(bool ok) {
    if (!ok)
        std::abort();
}

}  // namespace

// The first byte chooses where the settings are asked for and the split sizes; the rest is
// what the server sends.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::uint8_t control = bytes[0];
    const std::string_view input(reinterpret_cast<const char*>(bytes + 1), size - 1);
    kestrel::telnet::Client client;
    std::string replies = client.Start();
    std::string data;
    const std::size_t askAt = input.size() * (control & 7) / 8;
    const std::size_t step = 1 + (control >> 3);
    for (std::size_t at = 0; at < input.size(); at += step) {
        if (at <= askAt && askAt < at + step) {
            replies += client.RequestSettings(9600);
        }
        const std::size_t before = replies.size();
        client.Feed(input.substr(at, step), data, replies);
        // Each answer is a short command or our signature: a flood of replies from a few
        // bytes would be a negotiation loop.
        Check(replies.size() - before <= 3 * step + 16);
    }
    // Data never grows: IAC doubling and commands only take bytes away.
    Check(data.size() <= input.size());
    if (const auto refused = client.RefusedSetting()) {
        Check(client.Answer(*refused).has_value());
    }
    return 0;
}
