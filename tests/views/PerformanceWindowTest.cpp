// The Performance window and its timeline over a line the engine filled from a scripted run.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDateTime>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QScreen>
#include <QScrollBar>
#include <QTableWidget>
#include <QTest>
#include <QToolTip>
#include <functional>

#include "FilledLine.h"
#include "views/LineTexts.h"
#include "views/PerformanceWindow.h"
#include "views/TimelineStrip.h"

// Texts read as texts in failures.
static void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}

namespace kestrel::test {
namespace {

// From 00:50:00 in the 00:45 quarter: a minute of errored seconds, five severely errored,
// twelve more (unavailable), remote tributary 7 out for a minute, a minute of silence, five
// seconds of AIS, half a minute of remote RAI. Three errored seconds in the 01:00 quarter;
// two clean minutes of the 01:15 one.
const char* const kScript =
    "00 0000 00 00 00 00 00 0000 00 00 00 00 repeat 60\n"
    "00 0005 00 00 00 00 00 0000 00 00 00 00 repeat 60\n"
    "00 0100 00 00 00 00 00 0000 00 00 00 00 repeat 5\n"
    "00 0000 00 00 00 00 00 0000 00 00 00 00 repeat 55\n"
    "00 0100 00 00 00 00 00 0000 00 00 00 00 repeat 12\n"
    "00 0000 00 00 00 00 00 0000 00 00 00 00 repeat 48\n"
    "00 0000 00 00 00 00 00 0000 00 00 10 00 repeat 60\n"
    "silence 60\n"
    "20 0000 00 00 00 00 00 0000 00 00 00 00 repeat 5\n"
    "00 0000 00 00 00 00 00 0000 00 00 00 00 repeat 115\n"
    "00 0000 00 00 00 00 10 0000 00 00 00 00 repeat 30\n"
    "00 0000 00 00 00 00 00 0000 00 00 00 00 repeat 390\n"
    "00 0005 00 00 00 00 00 0000 00 00 00 00 repeat 3\n"
    "00 0000 00 00 00 00 00 0000 00 00 00 00 repeat 717\n";

constexpr int kRemoteTrib7 = kFirstRemoteTribObject + 6;

struct PerformanceWindowTest : ::testing::Test {
    void SetUp() override {
        end = FillDatabase(folder, kScript);
        line = std::make_unique<FilledLine>(folder, end);
        window = std::make_unique<PerformanceWindow>(line->Source());
        window->show();
        table = window->findChild<QTableWidget*>("performanceTable");
        ASSERT_NE(table, nullptr);
    }
    QString Row(int r) const {
        QStringList cells;
        for (int c = 0; c < table->columnCount(); ++c)
            cells << table->item(r, c)->text();
        return cells.join('|');
    }
    QStringList Rows() const {
        QStringList rows;
        for (int r = 0; r < table->rowCount(); ++r)
            rows << Row(r);
        return rows;
    }
    TimelineStrip* Strip(const char* name) const { return window->findChild<TimelineStrip*>(name); }

