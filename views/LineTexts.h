// The line's states, objects and times in the words the views show.
#pragma once

#include <QColor>
#include <QString>
#include <ctime>
#include <optional>

#include "performance/Journal.h"

namespace kestrel {

// "Local 34M AIS", "Remote trib 7 no signal", "Link: no data", "Clock step".
QString JournalStateText(int state);
// What an entry is about: an event's note as a sentence ("Clock stepped back 60 s"), else its
// state's words.
QString JournalEntryText(const JournalEntry& entry);
// How a spell ends, in words: its end; "active" while on; "unknown since ..." while the
// monitor cannot see the line it was on when last seen; "ended unseen after ..." when it was
// gone once the line was seen again, at some time after `end`.
QString EndText(const std::optional<std::time_t>& end,
                const std::optional<std::time_t>& unknownSince, bool endedUnseen);
// An entry's end and duration: the duration runs to `now` while active; where the end is not
// known it is what was seen, "at least 0:05:00".
QString JournalEndText(const JournalEntry& entry);
QString JournalDurationText(const JournalEntry& entry, std::time_t now);
// The seconds an entry is known to have lasted: to its end, to `now` while active, to when the
// monitor lost sight of it while unknown.
std::int64_t KnownDuration(const JournalEntry& entry, std::time_t now);
// "Critical", "Major", "Minor".
QString SeverityText(Severity severity);
// The colour a severity is marked with, in the journal's rows and on the timeline alike.
QColor SeverityColour(Severity severity);
// "Near end", "Far end", "Local trib 3", "Remote trib 12".
QString ObjectText(int object);
// Local date and time: "2026-12-07 14:03:09".
QString LocalTimeText(std::time_t t);
// "0:00:05", "1:02:03", "2 d 03:04:05".
QString DurationText(std::int64_t seconds);

// Gives a control the name tests and scripts find it by and the name assistive technology
// reads; returns it.
template <typename Widget>
Widget* Named(Widget* widget, const char* objectName, const QString& accessibleName) {
    widget->setObjectName(QString::fromLatin1(objectName));
    widget->setAccessibleName(accessibleName);
    return widget;
}

}  // namespace kestrel
