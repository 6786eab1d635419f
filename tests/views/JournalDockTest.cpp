// The alarm journal panel over a line the engine recorded: rows, filters, acknowledging,
// export, keys, LED highlights and the rows kept in place while the memory grows; the words
// the views use.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QFont>
#include <QHeaderView>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>

#include "FilledLine.h"
#include "display/CAlarmBar.h"
#include "display/CKestrelSettings.h"
#include "views/JournalDock.h"
#include "views/LineTexts.h"

namespace kestrel::test {
namespace {

// Local AIS for 5 s and remote tributary 7 without signal twice for 10 s, recorded by the
// engine, which stopped with the second spell on: the memory reading it back does not know
// when that ended. Then the window's memory goes on with the link giving no data.
constexpr const char* kScript =
    "00 0000 00 00 00 00 00 0000 00 00 00 00 repeat 10\n"
    "20 0000 00 00 00 00 00 0000 00 00 00 00 repeat 5\n"
    "00 0000 00 00 00 00 00 0000 00 00 00 00 repeat 5\n"
    "00 0000 00 00 00 00 00 0000 00 00 10 00 repeat 10\n"
    "00 0000 00 00 00 00 00 0000 00 00 00 00 repeat 10\n"
    "00 0000 00 00 00 00 00 0000 00 00 10 00 repeat 10\n";

class JournalDockTest : public ::testing::Test {
protected:
    JournalDockTest() : end(FillDatabase(folder, kScript)), line(folder, end + 2) {
        line.memory.OnLinkState(LineCondition::NoData, end + 2);
        line.now = end + 12;
        JournalDock::Prompts prompts;
        prompts.saveFileName = [this](QWidget*) { return exportPath; };
        prompts.warn = [this](QWidget*, const QString& message) { warnings << message; };
        LineSource source = line.Source();
        source.acknowledge = [this,
                              write = source.acknowledge](const std::vector<std::int64_t>& ids) {
            acknowledgeCalls.push_back(ids.size());
            return write(ids);
        };
        dock = std::make_unique<JournalDock>(
            source, [this](int state) { highlighted.push_back(state); }, nullptr, prompts);
        dock->resize(900, 300);
        dock->show();
    }