    TempDir folder;
    std::time_t end = 0;
    std::unique_ptr<FilledLine> line;
    std::unique_ptr<PerformanceWindow> window;
    QTableWidget* table = nullptr;
};

// Available, unavailable and not measured are shares of the interval's elapsed time and add up
// to 100 %; ES, SES and DM are of the available time and the minutes counted.
TEST_F(PerformanceWindowTest, RowsFiguresSharesFailingAndWorstPerObject) {
    const QString t = "2026-03-29 ";
    const QString cur = "15 min, current|" + t + "01:15|01:30|120|0|0|0|0|";
    const QString day = "24 h, current|" + t + "00:00|24:00|";
    const QString q1 = "|" + t + "01:00|01:15|";
    const QString q0 = "|" + t + "00:45|01:00|";
    const QString clean = "100.00%|0.00%|0.00%|0.00%|0.00%|";
    const std::vector<std::pair<int, QStringList>> cases{
        {kNearObject,
         {cur + "0|" + clean + "0.00%",
          day + "1548|12|3060|73|10|2|33.51%|0.26%|66.23%|4.72%|0.65% fails|8.00%",
          "15 min" + q1 + "900|0|0|3|0|1|100.00%|0.00%|0.00%|0.33%|0.00%|6.67%",
          "15 min, worst" + q0 +
              "528|12|360|70|10|1|58.67%|1.33%|40.00%|13.26% fails|1.89% fails|12.50% fails"}},
        // Tributaries have no degraded minutes; the remote half is not seen under local AIS.
        {kRemoteTrib7,
         {cur + "n/a|" + clean + "n/a",
          day + "1495|60|3065|0|0|n/a|32.36%|1.30%|66.34%|0.00%|0.00%|n/a",
          "15 min" + q1 + "900|0|0|0|0|n/a|" + clean + "n/a",
          "15 min, worst" + q0 + "475|60|365|0|0|n/a|52.78%|6.67%|40.56%|0.00%|0.00%|n/a"}},
    };
    auto* chooser = window->findChild<QComboBox*>("performanceObject");
    for (const auto& [object, rows] : cases) {
        chooser->setCurrentIndex(object);  // as the user chooses it
        EXPECT_EQ(Rows(), rows) << ObjectText(object).toStdString();
        // The tributary's own strip shows only while a tributary is chosen.
        EXPECT_EQ(Strip("tribTimeline")->isVisible(), !IsLineEnd(object));
    }
    EXPECT_EQ(Strip("tribTimeline")->accessibleName(), "Remote trib 7 timeline");
    // Failing shares are coloured as well as marked.
    window->SetObject(kNearObject);
    EXPECT_NE(table->item(3, 12)->foreground(), table->item(3, 11)->foreground());
}

TEST_F(PerformanceWindowTest, DefaultSizeShowsEveryColumnWithinTheScreen) {
    // Every column fits beside the scroll bar of a window 1280 wide at the normal font; a
    // smaller screen (the test's) bounds the window instead.
    const QSize want = window->sizeHint();
    const QSize room = window->screen()->availableGeometry().size();
    EXPECT_LE(want.width(), 1280);
    EXPECT_EQ(window->size(), want.boundedTo(room));
    window->resize(want);
    QApplication::processEvents();
    EXPECT_EQ(table->horizontalScrollBar()->maximum(), 0);
    // No text is cut, "fails" included, as the rows are rebuilt.
    line->memory.Tick(line->now = kScriptStart + 40 * 60 + 5);
    window->Refresh();
    for (int c = 0; c < table->columnCount(); ++c)
        EXPECT_GE(table->columnWidth(c),
                  static_cast<QAbstractItemView*>(table)->sizeHintForColumn(c))
            << c;
}

TEST(WorstRow, MostUnavailableAndSesThenEsNewestOfEqualsWithinADay) {
    const std::time_t now = kScriptStart + 86400;
    auto q = [](std::time_t start, std::int64_t ses, std::int64_t es, std::int64_t uas,
                BinKind kind = BinKind::Quarter) {
        PerformanceRow row{kind, false, {start, kind == BinKind::Quarter ? 900 : 86400}, {}};
        row.figures.ses = ses;
        row.figures.es = es;
        row.figures.unavailable = uas;
        return row;
    };
    const std::time_t s = now - 3600;
    const std::vector<std::pair<std::vector<PerformanceRow>, int>> cases{
        {{q(s, 0, 0, 0), q(s - 900, 0, 0, 0)}, -1},
        {{q(s, 0, 9, 0), q(s - 900, 1, 1, 0)}, 1},
        {{q(s, 1, 5, 0), q(s - 900, 1, 4, 90)}, 1},
        {{q(s, 0, 0, 10), q(s - 900, 0, 0, 11)}, 1},
        // An outage outranks light errors, and unavailable seconds count with SES.
        {{q(s, 0, 40, 0), q(s - 900, 0, 0, 300)}, 1},
        {{q(s, 3, 0, 2), q(s - 900, 4, 9, 0)}, 0},
        {{q(s, 0, 2, 0), q(s - 900, 0, 2, 0)}, 0},
        // Days do not count, nor quarters that ended a day ago or more.
        {{q(s, 0, 0, 0), q(s - 900, 9, 9, 9, BinKind::Day), q(now - 86400 - 900, 9, 9, 9)}, -1},
    };
    for (std::size_t i = 0; i < cases.size(); ++i)
        EXPECT_EQ(WorstRow(cases[i].first, now), cases[i].second) << "case " << i;
}

TEST(TimelineBands, ClippedOrderedOpenToTheEnd) {
    const std::time_t from = 1000, to = 2000;
    const std::deque<JournalEntry> entries{
        {1, 1, 900, 1100, {}, {}, false, {}},   // starts before the strip
        {2, 3, 1500, {}, {}, {}, false, {}},    // still on
        {3, 1, 1200, 1300, {}, {}, false, {}},  // a second spell
        {4, 1, 500, 999, {}, {}, false, {}},    // over before the strip
        {5, 5, 1200, 1300, {}, {}, false, {}},  // another object's state
        {6, 2, 1900, 2500, {}, {}, false, {}},  // on past the strip's end
    };
    const std::vector<TimelineBand> want{
        {0, {}},
        {1, {{1000, 1100, false}, {1200, 1300, false}}},
        {2, {{1900, 2000, true}}},
        {3, {{1500, 2000, true}}},
        {72, {}},
        {73, {}},
        {74, {}},
    };
    EXPECT_EQ(TimelineBands(entries, TimelineStates(kNearObject), from, to), want);
    EXPECT_EQ(TimelineSpanText(3, {1500, 2000, true}),
              "Local 34M RAI: 1970-01-01 00:25:00 to active, 0:08:20");
}

// An alarm the monitor lost sight of is hatched from then on, not lit, and told as unknown.
// The strip follows an entry that turns unknown, or is seen again, with no new entry to tell.
TEST(TimelineStrip, UnknownIsHatchedAndToldAsSuch) {
    std::deque<JournalEntry> entries{{2, 6, 400, {}, {}, {}, false, {}}};  // far LOF, on
    TimelineStrip strip(kFarObject);
    strip.resize(strip.sizeHint());
    strip.SetEntries(entries, 0, 1000);
    entries[0].unknownSince = 700;
    strip.SetEntries(entries, 0, 1001);
    EXPECT_EQ(strip.Bands()[2].spans, std::vector<TimelineSpan>({{400, 1001, true, 700}}));
    EXPECT_TRUE(strip.accessibleDescription().contains(
        "Remote 34M LOF: 1970-01-01 00:06:40 to unknown since 1970-01-01 00:11:40, at least "
        "0:05:00"));
    // Lit while seen; after, hatched: some of its colour, some not, none of the plain ground.
    const QImage image = strip.grab().toImage();
    const QColor lit = SeverityColour(Severity::Major);
    EXPECT_EQ(image.pixelColor(strip.PointAt(2, 550)), lit);
    int hatch = 0, between = 0;
    for (int x = strip.PointAt(2, 750).x(); x < strip.PointAt(2, 950).x(); ++x) {
        const QColor c = image.pixelColor(x, strip.PointAt(2, 0).y());
        EXPECT_NE(c, strip.palette().color(QPalette::Base)) << x;
        ++(c == lit ? hatch : between);
    }
    EXPECT_TRUE(hatch > 0 && between > 0);
    entries[0].unknownSince.reset();  // seen again with frames
    strip.SetEntries(entries, 0, 1002);
    EXPECT_EQ(strip.Bands()[2].spans, std::vector<TimelineSpan>({{400, 1002, true}}));
}

// A day ending five minutes past six: the 06:00 label, a pixel or two from the end, stays
// whole and on the strip at any width; where the strip is too narrow for every label, those
// that would touch the one before are left out rather than overprinted.
TEST(TimelineStrip, HourLabelsWholeAndApart) {
    const std::time_t to = QDateTime(QDate(2026, 6, 15), QTime(6, 5)).toSecsSinceEpoch();
    const std::deque<JournalEntry> none;
    TimelineStrip strip(kNearObject);
    strip.show();
    for (const int width : {strip.sizeHint().width(), 1200, strip.minimumSizeHint().width()}) {
        strip.resize(width, strip.sizeHint().height());
        strip.SetEntries(none, to - 86400, to);
        const auto& labels = strip.AxisLabels();
        ASSERT_FALSE(labels.empty()) << width;
        for (std::size_t i = 0; i < labels.size(); ++i) {
            EXPECT_TRUE(strip.rect().contains(labels[i].rect)) << width << " " << i;
            EXPECT_TRUE(i == 0 || labels[i].rect.left() > labels[i - 1].rect.right()) << width;
        }
        if (width >= strip.sizeHint().width()) {
            EXPECT_EQ(labels.size(), 8u) << width;
            EXPECT_EQ(labels.back().t, to - 300) << width;
        }
    }
}

// A strip refreshed second by second keeps what it shows and tells between refreshes, and
// repaints only where that changed: after each change of the journal or the clock, what it
// holds, tells, paints whole and has on the screen is what a strip made afresh paints.
TEST(TimelineStrip, FollowedStepByStepShowsWhatAFreshOneShows) {
    std::deque<JournalEntry> entries{
        {1, 1, 20000, 30000, {}, {}, false, {}},  // local AIS, long over
        {2, 0, 50000, 50060, {}, {}, false, {}},  // local no signal, a minute
        {3, 2, 90000, {}, {}, {}, false, {}},     // local LOF, on
    };
    std::time_t now = 100000, memoryStart = 0;
    bool stored = false;
    const std::vector<std::pair<const char*, std::function<void()>>> steps{
        {"the clock moves", [&] { ++now; }},
        {"a new entry", [&] { entries.push_back({4, 1, 99000, {}, {}, {}, false, {}}); }},
        {"an open entry ends", [&] { entries[2].end = 99500; }},
        {"the monitor loses sight", [&] { entries[3].unknownSince = 99800; }},
        {"the oldest is clipped", [&] { now = 20000 + 86400 + 5000; }},
        {"the oldest is gone", [&] { now = 30000 + 86400 + 1; }},
        {"memory forgets the oldest",
         [&] {
             entries.pop_front();
             memoryStart = entries.front().start;
             stored = true;
         }},
    };
    TimelineStrip followed(kNearObject);
    followed.setFocusPolicy(Qt::NoFocus);  // no focus frame in the pictures
    followed.resize(followed.sizeHint());
    followed.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&followed));
    followed.SetEntries(entries, now - 86400, now);
    for (const auto& [name, step] : steps) {
        step();
        followed.SetEntries(entries, now - 86400, now, memoryStart, stored);
        QApplication::processEvents();  // paints what the refresh marked, no more
        TimelineStrip fresh(kNearObject);
        fresh.setFocusPolicy(Qt::NoFocus);
        fresh.resize(followed.size());
        fresh.SetEntries(entries, now - 86400, now, memoryStart, stored);
        EXPECT_EQ(followed.Bands(), fresh.Bands()) << name;
        EXPECT_EQ(followed.accessibleDescription(), fresh.accessibleDescription()) << name;
        const QImage want = fresh.grab().toImage().convertToFormat(QImage::Format_RGB32);
        EXPECT_TRUE(followed.grab().toImage().convertToFormat(QImage::Format_RGB32) == want)
            << name;
        const QImage shown = followed.screen()->grabWindow(followed.winId()).toImage();
        EXPECT_TRUE(shown.convertToFormat(QImage::Format_RGB32) == want) << name << " on screen";
    }
}

