// The two field readers: hexadecimal bytes and decimal counts, byte for byte.
#include <gtest/gtest.h>

#include "monitor/FrameParser.h"
#include "tests/ScopedLocale.h"

namespace kestrel {
namespace {

using namespace std::string_view_literals;

TEST(ReadHexField, ReadsAsTheCLibraryHexConversion) {
    const std::pair<std::string_view, int> cases[] = {
        {"ff", 0xff}, {"FF", 0xff},  {"fF", 0xff}, {"00", 0},    {"0a", 10}, {" f", 15},
        {"\tf", 15},  {"+a", 10},    {"-1", 0xff}, {"-f", 0xf1}, {"0x", 0},  {"0X", 0},
        {"x1", 0},    {"zz", 0},     {"  ", 0},    {"- ", 0},    {"a/", 10}, {"R0", 0},
        {"\0a"sv, 0}, {"a\0"sv, 10}, {"\3771", 0},
    };
    for (const auto& [field, expected] : cases) {
        EXPECT_EQ(ReadHexField(field), expected) << "field '" << field << "'";
    }
}

TEST(ReadCountField, ReadsAPlainDecimalNumberClampedTo0Through9999) {
    const std::pair<const char*, double> cases[] = {
        {"0007", 7},   {"1234", 1234}, {"9999", 9999}, {"-001", 0},    {"  12", 12},   {"+5  ", 5},
        {"2.7 ", 2.7}, {".5  ", 0.5},  {"1e3 ", 1000}, {"9e99", 9999}, {"1e-2", 0.01}, {"1e+ ", 1},
        {"1e  ", 1},   {"0x12", 0},    {"inf ", 0},    {"nan ", 0},    {"INF0", 0},    {"abcd", 0},
        {"    ", 0},   {".   ", 0},    {"-   ", 0},    {"12ab", 12},   {"-1e3", 0},
    };
    for (const auto& [field, expected] : cases) {
        EXPECT_DOUBLE_EQ(ReadCountField(field), expected) << "field '" << field << "'";
    }
}

TEST(ReadCountField, IgnoresTheUsersDecimalComma) {
    test::ScopedLocale locale(test::kUserLocale);
    if (!locale.ok) {
        GTEST_SKIP() << "no locale with a decimal comma installed";
    }
    EXPECT_DOUBLE_EQ(ReadCountField("2.5 "), 2.5);
    EXPECT_DOUBLE_EQ(ReadCountField("2,5 "), 2);
}

}  // namespace
}  // namespace kestrel
