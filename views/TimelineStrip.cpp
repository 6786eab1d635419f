// The timeline strip: bands from the alarm journal, painted, hovered and read out.
#include "views/TimelineStrip.h"

#include <QDateTime>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QToolTip>
#include <algorithm>

#include "views/LineTexts.h"

namespace kestrel {

namespace {

// A span narrower than this many pixels is still found under the pointer.
constexpr int kHitSlack = 3;
// Hours between the labels of the time axis.
constexpr int kAxisHours = 3;

bool SameButOpenEnds(const std::vector<TimelineBand>& a, const std::vector<TimelineBand>& b) {
    auto same = [](const TimelineSpan& x, const TimelineSpan& y) {
        return x.start == y.start && x.open == y.open && (x.open || x.end == y.end) &&
               x.unknownFrom == y.unknownFrom && x.endedUnseen == y.endedUnseen;
    };
    return std::equal(
        a.begin(), a.end(), b.begin(), b.end(), [&](const TimelineBand& x, const TimelineBand& y) {
            return x.state == y.state &&
                   std::equal(x.spans.begin(), x.spans.end(), y.spans.begin(), y.spans.end(), same);
        });
}

}  // namespace

std::vector<int> TimelineStates(int object) {
    if (object == kNearObject) {
        return {0, 1, 2, 3, kFirstLinkState, kFirstLinkState + 1, kFirstLinkState + 2};
    }
    if (object == kFarObject) {
        return {4, 5, 6, 7};
    }
    // Tributary objects follow the journal's tributary index: local 0..15, remote 16..31.
    const int index = object - kFirstLocalTribObject;
    return {kAlarmStates + 2 * index, kAlarmStates + 2 * index + 1};
}

namespace {

// The entry with this id, or none.
const JournalEntry* FindEntry(const std::deque<JournalEntry>& entries, std::int64_t id) {
    const auto e = std::lower_bound(
        entries.begin(), entries.end(), id,
        [](const JournalEntry& entry, std::int64_t wanted) { return entry.id < wanted; });
    return e != entries.end() && e->id == id ? &*e : nullptr;
}

// What bands were built from, to tell later whether the entries changed for them.
struct BuiltFrom {
    std::int64_t oldestShown = 0;
    std::vector<std::pair<std::int64_t, std::optional<std::time_t>>> openEntries;
};

std::vector<TimelineBand> BuildBands(const std::deque<JournalEntry>& entries,
                                     const std::vector<int>& states, std::time_t from,
                                     std::time_t to, BuiltFrom* builtFrom) {
    std::vector<TimelineBand> bands;
    bands.reserve(states.size());
    for (int state : states) {
        bands.push_back({state, {}});
    }
    for (const JournalEntry& e : entries) {
        const auto band = std::find(states.begin(), states.end(), e.state);
        if (band == states.end()) {
            continue;
        }
        const bool open = !e.end || *e.end > to;
        const std::time_t start = std::max(e.start, from);
        const std::time_t end = std::min(e.end.value_or(to), to);
        if (end <= start) {
            continue;
        }
        TimelineSpan span{start, end, open};
        if (e.endedUnseen) {
            span.endedUnseen = true;
        } else if (!e.end && e.unknownSince) {
            span.unknownFrom = std::clamp(*e.unknownSince, start, end);
        }
        bands[static_cast<std::size_t>(band - states.begin())].spans.push_back(span);
        if (builtFrom) {
            if (builtFrom->oldestShown == 0) {
                builtFrom->oldestShown = e.id;
            }
            if (open) {
                builtFrom->openEntries.emplace_back(e.id, e.unknownSince);
            }
        }
    }
    for (TimelineBand& band : bands) {
        std::sort(band.spans.begin(), band.spans.end(),
                  [](const TimelineSpan& a, const TimelineSpan& b) { return a.start < b.start; });
    }
    return bands;
}

}  // namespace

std::vector<TimelineBand> TimelineBands(const std::deque<JournalEntry>& entries,
                                        const std::vector<int>& states, std::time_t from,
                                        std::time_t to) {
    return BuildBands(entries, states, from, to, nullptr);
}

QString TimelineSpanText(int state, const TimelineSpan& span) {
    const bool unseen = span.endedUnseen || span.unknownFrom;
    const std::time_t seenTo = span.unknownFrom.value_or(span.end);
    const QString seen = DurationText(seenTo - span.start);
    return QStringLiteral("%1: %2 to %3, %4")
        .arg(JournalStateText(state), LocalTimeText(span.start),
             EndText(span.open ? std::nullopt : std::optional(span.end), span.unknownFrom,
                     span.endedUnseen),
             unseen ? QStringLiteral("at least %1").arg(seen) : seen);
}

TimelineStrip::TimelineStrip(int object, QWidget* parent)
    : QWidget(parent), object(object), states(TimelineStates(object)) {
    setAccessibleName(ObjectText(object) + QStringLiteral(" timeline"));
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    bands = TimelineBands({}, states, from, to);
    Describe();
}

void TimelineStrip::SetObject(int newObject) {
    if (newObject == object) {
        return;
    }
    object = newObject;
    states = TimelineStates(object);
    setAccessibleName(ObjectText(object) + QStringLiteral(" timeline"));
    bands = TimelineBands({}, states, from, to);
    built = false;
    keyBand = keySpan = -1;
    updateGeometry();
    Describe();
    update();
}

bool TimelineStrip::EntriesChanged(const std::deque<JournalEntry>& entries,
                                   std::time_t newTo) const {
    if (entries.empty()) {
        return seenThrough != 0;
    }
    if (entries.back().id < seenThrough || (oldestShown && entries.front().id > oldestShown)) {
        return true;  // another journal, or one of the entries shown forgotten
    }
    for (auto e = entries.rbegin(); e != entries.rend() && e->id > seenThrough; ++e) {
        if (std::find(states.begin(), states.end(), e->state) != states.end()) {
            return true;
        }
    }
    // An open entry that ended, or that the monitor lost sight of or saw again.
    return std::any_of(openEntries.begin(), openEntries.end(), [&](const auto& open) {
        const JournalEntry* e = FindEntry(entries, open.first);
        return !e || (e->end && *e->end <= newTo) || e->unknownSince != open.second;
    });
}

// The bands at a later time, with the same entries: spans over before it go, the others are
// clipped to it, and the open ones last to its end.
std::vector<TimelineBand> TimelineStrip::Advanced(std::time_t newFrom, std::time_t newTo) const {
    std::vector<TimelineBand> moved = bands;
    for (TimelineBand& band : moved) {
        std::erase_if(band.spans,
                      [&](const TimelineSpan& s) { return !s.open && s.end <= newFrom; });
        for (TimelineSpan& s : band.spans) {
            s.start = std::max(s.start, newFrom);
            if (s.open) {
                s.end = newTo;
            }
            if (s.unknownFrom) {
                s.unknownFrom = std::max(*s.unknownFrom, s.start);
            }
        }
    }
    return moved;
}

void TimelineStrip::SetEntries(const std::deque<JournalEntry>& entries, std::time_t newFrom,
                               std::time_t newTo, std::time_t newMemoryStart, bool stored) {
    std::vector<TimelineBand> newBands;
    if (!built || newFrom < from || newTo < to || EntriesChanged(entries, newTo)) {
        BuiltFrom builtFrom;
        newBands = BuildBands(entries, states, newFrom, newTo, &builtFrom);
        built = true;
        seenThrough = entries.empty() ? 0 : entries.back().id;
        oldestShown = builtFrom.oldestShown;
        openEntries = std::move(builtFrom.openEntries);
    } else {
        newBands = Advanced(newFrom, newTo);
        // The entries since were looked at and concern other strips: not again.
        if (!entries.empty()) {
            seenThrough = entries.back().id;
        }
    }
    const bool moved = newFrom != from || newTo != to || newMemoryStart != memoryStart;
    const std::time_t forgotten = ForgottenBefore();
    const bool wasStored = memoryStored;
    from = newFrom;
    to = newTo;
    memoryStart = newMemoryStart;
    memoryStored = stored;
    // The part not in memory is told again only when its end moves.
    const bool forgottenMoved =
        forgotten != ForgottenBefore() || (forgotten > 0 && wasStored != memoryStored);
    if (newBands == bands) {
        if (forgottenMoved) {
            Describe();
        }
        if (moved) {
            update();
        }
        return;
    }
    // An alarm still on grows every second; the description only when a span comes or goes.
    const bool described = SameButOpenEnds(newBands, bands);
    bands = std::move(newBands);
    if (keyBand >= 0 &&
        keySpan >= static_cast<int>(bands[static_cast<std::size_t>(keyBand)].spans.size())) {
        keySpan = -1;
    }
    if (!described || forgottenMoved) {
        Describe();
    }
    update();
}

std::time_t TimelineStrip::ForgottenBefore() const {
    return memoryStart > from && from < to ? std::min(memoryStart, to) : 0;
}

QString TimelineStrip::ForgottenText() const {
    const QString at = LocalTimeText(ForgottenBefore());
    return memoryStored ? QStringLiteral(
                              "Before %1 the journal is in the database only: "
                              "kestrel-history journal")
                              .arg(at)
                        : QStringLiteral("Before %1 the journal is no longer in memory").arg(at);
}

// The widest name of any strip, so that strips stacked in a window share one time axis.
int TimelineStrip::LabelWidth() const {
    int width = 0;
    for (int o : {kNearObject, kFarObject, kObjectCount - 1}) {
        for (int state : TimelineStates(o)) {
            width = std::max(width, fontMetrics().horizontalAdvance(JournalStateText(state)));
        }
    }
    return width + fontMetrics().averageCharWidth() * 2;
}

QRect TimelineStrip::BandRect(int band) const {
    const int h = fontMetrics().height() + 4;
    const int left = LabelWidth();
    return {left, band * h, std::max(1, width() - left - 2), h - 2};
}

int TimelineStrip::XOf(std::time_t t) const {
    const QRect r = BandRect(0);
    if (to <= from) {
        return r.left();
    }
    return r.left() + static_cast<int>(static_cast<double>(t - from) * r.width() /
                                       static_cast<double>(to - from));
}

std::optional<std::time_t> TimelineStrip::TimeAt(int x) const {
    const QRect r = BandRect(0);
    if (to <= from || x < r.left() || x > r.right()) {
        return std::nullopt;
    }
    return from + static_cast<std::time_t>(static_cast<double>(x - r.left()) *
                                           static_cast<double>(to - from) / r.width());
}

QPoint TimelineStrip::PointAt(int band, std::time_t t) const {
    return {XOf(t), BandRect(band).center().y()};
}

QSize TimelineStrip::sizeHint() const {
    const int h = fontMetrics().height() + 4;
    return {LabelWidth() + 480, h * (static_cast<int>(states.size()) + 1)};
}

QSize TimelineStrip::minimumSizeHint() const {
    return {LabelWidth() + 120, sizeHint().height()};
}

QString TimelineStrip::TextAt(const QPoint& pos) const {
    const int h = fontMetrics().height() + 4;
    const int band = pos.y() / h;
    const auto t = TimeAt(pos.x());
    if (band < 0 || band >= static_cast<int>(bands.size()) || !t) {
        return {};
    }
    const TimelineBand& b = bands[static_cast<std::size_t>(band)];
    if (*t < ForgottenBefore()) {
        return ForgottenText();
    }
    for (const TimelineSpan& span : b.spans) {
        if (pos.x() >= XOf(span.start) - kHitSlack && pos.x() <= XOf(span.end) + kHitSlack) {
            return TimelineSpanText(b.state, span);
        }
    }
    return QStringLiteral("%1: off at %2").arg(JournalStateText(b.state), LocalTimeText(*t));
}

QString TimelineStrip::CurrentText() const {
    if (keyBand < 0 || keySpan < 0) {
        return {};
    }
    const TimelineBand& b = bands[static_cast<std::size_t>(keyBand)];
    return TimelineSpanText(b.state, b.spans[static_cast<std::size_t>(keySpan)]);
}

// Screen readers get every span as text, since hovering is for the mouse only. An alarm
// still on is told without its duration, which the description would chase every second.
void TimelineStrip::Describe() {
    QStringList lines;
    if (ForgottenBefore() > 0) {
        lines << ForgottenText();
    }
    for (const TimelineBand& b : bands) {
        if (b.spans.empty()) {
            lines << QStringLiteral("%1: off").arg(JournalStateText(b.state));
        }
        for (const TimelineSpan& span : b.spans) {
            lines << (span.open && !span.unknownFrom
                          ? QStringLiteral("%1: %2 to active")
                                .arg(JournalStateText(b.state), LocalTimeText(span.start))
                          : TimelineSpanText(b.state, span));
        }
    }
    setAccessibleDescription(lines.join(QStringLiteral("\n")));
}

bool TimelineStrip::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        const auto* help = static_cast<QHelpEvent*>(event);
        const QString text = TextAt(help->pos());
        if (text.isEmpty()) {
            QToolTip::hideText();
            event->ignore();
        } else {
            QToolTip::showText(help->globalPos(), text, this);
        }
        return true;
    }
    return QWidget::event(event);
}