TEST_F(PerformanceWindowTest, TimelineFromTheJournalHoverAndKeys) {
    window->SetObject(kRemoteTrib7);
    const TimelineSpan ais{kScriptStart + 360, kScriptStart + 365, false};
    const std::vector<std::tuple<const char*, int, TimelineSpan>> lit{
        {"nearTimeline", 1, ais},
        {"farTimeline", 3, {kScriptStart + 480, kScriptStart + 510, false}},
        {"tribTimeline", 0, {kScriptStart + 240, kScriptStart + 360, false}},
    };
    for (const auto& [name, band, span] : lit) {
        TimelineStrip* strip = Strip(name);
        for (int b = 0; b < static_cast<int>(strip->Bands().size()); ++b) {
            const auto& spans = strip->Bands()[static_cast<std::size_t>(b)].spans;
            EXPECT_EQ(spans, b == band ? std::vector{span} : std::vector<TimelineSpan>{}) << name;
        }
        const QString text = TimelineSpanText(strip->Bands()[band].state, span);
        EXPECT_TRUE(strip->accessibleDescription().contains(text)) << name;
    }
    // Hovering over five seconds of a day's strip still finds them; beside them, nothing.
    TimelineStrip* near = Strip("nearTimeline");
    const std::vector<std::pair<std::time_t, QString>> hovers{
        {ais.start + 2, "Local 34M AIS: 2026-03-29 00:56:00 to 2026-03-29 00:56:05, 0:00:05"},
        {end - 7200, "Local 34M AIS: off at 2026-03-28 23:1"},  // to the pixel
    };
    for (const auto& [t, text] : hovers) {
        const QPoint p = near->PointAt(1, t);
        QHelpEvent help(QEvent::ToolTip, p, near->mapToGlobal(p));
        QApplication::sendEvent(near, &help);
        EXPECT_TRUE(QToolTip::text().startsWith(text)) << QToolTip::text().toStdString();
    }
    // The keyboard reaches the same span: Down to the AIS band, Right to its first span.
    for (int key : {Qt::Key_Down, Qt::Key_Down, Qt::Key_Right}) {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(near, &press);
    }
    EXPECT_EQ(near->CurrentText(), hovers[0].second);
}

