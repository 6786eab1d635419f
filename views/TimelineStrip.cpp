// The timeline strip: its bands kept up with the journal and the time, and its geometry.
#include "views/TimelineStrip.h"

#include <QEvent>
#include <algorithm>

#include "views/LineTexts.h"

namespace kestrel {

namespace {

// The entry with this id, or none.
const JournalEntry* FindEntry(const std::deque<JournalEntry>& entries, std::int64_t id) {
    const auto e = std::lower_bound(
        entries.begin(), entries.end(), id,
        [](const JournalEntry& entry, std::int64_t wanted) { return entry.id < wanted; });
    return e != entries.end() && e->id == id ? &*e : nullptr;
}

}  // namespace

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
    picture = Draw();
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

void TimelineStrip::SetEntries(const std::deque<JournalEntry>& entries, std::time_t newFrom,
                               std::time_t newTo, std::time_t newMemoryStart, bool stored) {
    std::vector<TimelineBand> newBands;
    if (!built || newFrom < from || newTo < to || EntriesChanged(entries, newTo)) {
        TimelineBuiltFrom builtFrom;
        newBands = TimelineBands(entries, states, newFrom, newTo, &builtFrom);
        built = true;
        seenThrough = entries.empty() ? 0 : entries.back().id;
        oldestShown = builtFrom.oldestShown;
        openEntries = std::move(builtFrom.openEntries);
    } else {
        newBands = AdvancedBands(bands, newFrom, newTo);
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
            Redraw();
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
    Redraw();
}

std::time_t TimelineStrip::ForgottenBefore() const {
    return memoryStart > from && from < to ? std::min(memoryStart, to) : 0;
}

// The widest name of any strip, so that strips stacked in a window share one time axis.
int TimelineStrip::LabelWidth() const {
    if (labelWidth < 0) {
        const QFontMetrics metrics = fontMetrics();
        int width = 0;
        for (int o : {kNearObject, kFarObject, kObjectCount - 1}) {
            for (int state : TimelineStates(o)) {
                width = std::max(width, metrics.horizontalAdvance(JournalStateText(state)));
            }
        }
        labelWidth = width + metrics.averageCharWidth() * 2;
    }
    return labelWidth;
}

int TimelineStrip::BandHeight() const {
    return fontMetrics().height() + 4;
}

QRect TimelineStrip::BandRect(int band) const {
    const int h = BandHeight();
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
    return {LabelWidth() + 480, BandHeight() * (static_cast<int>(states.size()) + 1)};
}

QSize TimelineStrip::minimumSizeHint() const {
    return {LabelWidth() + 120, sizeHint().height()};
}

void TimelineStrip::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) {
        labelWidth = -1;
        picture = Draw();
    }
    QWidget::changeEvent(event);
}

void TimelineStrip::resizeEvent(QResizeEvent* event) {
    picture = Draw();
    QWidget::resizeEvent(event);
}

}  // namespace kestrel