// Left and Right step through the spans of the band Up and Down chose; the span's text
// shows as a tooltip where the mouse would have found it.
void TimelineStrip::StepSpan(int step) {
    if (bands.empty()) {
        return;
    }
    keyBand = std::clamp(keyBand, 0, static_cast<int>(bands.size()) - 1);
    const int count = static_cast<int>(bands[static_cast<std::size_t>(keyBand)].spans.size());
    if (count == 0) {
        keySpan = -1;
    } else if (keySpan < 0) {
        keySpan = step < 0 ? count - 1 : 0;
    } else {
        keySpan = std::clamp(keySpan + step, 0, count - 1);
    }
    update();
    const QString text = keySpan >= 0 ? CurrentText()
                                      : QStringLiteral("%1: off").arg(JournalStateText(
                                            bands[static_cast<std::size_t>(keyBand)].state));
    const TimelineBand& b = bands[static_cast<std::size_t>(keyBand)];
    const std::time_t at = keySpan >= 0 ? b.spans[static_cast<std::size_t>(keySpan)].start : from;
    QToolTip::showText(mapToGlobal(PointAt(keyBand, at)), text, this);
}

void TimelineStrip::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Left:
            StepSpan(-1);
            break;
        case Qt::Key_Right:
            StepSpan(1);
            break;
        case Qt::Key_Up:
            keyBand = std::max(0, keyBand - 1);
            keySpan = -1;
            StepSpan(0);
            break;
        case Qt::Key_Down:
            keyBand = std::min(static_cast<int>(bands.size()) - 1, keyBand + 1);
            keySpan = -1;
            StepSpan(0);
            break;
        default:
            QWidget::keyPressEvent(event);
    }
}