// A journal at its memory's limit has let older entries go: the strip's first hours are not
// quiet but unknown, painted and told so; with every entry in memory they are plain.
TEST_F(PerformanceWindowTest, TimelineTellsWhatMemoryNoLongerHolds) {
    window.reset();
    line.reset();
    for (const std::size_t limit : {std::size_t{10000}, std::size_t{2}}) {
        LineMemoryOptions options;
        options.journalMemory = limit;
        FilledLine limited(folder, end, options);
        PerformanceWindow shown(limited.Source());
        shown.show();
        auto* near = shown.findChild<TimelineStrip*>("nearTimeline");
        const bool cut = limit == 2;
        const std::time_t kept = limited.memory.JournalInMemory().front().start;
        ASSERT_GT(kept, end - 86400 + 3600);
        EXPECT_EQ(near->ForgottenBefore(), cut ? kept : 0) << limit;
        const QString note = "Before " + LocalTimeText(kept) +
                             " the journal is in the database only: kestrel-history journal";
        EXPECT_EQ(near->accessibleDescription().startsWith(note + "\n"), cut) << limit;
        const QPoint p = near->PointAt(0, end - 86400 + 1800);
        EXPECT_EQ(near->TextAt(p) == note, cut) << near->TextAt(p).toStdString();
        const QColor ground = near->grab().toImage().pixelColor(p);
        EXPECT_EQ(ground != near->palette().color(QPalette::Base), cut) << limit;
        // What memory holds is shown as ever.
        EXPECT_EQ(near->Bands()[1].spans.size(), 1u) << limit;
    }
}

