// The memory of one line: gathers frames into seconds and keeps the database in step.
#include "performance/LineMemory.h"

#include <algorithm>
#include <functional>
#include <string>

namespace kestrel {

LineMemory::LineMemory(LineMemoryOptions o)
    : options(o), classifier(o.retention), journal(o.journalMemory) {}

LineMemory::~LineMemory() = default;

bool LineMemory::Open(const std::string& path, std::time_t now, ProblemSink sink) {
    if (classifier.Started())
        return store.Usable();
    if (!store.Open(path, std::move(sink))) {
        Start(now);
        return false;
    }
    StoredLine line = store.Load(options.intervalMemory, options.journalMemory);
    classifier.Completed(BinKind::Quarter) = std::move(line.quarters);
    classifier.Completed(BinKind::Day) = std::move(line.days);
    for (int o = 0; o < kObjectCount; ++o)
        classifier.SetCarry(o, line.carry[o]);
    journal.Adopt(line.journal, line.nextJournalId);
    // Entries left open by a monitor that was killed end where its figures end: nothing is
    // known after that.
    journal.EndAll(line.through > 0 ? std::min(line.through, now) : now);
    WriteJournal();
    classifier.Start(now, line.quarter, line.day, line.through);
    journal.MarkUnseen(classifier.Cursor());
    Flush();
    // A host watching many lines opens their memories within a second or two and ticks them
    // together: each database writes in a second of the period of its own (by its name), so
    // that they do not all write and checkpoint in the same tick.
    if (options.flushSeconds > 1) {
        lastFlush -= static_cast<std::time_t>(std::hash<std::string>{}(path) %
                                              static_cast<std::size_t>(options.flushSeconds));
    }
    return store.Usable();
}

void LineMemory::Start(std::time_t now) {
    if (classifier.Started())
        return;
    classifier.Start(now);
    journal.MarkUnseen(now);
    lastFlush = now;
    quarterSeen = classifier.Current(BinKind::Quarter).span.start;
}

void LineMemory::OnFrameApplied(const FrameSecond& frame, std::time_t lineSecond) {
    if (closed)
        return;
    Start(lineSecond);
    // Committed at the tick: one transaction for a burst of frames, not one per frame.
    journal.OnFrame(frame, lineSecond);
    const std::time_t second = std::max(lineSecond, classifier.Cursor());
    if (openSecond && second > *openSecond)
        CloseOpenSecond();
    if (!openSecond) {
        classifier.SkipTo(second);
        openSecond = second;
        gathered = SecondInput{};
    }
    AddFrame(gathered, frame);
    AfterAdvance();
}

void LineMemory::OnLinkState(LineCondition state, std::time_t now) {
    if (closed)
        return;
    Start(now);
    journal.OnLink(state, now);
    WriteJournal();
}

void LineMemory::Tick(std::time_t now) {
    if (closed)
        return;
    Start(now);
    TakeAcknowledgements();
    const std::time_t horizon = now - kGraceSeconds;
    if (openSecond && *openSecond < horizon)
        CloseOpenSecond();
    if (!openSecond)
        classifier.SkipTo(horizon);
    // When the intervals are due, the journal goes with them: one commit instead of two.
    if (!AfterAdvance())
        WriteJournal();
}

void LineMemory::ClockStepped(long long seconds, std::time_t from, std::time_t to) {
    if (closed)
        return;
    Start(from);
    if (to > from) {
        if (openSecond && *openSecond < from)
            CloseOpenSecond();
        if (!openSecond)
            classifier.SkipTo(from);
        // A frame gathered in the second the step cut short stays in it.
        if (openSecond)
            CloseOpenSecond();
        classifier.JumpTo(to);
    }
    const long long size = seconds < 0 ? -seconds : seconds;
    NoteEvent(kClockStepState, std::max(from, to),
              std::string("clock stepped ") + (seconds < 0 ? "back " : "forward ") +
                  std::to_string(size) + " s");
}

void LineMemory::NoteEvent(int state, std::time_t at, std::string note) {
    if (closed)
        return;
    journal.Note(state, at, std::move(note));
    WriteJournal();
}

void LineMemory::Close(std::time_t now) {
    if (closed)
        return;
    Start(now);
    Finish(std::max(now, openSecond ? *openSecond + 1 : now));
    journal.EndAll(now);
    WriteJournal();
    closed = true;
}

void LineMemory::Finish(std::time_t end) {
    Start(end);
    if (openSecond)
        CloseOpenSecond();
    classifier.SkipTo(end);
    classifier.SettleProvisional();
    WriteJournal();
    Flush();
}

int LineMemory::Acknowledge(const std::vector<std::int64_t>& ids, std::time_t now) {
    TakeAcknowledgements();  // an entry acknowledged elsewhere keeps that time
    int n = 0;
    for (std::int64_t id : ids)
        n += journal.Acknowledge(id, now) ? 1 : 0;
    WriteJournal();
    return n;
}

int LineMemory::AcknowledgeAll(std::time_t now) {
    TakeAcknowledgements();
    const int n = journal.AcknowledgeAll(now);
    WriteJournal();
    return n;
}

void LineMemory::TakeAcknowledgements() {
    // Entries before the first one not acknowledged have nothing to learn.
    const auto& entries = journal.All();
    const auto first = std::find_if(entries.begin(), entries.end(),
                                    [](const JournalEntry& e) { return !e.acknowledged; });
    if (first == entries.end())
        return;
    for (const auto& [id, at] : store.AcknowledgedElsewhere(first->id))
        journal.TakeAcknowledged(id, at);
}

void LineMemory::CloseOpenSecond() {
    classifier.SkipTo(*openSecond);
    classifier.CloseSecond(gathered);
    openSecond.reset();
}

bool LineMemory::AfterAdvance() {
    const bool completed = classifier.Current(BinKind::Quarter).span.start != quarterSeen;
    if (completed || (options.flushSeconds > 0 &&
                      classifier.Cursor() - lastFlush >= options.flushSeconds)) {
        Flush();
        return true;
    }
    return false;
}

void LineMemory::WriteJournal() {
    if (!journal.HasUnwritten())
        return;
    if (store.FollowPath()) {
        Flush(true);
        return;
    }
    const std::vector<JournalEntry> entries = journal.Unwritten();
    // Without a database the entries live in memory only; with one they stay marked until
    // a write succeeds.
    if (!store.Usable() || store.WriteJournal(entries) || !store.Usable())
        journal.MarkWritten(entries);
}

void LineMemory::Flush(bool everything) {
    lastFlush = classifier.Cursor();
    const std::time_t quarter = classifier.Current(BinKind::Quarter).span.start;
    const bool completed = quarter != quarterSeen;
    quarterSeen = quarter;
    // A database started anew (the old one lost its name) gets all that memory holds.
    everything = store.FollowPath() || everything;
    if (!store.Usable()) {
        journal.MarkWritten(journal.Unwritten());  // kept in memory only
        return;
    }
    const std::vector<JournalEntry> entries =
        everything ? std::vector<JournalEntry>(journal.All().begin(), journal.All().end())
                   : journal.Unwritten();
    std::vector<const Interval*> quarters, days;
    std::vector<Interval*> written;
    for (BinKind kind : {BinKind::Quarter, BinKind::Day}) {
        auto& list = kind == BinKind::Quarter ? quarters : days;
        for (Interval& i : classifier.Completed(kind)) {
            if (i.dirty || everything) {
                list.push_back(&i);
                written.push_back(&i);
            }
        }
        list.push_back(&classifier.Current(kind));
        written.push_back(&classifier.Current(kind));
    }
    std::array<ObjectCarry, kObjectCount> carry;
    for (int o = 0; o < kObjectCount; ++o)
        carry[o] = classifier.CarryOf(o);
    if (!store.WriteIntervals(quarters, days, classifier.Cursor(), carry, entries)) {
        if (!store.Usable())
            journal.MarkWritten(entries);  // from here on kept in memory only
        return;
    }
    journal.MarkWritten(entries);
    for (Interval* i : written)
        i->dirty = false;
    classifier.Forget(BinKind::Quarter, static_cast<std::size_t>(options.intervalMemory.quarters));
    classifier.Forget(BinKind::Day, static_cast<std::size_t>(options.intervalMemory.days));
    if (completed) {
        const std::time_t journalBefore =
            options.journalDays > 0 ? classifier.Cursor() - options.journalDays * 86400L : 0;
        store.Prune(options.retention, journalBefore);
    }
}

}  // namespace kestrel
