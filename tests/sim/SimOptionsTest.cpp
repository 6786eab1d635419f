// Command line of the simulator: accepted forms, limits and refusals.
#include <gtest/gtest.h>

#include "tools/mux-sim/SimOptions.h"

namespace kestrel::sim {
namespace {

bool Parse(std::vector<std::string> args, SimOptions& o, std::string& error) {
    o = SimOptions{};
    return ParseSimOptions(args, o, error);
}

TEST(SimOptionsTest, Defaults) {
    SimOptions o;
    std::string error;
    ASSERT_TRUE(Parse({}, o, error));
    EXPECT_EQ(o.scenario, "tour");
    EXPECT_EQ(o.rate, 1.0);
    EXPECT_TRUE(o.device.empty());  // a pseudo-terminal, never a real port by default
    EXPECT_FALSE(o.seconds || o.frames);
}

TEST(SimOptionsTest, AcceptedForms) {
    SimOptions o;
    std::string error;
    ASSERT_TRUE(Parse({"--rate", "0.5", "--scenario=noise", "--seconds", "2.5", "--frames=10",
                       "--seed", "42", "--device", "/tmp/x"},
                      o, error))
        << error;
    EXPECT_EQ(o.rate, 0.5);
    EXPECT_EQ(o.scenario, "noise");
    EXPECT_EQ(*o.seconds, 2.5);
    EXPECT_EQ(*o.frames, 10);
    EXPECT_EQ(o.seed, 42u);
    EXPECT_EQ(o.device, "/tmp/x");

    ASSERT_TRUE(Parse({"--script", "a.txt", "--loop"}, o, error)) << error;
    EXPECT_EQ(o.script, "a.txt");
    EXPECT_TRUE(o.loop);
}

TEST(SimOptionsTest, RateIsCappedAtTheLineRate) {
    SimOptions o;
    std::string error;
    ASSERT_TRUE(Parse({"--rate", "21"}, o, error));
    EXPECT_FALSE(o.rateCapped);
    ASSERT_TRUE(Parse({"--rate", "100"}, o, error));
    EXPECT_TRUE(o.rateCapped);
    EXPECT_EQ(o.requestedRate, 100);
    EXPECT_NEAR(o.rate, 21.33, 0.01);
}

TEST(SimOptionsTest, LongTicksTakeTheirTimeOnTheLine) {
    EXPECT_DOUBLE_EQ(TickSeconds(45, 1), 1.0);
    EXPECT_DOUBLE_EQ(TickSeconds(0, 4), 0.25);  // a silent tick still lasts its period
    EXPECT_DOUBLE_EQ(TickSeconds(45, kMaxRate), 45 / 960.0);
    EXPECT_DOUBLE_EQ(TickSeconds(96, kMaxRate), 0.1);  // garbage ahead of a frame
}

TEST(SimOptionsTest, Refusals) {
    const std::vector<std::vector<std::string>> bad = {
        {"--rate", "0"},
        {"--rate", "-1"},
        {"--rate", "fast"},
        {"--rate", "1e-300"},
        {"--rate", "inf"},
        {"--rate"},
        {"--scenario", "chaos"},
        {"--seconds", "0"},
        {"--frames", "1.5"},
        {"--frames", "0"},
        {"--seed", "-4"},
        {"--device", ""},
        {"--link", ""},
        {"--link", "/tmp/l", "--device", "/tmp/x"},
        {"--bogus"},
        {"--help=yes"},
        {"--loop"},
        {"--scenario", "quiet", "--script", "f"},
        {"serial0"},
    };
    for (const auto& args : bad) {
        SimOptions o;
        std::string error;
        EXPECT_FALSE(Parse(args, o, error)) << args[0];
        EXPECT_FALSE(error.empty()) << args[0];
    }
}

}  // namespace
}  // namespace kestrel::sim