TEST_F(PerformanceWindowTest, RefreshKeepsSelectionUpdatesCurrentOnlyAndRebuildsOnANewQuarter) {
    table->setCurrentCell(3, 0);
    QTableWidgetItem* kept = table->item(3, 0);
    // 24 severely errored seconds in four runs too short for unavailability (more than the
    // old worst quarter's unavailable and severely errored seconds together), AIS with them
    // and left on, then a wait.
    FrameSecond severe;
    severe.nearCount = 100;
    severe.alarms = 0x02;
    for (std::time_t t = end; t < end + 27; ++t)
        line->memory.OnFrameApplied((t - end) % 7 == 6 ? FrameSecond{} : severe, t);
    line->memory.Tick(line->now = end + 34);
    window->hide();
    window->Refresh();  // hidden: reads nothing
    EXPECT_TRUE(Row(0).endsWith("|120|0|0|0|0|0|100.00%|0.00%|0.00%|0.00%|0.00%|0.00%"));
    window->show();
    // The current quarter is now the worst; the old worst one is plain again.
    EXPECT_EQ(Row(0).toStdString(),
              "15 min, current, worst|2026-03-29 01:15|01:30|147|0|5|24|24|0|96.71%|0.00%|"
              "3.29%|16.33% fails|16.33% fails|0.00%");
    EXPECT_TRUE(Row(3).startsWith("15 min|"));
    EXPECT_EQ(table->item(3, 0), kept);
    EXPECT_EQ(table->currentRow(), 3);
    // The quarter completes: the rows are built again, the selection stays with its interval.
    line->memory.Tick(line->now = kScriptStart + 40 * 60 + 5);
    window->Refresh();
    EXPECT_EQ(table->rowCount(), 5);
    EXPECT_EQ(table->currentRow(), 4);
    EXPECT_TRUE(Row(4).contains("00:45|"));
    // The AIS still on reaches to now; its description does not chase the seconds.
    TimelineStrip* near = Strip("nearTimeline");
    const TimelineSpan on{end + 21, line->now, true};
    EXPECT_EQ(near->Bands()[1].spans.back(), on);
    const QString told = near->accessibleDescription();
    EXPECT_TRUE(told.contains("Local 34M AIS: 2026-03-29 01:17:21 to active\nLocal 34M LOF: off"))
        << told.toStdString();
    line->memory.Tick(++line->now);
    window->Refresh();
    EXPECT_EQ(near->Bands()[1].spans.back().end, line->now);
    EXPECT_EQ(near->accessibleDescription(), told);
}

