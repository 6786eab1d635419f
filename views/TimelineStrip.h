// A painted strip of the last hours of one object: one band per alarm kind, lit where it was on.
#pragma once

#include <QString>
#include <QWidget>
#include <cstdint>
#include <ctime>
#include <deque>
#include <optional>
#include <utility>
#include <vector>

#include "performance/Journal.h"
#include "views/TimelineBands.h"

namespace kestrel {

// "Local 34M AIS: 2026-03-29 00:51:00 to 2026-03-29 00:52:00, 0:01:00"; the end reads
// "active" while the state holds, "unknown since ..." or "ended unseen after ..." where the
// monitor could not see it (with the duration it was seen, "at least ...").
QString TimelineSpanText(int state, const TimelineSpan& span);

class TimelineStrip : public QWidget {
    Q_OBJECT
public:
    // `object` chooses the bands (see TimelineStates) and the strip's accessible name
    // ("Near end timeline").
    explicit TimelineStrip(int object, QWidget* parent = nullptr);

    void SetObject(int object);
    int Object() const { return object; }
    // The journal's entries (in id order, as memory holds them) and the strip's time;
    // repaints only when the bands changed. The entries are read again only when they
    // changed for this strip (a new entry of its states, one of its open entries ended, turned
    // unknown or was seen again, or one of its entries forgotten); else the spans just follow the
    // time. Before `memoryStart` the journal's memory may lack entries, which only the database
    // (when `stored`) still has: that part is painted and told as not in memory instead of as
    // quiet. 0 when memory holds everything the strip covers.
    void SetEntries(const std::deque<JournalEntry>& entries, std::time_t from, std::time_t to,
                    std::time_t memoryStart = 0, bool stored = false);
    const std::vector<TimelineBand>& Bands() const { return bands; }
    // The start of what memory is known to hold, when the strip begins before it; else 0.
    std::time_t ForgottenBefore() const;

    // What hovering at `pos` shows: the span under the pointer (a few pixels either side
    // count, as a second is much narrower than a pixel), or the band's name and the time.
    QString TextAt(const QPoint& pos) const;
    // Where time t lies on band `band`, in the middle of its height.
    QPoint PointAt(int band, std::time_t t) const;
    // The span the keyboard chose with the arrow keys, told as its text; empty when none.
    QString CurrentText() const;
    // The time axis' labels as painted: where each stands and its hour ("06:00").
    struct AxisLabel {
        QRect rect;
        std::time_t t = 0;
        bool operator==(const AxisLabel&) const = default;
    };
    const std::vector<AxisLabel>& AxisLabels() const { return picture.axis; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    bool event(QEvent* event) override;
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    // What the strip shows, in pixels: per band what each column of its rectangle shows, where
    // the part not in memory ends, the time axis' ticks and labels and the keyboard's span.
    // Painting reads it; a refresh repaints only where it changed, which on a day's strip is a
    // few columns a second, or nothing.
    enum Column : std::uint8_t { kGround, kLit, kUnknown };
    struct Picture {
        QRect firstBand;
        std::vector<std::vector<Column>> columns;
        int forgottenX = 0;
        std::vector<int> ticks;
        std::vector<AxisLabel> axis;
        QRect keyRect;
        bool operator==(const Picture&) const = default;
    };
    Picture Draw() const;
    QRect KeyRect() const;
    // Takes the picture as it is now and marks for painting what differs from the last one.
    void Redraw();

    QRect BandRect(int band) const;
    int BandHeight() const;
    int LabelWidth() const;
    int XOf(std::time_t t) const;
    std::optional<std::time_t> TimeAt(int x) const;
    // Tells the bands as the accessible description; the lines of spans told before are kept.
    void Describe();
    void StepSpan(int step);
    QString ForgottenText() const;
    // Whether the entries changed for this strip since the bands were built from them.
    bool EntriesChanged(const std::deque<JournalEntry>& entries, std::time_t newTo) const;

    int object;
    std::vector<int> states;
    std::vector<TimelineBand> bands;
    std::time_t from = 0;
    std::time_t to = 0;
    std::time_t memoryStart = 0;
    bool memoryStored = false;
    // The keyboard's span: band and index, -1 when none.
    int keyBand = -1;
    int keySpan = -1;
    // What the bands stand on: the entries up to `seenThrough` looked at, the oldest entry
    // with a span, and the entries whose spans were open, with since when they were unknown.
    // Built afresh when `built` is unset.
    bool built = false;
    std::int64_t seenThrough = 0;
    std::int64_t oldestShown = 0;
    std::vector<std::pair<std::int64_t, std::optional<std::time_t>>> openEntries;
    // Text widths, measured once per font: every span painted needs them, and measuring text
    // costs more than all the rest of a paint. -1 until measured.
    mutable int labelWidth = -1;
    Picture picture;
    // The bands as last told, with a line per span: a day's strip holds thousands of spans,
    // and one coming or going, or the oldest clipped by a second, retells one line only.
    std::vector<TimelineBand> toldBands;
    std::vector<std::vector<QString>> toldLines;
};

}  // namespace kestrel