    QString Cell(int row, int column) const {
        return dock->Table()->model()->index(row, column).data().toString();
    }
    QStringList Texts(int row) const {
        QStringList texts;
        for (int column = 0; column < JournalModel::Columns; ++column) {
            texts << Cell(row, column);
        }
        return texts;
    }
    QStringList Objects() const {
        QStringList objects;
        for (int row = 0; row < dock->Table()->model()->rowCount(); ++row) {
            objects << Cell(row, JournalModel::ObjectColumn);
        }
        return objects;
    }
    void Select(int row) {
        dock->Table()->selectionModel()->setCurrentIndex(
            dock->Table()->model()->index(row, 0),
            QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
    // Entry id -> acknowledged_unix (0 when NULL), as the database holds them now.
    std::map<std::int64_t, std::int64_t> StoredAcknowledgements() {
        std::map<std::int64_t, std::int64_t> stored;
        for (const std::string& row : Sqlite(
                 folder / "line.sqlite", "SELECT id, IFNULL(acknowledged_unix, 0) FROM journal")) {
            std::int64_t id = 0, at = 0;
            std::istringstream(row) >> id >> at;
            stored[id] = at;
        }
        return stored;
    }

    TempDir folder;
    std::time_t end;
    FilledLine line;
    QString exportPath;
    QStringList warnings;
    std::vector<int> highlighted;
    std::vector<std::size_t> acknowledgeCalls;  // ids per call
    std::unique_ptr<JournalDock> dock;
};

TEST_F(JournalDockTest, RowsNewestFirstWithTheirTexts) {
    for (QWidget* w : dock->findChildren<QWidget*>()) {  // every control named
        if (w->focusPolicy() != Qt::NoFocus) {
            EXPECT_FALSE(w->accessibleName().isEmpty() || w->objectName().isEmpty())
                << w->metaObject()->className();
        }
    }
    const std::vector<QStringList> expected{
        {"Minor", "Link: no data", "2026-03-29 00:50:52", "active", "0:00:10", ""},
        {"Major", "Remote trib 7 no signal", "2026-03-29 00:50:40",
         "ended unseen after 2026-03-29 00:50:50", "at least 0:00:10", ""},
        {"Major", "Remote trib 7 no signal", "2026-03-29 00:50:20", "2026-03-29 00:50:30",
         "0:00:10", ""},
        {"Critical", "Local 34M AIS", "2026-03-29 00:50:10", "2026-03-29 00:50:15", "0:00:05", ""},
    };
    QAbstractItemModel* shown = dock->Table()->model();
    ASSERT_EQ(shown->rowCount(), static_cast<int>(expected.size()));
    for (int row = 0; row < shown->rowCount(); ++row) {
        EXPECT_EQ(Texts(row), expected[static_cast<std::size_t>(row)]) << row;
        // Only the active unacknowledged entry stands out: bold, an icon, and in words.
        const QModelIndex object = shown->index(row, JournalModel::ObjectColumn);
        EXPECT_EQ(object.data(Qt::FontRole).value<QFont>().bold(), row == 0) << row;
        EXPECT_EQ(object.data(Qt::DecorationRole).isNull(), row != 0) << row;
        EXPECT_EQ(object.data(Qt::ToolTipRole).toString(), "Not acknowledged");
        EXPECT_TRUE(shown->index(row, 0).data(Qt::DecorationRole).canConvert<QColor>());
    }
    // The clock runs on: so does the active entry's duration.
    line.now += 60;
    dock->Refresh();
    EXPECT_EQ(Cell(0, JournalModel::DurationColumn), "0:01:10");
}

TEST_F(JournalDockTest, FiltersNarrowTheRows) {
    struct Case {
        const char* name;
        JournalFilter::Criteria criteria;
        QStringList objects;
    };
    const QString trib = "Remote trib 7 no signal";
    const std::vector<Case> cases{
        {"active only", {true, false, Severity::Minor, ObjectKind::All}, {"Link: no data"}},
        {"major and worse",
         {false, false, Severity::Major, ObjectKind::All},
         {trib, trib, "Local 34M AIS"}},
        {"critical", {false, false, Severity::Critical, ObjectKind::All}, {"Local 34M AIS"}},
        {"34 Mbit/s line", {false, false, Severity::Minor, ObjectKind::Line}, {"Local 34M AIS"}},
        {"tributaries", {false, false, Severity::Minor, ObjectKind::Tributaries}, {trib, trib}},
        {"link", {false, false, Severity::Minor, ObjectKind::Link}, {"Link: no data"}},
        {"active tributaries", {true, false, Severity::Minor, ObjectKind::Tributaries}, {}},
    };
    for (const Case& c : cases) {
        dock->Filter().SetCriteria(c.criteria);
        EXPECT_EQ(Objects(), c.objects) << c.name;
    }
    // An ended entry acknowledged says when; the controls set the same criteria, and
    // unacknowledged only hides the rows whose acknowledgement is shown.
    dock->Filter().SetCriteria({});
    line.memory.Acknowledge({line.memory.JournalEntries()[1].id}, line.now);
    dock->Refresh();
    QStringList acknowledged;
    for (int row = 0; row < 4; ++row) {
        acknowledged << Cell(row, JournalModel::AcknowledgedColumn);
    }
    EXPECT_EQ(acknowledged, QStringList({"", "", LocalTimeText(line.now), ""}));
    dock->findChild<QCheckBox*>("unacknowledgedOnly")->setChecked(true);
    dock->findChild<QComboBox*>("objectKind")->setCurrentIndex(2);
    dock->Refresh();
    EXPECT_EQ(Objects(), QStringList({trib}));
    dock->findChild<QComboBox*>("severityAtLeast")->setCurrentIndex(2);
    EXPECT_EQ(Objects(), QStringList());
}

// The line seen again with the remote AIS, a step of the clock, then the port closed with
// the AIS on: the AIS is unknown, not over, and still counts as active; the clock step says
// what it was, under the link.
TEST_F(JournalDockTest, UnknownAndEventEntriesInWords) {
    const std::time_t back = line.now + 1;
    line.memory.OnLinkState(LineCondition::Up, back);
    for (std::time_t t = back; t < back + 3; ++t) {
        line.memory.OnFrameApplied(FrameSecond{.alarms = 0x20}, t);
    }
    line.memory.NoteEvent(kClockStepState, back + 3, "clock stepped back 60 s");
    line.memory.OnLinkState(LineCondition::PortClosed, back + 4);
    line.now = back + 30;
    dock->Refresh();
    const std::vector<QStringList> newest{
        {"Minor", "Clock stepped back 60 s", LocalTimeText(back + 3), LocalTimeText(back + 3),
         "0:00:00", ""},
        {"Major", "Remote 34M AIS", LocalTimeText(back), "unknown since " + LocalTimeText(back + 4),
         "at least 0:00:04", ""},
    };
    EXPECT_EQ(Texts(1), newest[0]);
    EXPECT_EQ(Texts(2), newest[1]);
    dock->Filter().SetCriteria({true, false, Severity::Minor, ObjectKind::All});
    EXPECT_EQ(Objects(), QStringList({"Link: port closed", "Remote 34M AIS"}));
    dock->Filter().SetCriteria({false, false, Severity::Minor, ObjectKind::Link});
    EXPECT_EQ(Objects().mid(0, 2), QStringList({"Link: port closed", "Clock stepped back 60 s"}));
    // The export says the same in its own columns, the duration being what was seen.
    dock->Filter().SetCriteria({false, false, Severity::Major, ObjectKind::Line});
    EXPECT_TRUE(dock->ShownCsv().contains(QString("Major,Remote 34M AIS,%1,,4,,%2,no,\r\n")
                                              .arg(IsoUtc(back).c_str(), IsoUtc(back + 4).c_str())
                                              .toUtf8()));
}

TEST_F(JournalDockTest, KeysAcknowledgeIntoTheDatabase) {
    QTableView* table = dock->Table();
    dock->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(dock.get()));
    table->setFocus();
    const std::vector<JournalEntry> entries = line.memory.JournalEntries();
    const auto newest = [&](std::int64_t id) { return id >= entries[entries.size() - 2].id; };
    const std::time_t first = line.now;

    // The two newest rows, selected with the keys, acknowledged in one write.
    Select(0);
    QTest::keyClick(table, Qt::Key_Down, Qt::ShiftModifier);
    QTest::keyClick(table, Qt::Key_K, Qt::ControlModifier);
    EXPECT_EQ(acknowledgeCalls, std::vector<std::size_t>({2}));
    // The row says so at once: no longer bold, acknowledged in its tooltip.
    const QModelIndex row0 = table->model()->index(0, JournalModel::ObjectColumn);
    EXPECT_FALSE(row0.data(Qt::FontRole).value<QFont>().bold());
    EXPECT_EQ(row0.data(Qt::ToolTipRole).toString(), "Acknowledged " + LocalTimeText(first));
    std::map<std::int64_t, std::int64_t> stored = StoredAcknowledgements();
    for (const JournalEntry& e : entries) {
        EXPECT_EQ(stored.at(e.id), newest(e.id) ? first : 0) << e.id;
    }

    line.now += 30;
    QTest::keyClick(table, Qt::Key_K, Qt::ControlModifier | Qt::ShiftModifier);
    stored = StoredAcknowledgements();
    for (const JournalEntry& e : entries) {
        EXPECT_EQ(stored.at(e.id), newest(e.id) ? first : first + 30) << e.id;
    }
    // The context menu offers both, with their keys.
    EXPECT_EQ(table->contextMenuPolicy(), Qt::ActionsContextMenu);
    EXPECT_EQ(table->actions().mid(0, 2),
              QList<QAction*>({dock->AcknowledgeAction(), dock->AcknowledgeAllAction()}));
}

TEST_F(JournalDockTest, ExportWritesTheShownRows) {
    line.memory.Acknowledge({line.memory.JournalEntries().front().id}, kScriptStart + 100);
    dock->Refresh();
    const std::string header =
        "Severity,Object,Start,End,Duration (s),Acknowledged,Unknown since,Ended unseen,Note\r\n";
    const std::string ais =
        "Critical,Local 34M AIS,2026-03-29T00:50:10Z,2026-03-29T00:50:15Z,5,"
        "2026-03-29T00:51:40Z,,no,\r\n";
    struct Case {
        JournalFilter::Criteria criteria;
        std::string file;  // empty: the user cancels
        bool written;
        std::string content;
    };
    const std::vector<Case> cases{
        {{},
         "all.csv",
         true,
         header +
             "Minor,Link: no data,2026-03-29T00:50:52Z,,10,,,no,\r\n"
             "Major,Remote trib 7 no signal,2026-03-29T00:50:40Z,2026-03-29T00:50:50Z,10,,,yes,"
             "\r\n"
             "Major,Remote trib 7 no signal,2026-03-29T00:50:20Z,2026-03-29T00:50:30Z,10,,,no,"
             "\r\n" +
             ais},
        {{false, false, Severity::Critical, ObjectKind::All}, "critical.csv", true, header + ais},
        {{}, "", false, ""},
        {{}, "no-such-folder/journal.csv", false, ""},
    };
    for (const Case& c : cases) {
        dock->Filter().SetCriteria(c.criteria);
        exportPath = c.file.empty() ? QString() : QString::fromStdString(folder / c.file);
        warnings.clear();
        EXPECT_EQ(dock->Export(), c.written) << c.file;
        EXPECT_EQ(ReadFile(folder / c.file), c.content) << c.file;
        // A write that fails is told, with the file it was for; a cancel is not.
        EXPECT_EQ(warnings.size(), !c.written && !c.file.empty() ? 1 : 0) << c.file;
        EXPECT_TRUE(warnings.isEmpty() || warnings.front().contains("no-such-folder"));
    }
    // No state's words need quotes today; a field that does gets them as RFC 4180 says.
    EXPECT_EQ(CsvLine({"a,b", "say \"hi\"", "two\nlines", ""}),
              "\"a,b\",\"say \"\"hi\"\"\",\"two\nlines\",\r\n");
}

TEST_F(JournalDockTest, ChoosingAnEntryHighlightsItsLed) {
    // State -> LED id, on the alarm bar when positive, on the panel when negative, none at 0.
    const std::vector<std::pair<int, int>> leds{
        {0, 1124},
        {3, 1128},
        {4, 1127},
        {kAlarmStates + 2 * 2, -CKestrelSettings::NoSigLedId(2)},
        {kFirstLinkState + 2, 0},
    };
    for (const auto& [state, led] : leds) {
        const std::optional<JournalLed> got = JournalLedOf(state);
        EXPECT_EQ(got ? (got->onAlarmBar ? got->controlId : -got->controlId) : 0, led) << state;
    }
    // Moving through the rows shows each entry's state once; a click shows it again.
    highlighted.clear();
    Select(3);
    Select(2);
    Select(2);
    QTest::mouseClick(dock->Table()->viewport(), Qt::LeftButton, {},
                      dock->Table()->visualRect(dock->Table()->model()->index(2, 1)).center());
    const int trib7 = kAlarmStates + 2 * 22;
    EXPECT_EQ(highlighted, std::vector<int>({1, trib7, trib7}));

    // The ring goes after its moment.
    const LedIcons icons = LedIcons::Load();
    CAlarmBar bar(icons);
    CKestrelSettings panel(icons);
    HighlightJournalLed(trib7, &bar, &panel);
    HighlightJournalLed(1, &bar, &panel);
    EXPECT_TRUE(panel.Highlighted(CKestrelSettings::NoSigLedId(22)));
    EXPECT_TRUE(bar.Highlighted(1125));
    EXPECT_FALSE(bar.Highlighted(1124));
    bar.Highlight(1125, std::chrono::milliseconds(1));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !bar.Highlighted(1125); }, 5000));
}

