// The timeline strip: bands from the alarm journal, painted, hovered and read out.
#include "views/TimelineStrip.h"

#include <QDateTime>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QPaintEvent>
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

// Whether two spans are told alike: an open one's end is the strip's, not the span's.
bool SameTold(const TimelineSpan& x, const TimelineSpan& y) {
    return x.start == y.start && x.open == y.open && (x.open || x.end == y.end) &&
           x.unknownFrom == y.unknownFrom && x.endedUnseen == y.endedUnseen;
}

bool SameButOpenEnds(const std::vector<TimelineBand>& a, const std::vector<TimelineBand>& b) {
    return std::equal(
        a.begin(), a.end(), b.begin(), b.end(), [&](const TimelineBand& x, const TimelineBand& y) {
            return x.state == y.state && std::equal(x.spans.begin(), x.spans.end(),
                                                    y.spans.begin(), y.spans.end(), SameTold);
        });
}

// A span's line in the description. An alarm still on is told without its duration, which
// the description would chase every second.
QString ToldLine(int state, const TimelineSpan& span) {
    return span.open && !span.unknownFrom
               ? QStringLiteral("%1: %2 to active")
                     .arg(JournalStateText(state), LocalTimeText(span.start))
               : TimelineSpanText(state, span);
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

QString TimelineStrip::TextAt(const QPoint& pos) const {
    const int band = pos.y() / BandHeight();
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

// Screen readers get every span as text, since hovering is for the mouse only.
void TimelineStrip::Describe() {
    QStringList lines;
    if (ForgottenBefore() > 0) {
        lines << ForgottenText();
    }
    std::vector<std::vector<QString>> told(bands.size());
    for (std::size_t b = 0; b < bands.size(); ++b) {
        const TimelineBand& band = bands[b];
        if (band.spans.empty()) {
            lines << QStringLiteral("%1: off").arg(JournalStateText(band.state));
            continue;
        }
        // Both in time order: the old line of a span, if it was told alike, is found walking on.
        const bool before = b < toldBands.size() && toldBands[b].state == band.state;
        std::size_t k = 0;
        for (const TimelineSpan& span : band.spans) {
            QString line;
            if (before) {
                const std::vector<TimelineSpan>& old = toldBands[b].spans;
                while (k < old.size() && old[k].start < span.start) {
                    ++k;
                }
                if (k < old.size() && SameTold(old[k], span)) {
                    line = toldLines[b][k];
                }
            }
            if (line.isNull()) {
                line = ToldLine(band.state, span);
            }
            lines << line;
            told[b].push_back(std::move(line));
        }
    }
    toldBands = bands;
    toldLines = std::move(told);
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
    Redraw();
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

TimelineStrip::Picture TimelineStrip::Draw() const {
    Picture d;
    d.firstBand = BandRect(0);
    const int left = d.firstBand.left();
    // A span at the strip's end is a pixel wide, past the rectangle's last column.
    const int count = d.firstBand.width() + 2;
    d.columns.assign(bands.size(), std::vector<Column>(static_cast<std::size_t>(count), kGround));
    for (std::size_t i = 0; i < bands.size(); ++i) {
        std::vector<Column>& columns = d.columns[i];
        auto mark = [&](int x0, int x1, Column what) {
            std::fill(columns.begin() + std::clamp(x0 - left, 0, count),
                      columns.begin() + std::clamp(x1 - left, 0, count), what);
        };
        for (const TimelineSpan& span : bands[i].spans) {
            const int x0 = XOf(span.start);
            const int x1 = x0 + std::max(1, XOf(span.end) - x0);
            // Unknown is not on: from where the monitor lost sight of the line, hatched.
            const int xUnknown = span.unknownFrom ? XOf(*span.unknownFrom) : x1;
            mark(x0, xUnknown, kLit);
            if (span.unknownFrom) {
                mark(xUnknown, std::max(xUnknown + 1, x1), kUnknown);
            }
        }
    }
    const std::time_t before = ForgottenBefore();
    d.forgottenX = before > 0 ? XOf(before) : left;
    // The time axis: a label every few hours on the hour, in local time.
    if (to > from) {
        for (std::time_t t = (from / 3600 + 1) * 3600; t < to; t += 3600) {
            const QDateTime local = QDateTime::fromSecsSinceEpoch(static_cast<qint64>(t));
            if (local.time().hour() % kAxisHours == 0) {
                d.axis.emplace_back(XOf(t), t);
            }
        }
    }
    d.keyRect = KeyRect();
    return d;
}

// The keyboard's span, framed while the strip has the focus; null otherwise.
QRect TimelineStrip::KeyRect() const {
    if (keyBand < 0 || keySpan < 0 || !hasFocus()) {
        return {};
    }
    const TimelineSpan& span =
        bands[static_cast<std::size_t>(keyBand)].spans[static_cast<std::size_t>(keySpan)];
    const QRect r = BandRect(keyBand);
    const int x0 = XOf(span.start);
    return {x0, r.top(), std::max(1, XOf(span.end) - x0), r.height()};
}

void TimelineStrip::Redraw() {
    Picture next = Draw();
    if (next == picture) {
        return;
    }
    if (next.firstBand != picture.firstBand || next.columns.size() != picture.columns.size()) {
        picture = std::move(next);
        update();
        return;
    }
    QRegion dirty;
    const int left = next.firstBand.left();
    const int axisTop = static_cast<int>(bands.size()) * BandHeight();
    for (std::size_t i = 0; i < next.columns.size(); ++i) {
        const std::vector<Column>& now = next.columns[i];
        const std::vector<Column>& was = picture.columns[i];
        const auto first = std::mismatch(now.begin(), now.end(), was.begin()).first;
        if (first == now.end()) {
            continue;
        }
        const auto last = std::mismatch(now.rbegin(), now.rend(), was.rbegin()).first;
        const int x0 = left + static_cast<int>(first - now.begin());
        const int x1 = left + static_cast<int>(now.rend() - last);
        dirty += QRect(x0, BandRect(static_cast<int>(i)).top(), x1 - x0, BandHeight());
    }
    if (next.forgottenX != picture.forgottenX) {
        const auto [x0, x1] = std::minmax(next.forgottenX, picture.forgottenX);
        dirty += QRect(x0, 0, x1 - x0, axisTop);
    }
    if (next.axis != picture.axis) {
        dirty += QRect(0, axisTop, width(), height() - axisTop);
    }
    if (next.keyRect != picture.keyRect) {
        // The keyboard's frame is drawn two pixels wider than its span.
        for (const QRect& r : {next.keyRect, picture.keyRect}) {
            if (!r.isNull()) {
                dirty += r.adjusted(-3, -1, 3, 1);
            }
        }
    }
    picture = std::move(next);
    update(dirty);
}

// Paints from the picture, and only the text the region to paint reaches: shaping text is the
// dearest part of a paint, and a refresh asks for a few columns.
void TimelineStrip::paintEvent(QPaintEvent* event) {
    if (picture.firstBand != BandRect(0) || picture.columns.size() != bands.size()) {
        picture = Draw();
    }
    QPainter p(this);
    const QRect region = event->rect();
    const QPalette& pal = palette();
    for (int i = 0; i < static_cast<int>(bands.size()); ++i) {
        const TimelineBand& b = bands[static_cast<std::size_t>(i)];
        const QRect r = BandRect(i);
        const QRect label(0, r.top(), r.left(), r.height());
        if (region.intersects(label)) {
            p.setPen(pal.color(QPalette::WindowText));
            p.drawText(label, Qt::AlignLeft | Qt::AlignVCenter, JournalStateText(b.state));
        }
        p.fillRect(r, pal.color(QPalette::Base));
        // Not in memory is not quiet: hatched grey, unlike the plain ground of no alarm.
        if (picture.forgottenX > r.left()) {
            const QRect unknown(r.left(), r.top(), picture.forgottenX - r.left(), r.height());
            p.fillRect(unknown, pal.color(QPalette::Window).darker(110));
            p.fillRect(unknown, QBrush(pal.color(QPalette::Mid), Qt::BDiagPattern));
        }
        const QColor colour = SeverityColour(JournalSeverity(b.state));
        QColor wash = colour;
        wash.setAlpha(60);
        // Runs of columns alike, each one rectangle: a day's spans are many to a pixel.
        const std::vector<Column>& columns = picture.columns[static_cast<std::size_t>(i)];
        const int count = static_cast<int>(columns.size());
        for (int x = 0; x < count;) {
            int end = x + 1;
            while (end < count && columns[static_cast<std::size_t>(end)] ==
                                      columns[static_cast<std::size_t>(x)]) {
                ++end;
            }
            const QRect run(r.left() + x, r.top(), end - x, r.height());
            switch (columns[static_cast<std::size_t>(x)]) {
                case kLit:
                    p.fillRect(run, colour);
                    break;
                case kUnknown:
                    // In the alarm's colour over a pale wash of it.
                    p.fillRect(run, wash);
                    p.fillRect(run, QBrush(colour, Qt::FDiagPattern));
                    break;
                case kGround:
                    break;
            }
            x = end;
        }
        if (const QRect key = KeyRect(); i == keyBand && !key.isNull()) {
            p.setPen(QPen(pal.color(QPalette::Highlight), 2));
            p.drawRect(key.adjusted(-2, 0, 2, 0));
        }
        p.setPen(pal.color(QPalette::Mid));
        p.drawRect(r.adjusted(0, 0, -1, -1));
    }
    const int axisTop = static_cast<int>(bands.size()) * BandHeight();
    if (region.bottom() >= axisTop) {
        p.setPen(pal.color(QPalette::WindowText));
        for (const auto& [x, t] : picture.axis) {
            p.drawLine(x, axisTop, x, axisTop + 3);
            p.drawText(x + 2, axisTop + fontMetrics().ascent() + 1,
                       QDateTime::fromSecsSinceEpoch(static_cast<qint64>(t))
                           .toString(QStringLiteral("HH:mm")));
        }
    }
    if (hasFocus()) {
        p.setPen(QPen(pal.color(QPalette::Highlight), 1, Qt::DotLine));
        p.drawRect(rect().adjusted(0, 0, -1, -1));
    }
}

}  // namespace kestrel
