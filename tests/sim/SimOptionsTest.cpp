// Command line of the simulator: accepted forms, limits and refusals.
#include <gtest/gtest.h>

#include <optional>

#include "tools/mux-sim/SimOptions.h"

namespace kestrel::sim {
namespace {

// The options of a command line; empty when it is refused, which must come with a reason.
std::optional<SimOptions> Parse(const std::vector<std::string>& args) {
    SimOptions o;
    std::string error;
    if (!ParseSimOptions(args, o, error)) {
        EXPECT_FALSE(error.empty()) << args.size();
        return std::nullopt;
    }
    return o;
}

TEST(SimOptionsTest, DefaultsAndAcceptedForms) {
    auto o = Parse({});
    ASSERT_TRUE(o);
    EXPECT_TRUE(o->device.empty());  // a pseudo-terminal, never a real port by default
    EXPECT_FALSE(o->seconds || o->frames);  // and it runs until stopped

    o = Parse({"--rate", "0.5", "--scenario=noise", "--seconds", "2.5", "--frames=10", "--seed",
               "42", "--device", "/tmp/x"});
    ASSERT_TRUE(o);
    EXPECT_EQ(o->rate, 0.5);
    EXPECT_EQ(o->scenario, "noise");
    EXPECT_EQ(*o->seconds, 2.5);
    EXPECT_EQ(*o->frames, 10);
    EXPECT_EQ(o->seed, 42u);
    EXPECT_EQ(o->device, "/tmp/x");

    o = Parse({"--script", "a.txt", "--loop"});
    ASSERT_TRUE(o);
    EXPECT_EQ(o->script, "a.txt");
    EXPECT_TRUE(o->loop);
}

// A rate above what the line carries is capped; a long tick takes its time on the line.
TEST(SimOptionsTest, RateIsCappedAtTheLineRate) {
    EXPECT_FALSE(Parse({"--rate", "21"})->rateCapped);
    auto o = Parse({"--rate", "100"});
    ASSERT_TRUE(o);
    EXPECT_TRUE(o->rateCapped);
    EXPECT_EQ(o->requestedRate, 100);
    EXPECT_NEAR(o->rate, 21.33, 0.01);
    EXPECT_DOUBLE_EQ(TickSeconds(45, 1), 1.0);
    EXPECT_DOUBLE_EQ(TickSeconds(0, 4), 0.25);  // a silent tick still lasts its period
    EXPECT_DOUBLE_EQ(TickSeconds(45, kMaxRate), 45 / 960.0);
    EXPECT_DOUBLE_EQ(TickSeconds(96, kMaxRate), 0.1);  // garbage ahead of a frame
}

TEST(SimOptionsTest, Refusals) {
    // clang-format off
    const std::vector<std::vector<std::string>> bad = {
        {"--rate", "0"}, {"--rate", "-1"}, {"--rate", "fast"}, {"--rate", "1e-300"},
        {"--rate", "inf"}, {"--rate"}, {"--scenario", "chaos"}, {"--seconds", "0"},
        {"--frames", "1.5"}, {"--frames", "0"}, {"--seed", "-4"}, {"--device", ""}, {"--link", ""},
        {"--link", "/tmp/l", "--device", "/tmp/x"}, {"--bogus"}, {"--help=yes"}, {"--loop"},
        {"--scenario", "quiet", "--script", "f"}, {"serial0"}, {"--capture", ""},
        // A capture never plays forever, nor to a device or through a link.
        {"--capture", "c.bin"}, {"--capture", "c.bin", "--script", "f", "--loop"},
        {"--capture", "c.bin", "--script", "f", "--device", "/tmp/x"},
    };
    // clang-format on
    for (const auto& args : bad) {
        EXPECT_FALSE(Parse(args)) << args[0];
    }
}

}  // namespace
}  // namespace kestrel::sim