TEST_F(JournalDockTest, RefreshKeepsSelectionAndPlaceAndChangesOnlyWhatChanged) {
    QTableView* table = dock->Table();
    table->setFixedHeight(table->horizontalHeader()->height() + 2 * table->rowHeight(0) +
                          2 * table->frameWidth());
    QCoreApplication::processEvents();  // the view lays itself out when the loop runs
    table->scrollToBottom();
    Select(3);  // the local AIS
    const std::size_t shown = highlighted.size();
    const QModelIndex top = table->indexAt(QPoint(0, 0));
    ASSERT_GT(top.row(), 0);
    const QString topStart = top.siblingAtColumn(JournalModel::StartColumn).data().toString();
    QSignalSpy inserted(table->model(), &QAbstractItemModel::rowsInserted);
    QSignalSpy changed(table->model(), &QAbstractItemModel::dataChanged);

    // The port closes: a new entry, and the tributary's entry ends.
    line.now += 5;
    line.memory.OnLinkState(LineCondition::PortClosed, line.now);
    dock->Refresh();
    QCoreApplication::processEvents();
    EXPECT_EQ(inserted.size(), 1);
    EXPECT_EQ(Cell(0, JournalModel::ObjectColumn), "Link: port closed");
    EXPECT_EQ(Cell(1, JournalModel::EndColumn), LocalTimeText(line.now));
    EXPECT_EQ(table->selectionModel()->selectedRows().size(), 1);
    EXPECT_EQ(table->currentIndex().siblingAtColumn(1).data().toString(), "Local 34M AIS");
    EXPECT_EQ(table->indexAt(QPoint(0, 0)).siblingAtColumn(JournalModel::StartColumn).data(),
              topStart);
    EXPECT_EQ(highlighted.size(), shown);
    // The clock stood still: nothing to tell; it runs on: the active entry's row changes.
    changed.clear();
    dock->Refresh();
    EXPECT_EQ(changed.size(), 0);
    line.now += 1;
    dock->Refresh();
    ASSERT_EQ(changed.size(), 1);
    EXPECT_EQ(changed[0][0].value<QModelIndex>().row(), 0);
    EXPECT_EQ(changed[0][1].value<QModelIndex>().row(), 0);
}

// The words for states and durations the rows above do not show.
TEST(LineTexts, StatesAndDurations) {
    const std::vector<std::pair<QString, QString>> cases{
        {JournalStateText(4), "Remote 34M no signal"},
        {JournalStateText(kAlarmStates + 2 * 15 + 1), "Local trib 16 code errors"},
        {DurationText(2 * 86400 + 3 * 3600 + 4 * 60 + 5), "2 d 03:04:05"},
    };
    for (const auto& [got, want] : cases) {
        EXPECT_EQ(got, want);
    }
}

}  // namespace
}  // namespace kestrel::test
