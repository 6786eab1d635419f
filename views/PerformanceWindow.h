// The Performance window: one object's 15-minute and 24-hour figures and the last day's alarms.
#pragma once

#include <QDialog>
#include <ctime>
#include <optional>
#include <vector>

#include "views/LineSource.h"
#include "views/PerformanceRows.h"

class QComboBox;
class QLabel;
class QSplitter;
class QTableWidget;

namespace kestrel {

class TimelineStrip;

// A window of its own, beside the main one rather than over it: the window manager stacks
// and minimises it apart, so that it can be watched next to the LEDs. Whoever makes it
// closes and deletes it.
class PerformanceWindow : public QDialog {
    Q_OBJECT
public:
    explicit PerformanceWindow(LineSource source);
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
