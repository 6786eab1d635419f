// The timeline strip's painting: a picture of what each column shows, repainted where it changed.
#include <QDateTime>
#include <QPaintEvent>
#include <QPainter>
#include <algorithm>

#include "views/LineTexts.h"
#include "views/TimelineStrip.h"

namespace kestrel {

namespace {

// Hours between the labels of the time axis.
constexpr int kAxisHours = 3;

}  // namespace

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
    // The time axis: a tick every few hours on the hour, in local time, its label centred
    // under it. The strip ends at now, anywhere between two ticks: a label that would run
    // past the end ends there instead, and one that would touch the label before it is left
    // out, since a cut or crowded hour reads as another.
    if (to > from) {
        const QFontMetrics metrics = fontMetrics();
        const int gap = metrics.horizontalAdvance(QLatin1Char(' '));
        const int top = static_cast<int>(bands.size()) * BandHeight() + 1;
        int free = 0;  // where the next label may start
        for (std::time_t t = (from / 3600 + 1) * 3600; t < to; t += 3600) {
            const QDateTime local = QDateTime::fromSecsSinceEpoch(static_cast<qint64>(t));
            if (local.time().hour() % kAxisHours != 0) {
                continue;
            }
            const int x = XOf(t);
            d.ticks.push_back(x);
            const int w = metrics.horizontalAdvance(local.toString(QStringLiteral("HH:mm")));
            const int left = std::clamp(x - w / 2, 0, std::max(0, width() - w));
            if (left >= free) {
                d.axis.push_back({QRect(left, top, w, metrics.height()), t});
                free = left + w + gap;
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
    if (next.ticks != picture.ticks || next.axis != picture.axis) {
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
            while (end < count &&
                   columns[static_cast<std::size_t>(end)] == columns[static_cast<std::size_t>(x)]) {
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
        for (const int x : picture.ticks) {
            p.drawLine(x, axisTop, x, axisTop + 3);
        }
        for (const AxisLabel& label : picture.axis) {
            p.drawText(label.rect, Qt::AlignLeft | Qt::AlignTop | Qt::TextDontClip,
                       QDateTime::fromSecsSinceEpoch(static_cast<qint64>(label.t))
                           .toString(QStringLiteral("HH:mm")));
        }
    }
    if (hasFocus()) {
        p.setPen(QPen(pal.color(QPalette::Highlight), 1, Qt::DotLine));
        p.drawRect(rect().adjusted(0, 0, -1, -1));
    }
}

}  // namespace kestrel
