// The rows of the statistics files, byte for byte, in the C locale and in a user's locale.
#include <gtest/gtest.h>

#include <vector>

#include "stats/LogRows.h"
#include "tests/stats/StatsTestSupport.h"

namespace kestrel {
namespace {

using test::LocalTime;

struct RowCase {
    const char* what;
    std::string row;
    const char* expected;
};

std::vector<RowCase> RowCases() {
    const std::time_t t = LocalTime(2026, 12, 5, 23, 41, 7);
    AlarmFlags all;
    all.fill(true);
    return {
        {"alarm row, every alarm", AlarmRow(all, t),
         "05/12/26,23:41:07,,NoInputSignal ,AIS ,LOF ,RAI ,NoInputSignal_R ,AIS_R ,LOF_R ,"
         "RAI_R ,"},
        {"counts row, beyond 32 bits", CountsRow({0, 5000000000, 4294967296, 1234567}, t),
         "05/12/26,23:41:07,,0,5000000000,4294967296,1234567"},
        {"single digits, year 2000", DateTimeField(LocalTime(2000, 1, 2, 3, 4, 5)),
         "02/01/00,03:04:05"},
        {"noon, last century year digits", DateTimeField(LocalTime(2099, 9, 30, 12, 0, 59)),
         "30/09/99,12:00:59"},
        {"midnight in summer", DateTimeField(LocalTime(2026, 6, 15, 0, 0, 0)), "15/06/26,00:00:00"},
    };
}

class LogRowsTest : public ::testing::TestWithParam<const char*> {};

TEST_P(LogRowsTest, RowsAreByteExact) {
    test::ScopedLocale locale(GetParam());
    if (!locale.ok) {
        GTEST_SKIP() << "locale " << GetParam() << " is not installed";
    }
    for (const auto& c : RowCases()) {
        EXPECT_EQ(c.row, c.expected) << c.what;
    }
}

INSTANTIATE_TEST_SUITE_P(Locales, LogRowsTest, ::testing::Values("C", test::kUserLocale));

}  // namespace
}  // namespace kestrel