void TimelineStrip::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QPalette& pal = palette();
    const int h = fontMetrics().height() + 4;
    for (int i = 0; i < static_cast<int>(bands.size()); ++i) {
        const TimelineBand& b = bands[static_cast<std::size_t>(i)];
        const QRect r = BandRect(i);
        p.setPen(pal.color(QPalette::WindowText));
        p.drawText(QRect(0, r.top(), r.left(), r.height()), Qt::AlignLeft | Qt::AlignVCenter,
                   JournalStateText(b.state));
        p.fillRect(r, pal.color(QPalette::Base));
        // Not in memory is not quiet: hatched grey, unlike the plain ground of no alarm.
        if (const std::time_t before = ForgottenBefore(); before > 0) {
            const QRect unknown(r.left(), r.top(), XOf(before) - r.left(), r.height());
            p.fillRect(unknown, pal.color(QPalette::Window).darker(110));
            p.fillRect(unknown, QBrush(pal.color(QPalette::Mid), Qt::BDiagPattern));
        }
        const QColor colour = SeverityColour(JournalSeverity(b.state));
        for (int s = 0; s < static_cast<int>(b.spans.size()); ++s) {
            const TimelineSpan& span = b.spans[static_cast<std::size_t>(s)];
            const int x0 = XOf(span.start);
            const QRect lit(x0, r.top(), std::max(1, XOf(span.end) - x0), r.height());
            // Unknown is not on: from where the monitor lost sight of the line, the band is
            // hatched in the alarm's colour over a pale wash of it.
            const int xUnknown = span.unknownFrom ? XOf(*span.unknownFrom) : lit.right() + 1;
            p.fillRect(QRect(x0, r.top(), std::max(0, xUnknown - x0), r.height()), colour);
            if (span.unknownFrom) {
                const QRect unknown(xUnknown, r.top(), std::max(1, lit.right() + 1 - xUnknown),
                                    r.height());
                QColor wash = colour;
                wash.setAlpha(60);
                p.fillRect(unknown, wash);
                p.fillRect(unknown, QBrush(colour, Qt::FDiagPattern));
            }
            if (i == keyBand && s == keySpan && hasFocus()) {
                p.setPen(QPen(pal.color(QPalette::Highlight), 2));
                p.drawRect(lit.adjusted(-2, 0, 2, 0));
            }
        }
        p.setPen(pal.color(QPalette::Mid));
        p.drawRect(r.adjusted(0, 0, -1, -1));
    }
    // The time axis: a label every few hours on the hour, in local time.
    if (to > from) {
        const int axisTop = static_cast<int>(bands.size()) * h;
        p.setPen(pal.color(QPalette::WindowText));
        for (std::time_t t = (from / 3600 + 1) * 3600; t < to; t += 3600) {
            const QDateTime local = QDateTime::fromSecsSinceEpoch(static_cast<qint64>(t));
            if (local.time().hour() % kAxisHours != 0) {
                continue;
            }
            const int x = XOf(t);
            p.drawLine(x, axisTop, x, axisTop + 3);
            p.drawText(x + 2, axisTop + fontMetrics().ascent() + 1,
                       local.toString(QStringLiteral("HH:mm")));
        }
    }
    if (hasFocus()) {
        p.setPen(QPen(pal.color(QPalette::Highlight), 1, Qt::DotLine));
        p.drawRect(rect().adjusted(0, 0, -1, -1));
    }
}

}  // namespace kestrel
