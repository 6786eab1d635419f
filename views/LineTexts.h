// The line's states, objects and times in the words the views show.
#pragma once

#include <QColor>
#include <QString>
#include <ctime>

#include "performance/Journal.h"

namespace kestrel {

// "Local 34M AIS", "Remote trib 7 no signal", "Link: no data".
QString JournalStateText(int state);
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
