// The memory of one line: figures per second, bins, the alarm journal and their database.
#pragma once

#include <cstddef>
#include <ctime>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "performance/Classifier.h"
#include "performance/HistoryStore.h"
#include "performance/Journal.h"

namespace kestrel {

struct LineMemoryOptions {
    // Completed intervals the database keeps.
    RetentionOptions retention;
    // Completed intervals memory keeps once they are stored: as many as the views show. A host
    // without views keeps the last of each, which late classifications may still change; a
    // thousand lines with a day in memory each would take 280 MB.
    RetentionOptions intervalMemory;
    // The current intervals are written at least this often (seconds of line time); 0 writes
    // them only when an interval completes and at the end (replays).
    int flushSeconds = 10;
    // Journal entries that ended longer ago than this leave the database; 0 keeps them all.
    int journalDays = 366;
    // Closed journal entries kept in memory for views; the database keeps the rest.
    std::size_t journalMemory = 10000;
};

// Not thread-safe: one thread (the session's) makes every call. Frames come from the receive
// thread through a FrameQueue.
class LineMemory {
public:
    using ProblemSink = HistoryStore::ProblemSink;

    explicit LineMemory(LineMemoryOptions options = {});
    ~LineMemory();
    LineMemory(const LineMemory&) = delete;
    LineMemory& operator=(const LineMemory&) = delete;

    // Opens the database and goes on from what it holds; the seconds since it was last
    // written count as not measured. A problem (locked, corrupt, cannot create) is told once
    // through `sink`, and the line is then remembered in memory only. True when storing.
    bool Open(const std::string& path, std::time_t now, ProblemSink sink);
    // Starts without a database (also done by the first frame or tick when not opened).
    void Start(std::time_t now);

    // Frames decoded late are still handed over within this many seconds of their own.
    static constexpr int kGraceSeconds = 2;

    // One applied frame, in the line second its last character arrived; its journal changes
    // are committed at the next Tick (or Close/Finish). Two frames in one second make one
    // second with the worse classification and both counts. A frame stamped before a second
    // already closed counts in the first open one.
    void OnFrameApplied(const FrameSecond& frame, std::time_t second);
    // The link as the monitor sees it; a state other than Up makes the line states unknown.
    void OnLinkState(LineCondition state, std::time_t now);
    // Closes the seconds before now - kGraceSeconds; those without a frame are not measured.
    // Commits the journal changes of the frames since the last tick, and writes the current
    // intervals when due.
    void Tick(std::time_t now);
    // The wall clock stepped by `seconds` (noted in the journal when more than the jitter);
    // forward steps move the line from `from` on to `to`: the seconds before `from` close as
    // usual, those in between were never lived and count nowhere.
    void ClockStepped(long long seconds, std::time_t from, std::time_t to);
    // A note in the journal, for events the monitor wants remembered with the line.
    void NoteEvent(int state, std::time_t at, std::string note);
    // Monitoring stops at `now`: closes the seconds, lets provisional figures stand, ends the
    // open journal entries and writes everything. Calls after it are ignored.
    void Close(std::time_t now);
    // End of a capture: closes the seconds before `end` and lets provisional figures stand,
    // leaving open journal entries open; writes everything.
    void Finish(std::time_t end);

    // Snapshots for views and metrics.
    const Interval& Current(BinKind kind) const { return classifier.Current(kind); }
    const std::deque<Interval>& Completed(BinKind kind) const {
        return classifier.Completed(kind);
    }
    // Finalised ES, SES, UAS and DM seconds since start: never decrease.
    const Totals& TotalsOf(int object) const { return classifier.TotalsOf(object); }
    std::vector<JournalEntry> JournalEntries(std::time_t since = 0,
                                             bool unacknowledgedOnly = false) const {
        return journal.Entries(since, unacknowledgedOnly);
    }
    // All entries in memory, in id order, without a copy: views compare them every second.
    const std::deque<JournalEntry>& JournalInMemory() const { return journal.All(); }
    // How many entries memory keeps at most; a journal that size may have let older ones go.
    std::size_t JournalMemoryLimit() const { return options.journalMemory; }
    // Acknowledges the entries with these ids that are not yet acknowledged, in one write;
    // returns how many it acknowledged. Acknowledgements stored by another program
    // (kestrel-history ack) reach memory at the next tick.
    int Acknowledge(const std::vector<std::int64_t>& ids, std::time_t now);
    int AcknowledgeAll(std::time_t now);

    // What the journal says of the line now: the link, and since when the line states are
    // unknown (absent while frames show them); a state is on while its entry is open.
    LineCondition Link() const { return journal.Link(); }
    std::optional<std::time_t> UnseenSince() const { return journal.UnseenSince(); }
    bool IsOn(int state) const { return journal.IsOpen(state); }

    bool Storing() const { return store.Usable(); }
    const std::string& StorePath() const { return store.Path(); }
    // The first second not yet closed.
    std::time_t Cursor() const { return classifier.Cursor(); }

private:
    // Takes the acknowledgements another program stored of the entries memory holds.
    void TakeAcknowledgements();
    void CloseOpenSecond();
    // Writes the intervals when due; true when it did.
    bool AfterAdvance();
    void WriteJournal();
    // Writes the current intervals with the journal entries and completed intervals not yet
    // stored; `everything` writes all that memory holds (a new database).
    void Flush(bool everything = false);

    LineMemoryOptions options;
    Classifier classifier;
    Journal journal;
    HistoryStore store;
    std::optional<std::time_t> openSecond;  // the second frames are gathered in
    SecondInput gathered{};
    std::time_t lastFlush = 0;
    std::time_t quarterSeen = 0;  // start of the current 15-minute interval at the last flush
    bool closed = false;
};

}  // namespace kestrel
