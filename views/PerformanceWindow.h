// The Performance window: one object's 15-minute and 24-hour figures and the last day's alarms.
#pragma once

#include <QDialog>
#include <ctime>
#include <optional>
#include <vector>

#include "views/LineSource.h"

class QComboBox;
class QLabel;
class QSplitter;
class QTableWidget;

namespace kestrel {

class TimelineStrip;

// One interval of the chosen object as the table shows it.
struct PerformanceRow {
    BinKind kind = BinKind::Quarter;
    bool current = false;
    BinSpan span;
    Figures figures;
};

// The object's intervals: the current 15-minute and 24-hour ones first, then the completed
// ones, the most recently ended first (a quarter before the day that ends with it).
std::vector<PerformanceRow> PerformanceRows(const LineMemory& memory, int object);

// The worst interval of the last 24 hours: of the 15-minute intervals, current or completed,
// that end after now - 24 h, the one with the most unavailable and severely errored seconds
// together (SES are not counted while the line is unavailable, so a quarter of outage would
// otherwise rank below one of light errors), then the most ES; the newest of equals.
// Quarters, not days, because a day hides when in it the line suffered. Its index in `rows`,
// or -1 when every such quarter is clean.
int WorstRow(const std::vector<PerformanceRow>& rows, std::time_t now);

// The texts of one row in the table's column order. Failing shares say "fails", tributaries
// say "n/a" for degraded minutes, the worst interval says so in its first column.
QStringList PerformanceRowTexts(const PerformanceRow& row, int object, bool worst);

class PerformanceWindow : public QDialog {
    Q_OBJECT
public:
    explicit PerformanceWindow(LineSource source, QWidget* parent = nullptr);
    ~PerformanceWindow() override;

    // Reads the memory again while the window is shown; rows are rebuilt only when the
    // intervals changed, so the once-a-second call costs next to nothing.
    void Refresh();
    void SetObject(int object);
    int Object() const { return object; }
    // Shows every column when the screen is wide enough; the default size, within the screen.
    QSize sizeHint() const override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    // What decides whether the rows must be built again.
    struct Shape {
        int object = -1;
        std::size_t quarters = 0;
        std::size_t days = 0;
        std::time_t currentQuarter = 0;
        std::time_t currentDay = 0;
        // The newest completed intervals still settle for a few seconds after they end.
        Figures newestQuarter;
        Figures newestDay;
        bool operator==(const Shape&) const = default;
    };
    static Shape ShapeOf(const LineMemory& memory, int object);
    void RefreshTable(const LineMemory& memory, std::time_t now);
    void RefreshTimeline(const LineMemory& memory, std::time_t now);
    void Rebuild(std::vector<PerformanceRow> next, std::time_t now);
    void FillRow(int row);
    void CopyRows();

    LineSource source;
    int object = kNearObject;
    QComboBox* chooser = nullptr;
    QTableWidget* table = nullptr;
    TimelineStrip* nearStrip = nullptr;
    TimelineStrip* farStrip = nullptr;
    QLabel* tribLabel = nullptr;
    TimelineStrip* tribStrip = nullptr;
    QWidget* strips = nullptr;
    QSplitter* split = nullptr;
    bool splitSet = false;
    std::optional<Shape> shape;
    std::vector<PerformanceRow> rows;
    int worst = -1;
};

}  // namespace kestrel
