// The words the views use for states, objects and durations.
#include <gtest/gtest.h>

#include "views/LineTexts.h"

namespace kestrel {
namespace {

TEST(LineTexts, StatesObjectsAndDurations) {
    const std::vector<std::pair<QString, QString>> cases{
        {JournalStateText(1), "Local 34M AIS"},
        {JournalStateText(4), "Remote 34M no signal"},
        {JournalStateText(kAlarmStates + 2 * 22), "Remote trib 7 no signal"},
        {JournalStateText(kAlarmStates + 2 * 15 + 1), "Local trib 16 code errors"},
        {JournalStateText(kFirstLinkState + 2), "Link: no data"},
        {ObjectText(kFarObject), "Far end"},
        {ObjectText(kFirstRemoteTribObject + 11), "Remote trib 12"},
        {DurationText(5), "0:00:05"},
        {DurationText(3723), "1:02:03"},
        {DurationText(2 * 86400 + 3 * 3600 + 4 * 60 + 5), "2 d 03:04:05"},
    };
    for (const auto& [got, want] : cases) {
        EXPECT_EQ(got, want);
    }
}

}  // namespace
}  // namespace kestrel
