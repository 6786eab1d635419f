// The words the views use for states, entries, objects, times and durations.
#include "views/LineTexts.h"

#include <QDateTime>
#include <array>

namespace kestrel {

QString JournalStateText(int state) {
    static constexpr std::array<const char*, 4> kAlarms{"no signal", "AIS", "LOF", "RAI"};
    if (state >= 0 && state < kAlarmStates) {
        return QStringLiteral("%1 34M %2")
            .arg(state < 4 ? QStringLiteral("Local") : QStringLiteral("Remote"),
                 QString::fromLatin1(kAlarms[state % 4]));
    }
    if (state >= kAlarmStates && state < kFirstLinkState) {
        const int index = (state - kAlarmStates) / 2;  // 0..15 local, 16..31 remote
        const bool codeErrors = (state - kAlarmStates) % 2 == 1;
        return QStringLiteral("%1 trib %2 %3")
            .arg(index < 16 ? QStringLiteral("Local") : QStringLiteral("Remote"))
            .arg(index % 16 + 1)
            .arg(codeErrors ? QStringLiteral("code errors") : QStringLiteral("no signal"));
    }
    switch (state - kFirstLinkState) {
        case 0:
            return QStringLiteral("Link: port closed");
        case 1:
            return QStringLiteral("Link: MUX not connected");
        case 2:
            return QStringLiteral("Link: no data");
        case 3:
            return QStringLiteral("Clock step");
        default:
            return QStringLiteral("Unknown state %1").arg(state);
    }
}

QString JournalEntryText(const JournalEntry& e) {
    if (e.note.empty()) {
        return JournalStateText(e.state);
    }
    QString note = QString::fromStdString(e.note);
    note[0] = note[0].toUpper();
    return note;
}

QString EndText(const std::optional<std::time_t>& end,
                const std::optional<std::time_t>& unknownSince, bool endedUnseen) {
    if (end && endedUnseen) {
        return QStringLiteral("ended unseen after %1").arg(LocalTimeText(*end));
    }
    if (end) {
        return LocalTimeText(*end);
    }
    return unknownSince ? QStringLiteral("unknown since %1").arg(LocalTimeText(*unknownSince))
                        : QStringLiteral("active");
}

QString JournalEndText(const JournalEntry& e) {
    return EndText(e.end, e.unknownSince, e.endedUnseen);
}

std::int64_t KnownDuration(const JournalEntry& e, std::time_t now) {
    return (e.end ? *e.end : e.unknownSince.value_or(now)) - e.start;
}

QString JournalDurationText(const JournalEntry& e, std::time_t now) {
    const QString known = DurationText(KnownDuration(e, now));
    // The monitor saw it for this long; it may have lasted longer.
    return e.endedUnseen || (!e.end && e.unknownSince) ? QStringLiteral("at least %1").arg(known)
                                                       : known;
}

QString SeverityText(Severity severity) {
    switch (severity) {
        case Severity::Critical:
            return QStringLiteral("Critical");
        case Severity::Major:
            return QStringLiteral("Major");
        case Severity::Minor:
            break;
    }
    return QStringLiteral("Minor");
}

QColor SeverityColour(Severity severity) {
    switch (severity) {
        case Severity::Critical:
            return {0xd3, 0x2f, 0x2f};
        case Severity::Major:
            return {0xef, 0x7c, 0x00};
        case Severity::Minor:
            break;
    }
    return {0xc9, 0xa4, 0x00};
}

QString ObjectText(int object) {
    if (object == kNearObject) {
        return QStringLiteral("Near end");
    }
    if (object == kFarObject) {
        return QStringLiteral("Far end");
    }
    const bool local = object < kFirstRemoteTribObject;
    const int trib = object - (local ? kFirstLocalTribObject : kFirstRemoteTribObject) + 1;
    return QStringLiteral("%1 trib %2")
        .arg(local ? QStringLiteral("Local") : QStringLiteral("Remote"))
        .arg(trib);
}

QString LocalTimeText(std::time_t t) {
    return QDateTime::fromSecsSinceEpoch(static_cast<qint64>(t))
        .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString DurationText(std::int64_t seconds) {
    seconds = std::max<std::int64_t>(seconds, 0);
    const std::int64_t days = seconds / 86400;
    const std::int64_t h = seconds % 86400 / 3600;
    const std::int64_t m = seconds % 3600 / 60;
    const std::int64_t s = seconds % 60;
    const QString clock = QStringLiteral("%1:%2:%3")
                              .arg(h, days ? 2 : 1, 10, QLatin1Char('0'))
                              .arg(m, 2, 10, QLatin1Char('0'))
                              .arg(s, 2, 10, QLatin1Char('0'));
    return days ? QStringLiteral("%1 d %2").arg(days).arg(clock) : clock;
}

}  // namespace kestrel