TEST_F(PerformanceWindowTest, NamesFocusOrderAndCopy) {
    EXPECT_FALSE(window->isModal());
    QStringList chain;
    for (QWidget* w = window->nextInFocusChain(); w != window.get(); w = w->nextInFocusChain()) {
        if ((w->focusPolicy() & Qt::TabFocus) && w->isVisibleTo(window.get())) {
            EXPECT_FALSE(w->accessibleName().isEmpty()) << w->objectName().toStdString();
            chain << w->objectName();
        }
    }
    EXPECT_EQ(chain, QStringList(
                         {"performanceObject", "performanceTable", "nearTimeline", "farTimeline"}));
    // Ctrl+C and the context menu copy the selected rows under the headers.
    EXPECT_EQ(table->contextMenuPolicy(), Qt::ActionsContextMenu);
    table->selectRow(2);
    window->findChild<QAction*>("performanceCopy")->trigger();
    EXPECT_EQ(QApplication::clipboard()->text(),
              "Interval\tStart\tEnd\tAvailable\tUnavailable\tNot measured\tES\tSES\tDM\t"
              "Available %\tUnavailable %\tNot measured %\tES %\tSES %\tDM %\n" +
                  Row(2).replace('|', '\t') + "\n");
}

}  // namespace
}  // namespace kestrel::test
