// What the timeline strip tells: tooltips, the keyboard's spans, the screen reader's text.
#include <QHelpEvent>
#include <QKeyEvent>
#include <QToolTip>
#include <algorithm>

#include "views/LineTexts.h"
#include "views/TimelineStrip.h"

namespace kestrel {

namespace {

// A span narrower than this many pixels is still found under the pointer.
constexpr int kHitSlack = 3;

// A span's line in the description. An alarm still on is told without its duration, which
// the description would chase every second.
QString ToldLine(int state, const TimelineSpan& span) {
    return span.open && !span.unknownFrom
               ? QStringLiteral("%1: %2 to active")
                     .arg(JournalStateText(state), LocalTimeText(span.start))
               : TimelineSpanText(state, span);
}

}  // namespace

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

QString TimelineStrip::ForgottenText() const {
    const QString at = LocalTimeText(ForgottenBefore());
    return memoryStored ? QStringLiteral(
                              "Before %1 the journal is in the database only: "
                              "kestrel-history journal")
                              .arg(at)
                        : QStringLiteral("Before %1 the journal is no longer in memory").arg(at);
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
                if (k < old.size() && SameButOpenEnd(old[k], span)) {
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

}  // namespace kestrel
