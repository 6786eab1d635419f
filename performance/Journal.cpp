// The alarm journal: one entry per change of a monitored state.
#include "performance/Journal.h"

#include <algorithm>

namespace kestrel {

namespace {

std::array<std::string, kJournalStates> MakeNames() {
    std::array<std::string, kJournalStates> n;
    static const char* const kinds[] = {"no-signal", "ais", "lof", "rai"};
    for (int i = 0; i < 4; ++i) {
        n[i] = std::string("near:") + kinds[i];
        n[4 + i] = std::string("far:") + kinds[i];
    }
    for (int k = 0; k < 32; ++k) {
        const std::string& object = ObjectName(kFirstLocalTribObject + k);
        n[kAlarmStates + 2 * k] = object + ":no-signal";
        n[kAlarmStates + 2 * k + 1] = object + ":code-errors";
    }
    n[kFirstLinkState] = "link:port-closed";
    n[kFirstLinkState + 1] = "link:mux-not-connected";
    n[kFirstLinkState + 2] = "link:no-data";
    n[kClockStepState] = "clock:step";
    return n;
}

const std::array<std::string, kJournalStates>& Names() {
    static const auto names = MakeNames();
    return names;
}

}  // namespace

const char* SeverityName(Severity s) {
    switch (s) {
    case Severity::Critical:
        return "critical";
    case Severity::Major:
        return "major";
    case Severity::Minor:
        return "minor";
    }
    return "minor";
}

const std::string& JournalObjectName(int state) {
    return Names().at(static_cast<std::size_t>(state));
}

std::optional<int> JournalStateIndex(std::string_view name) {
    const auto& n = Names();
    const auto it = std::find(n.begin(), n.end(), name);
    if (it == n.end())
        return std::nullopt;
    return static_cast<int>(it - n.begin());
}

Severity JournalSeverity(int state) {
    if (state < 3)
        return Severity::Critical;  // local no signal, AIS, LOF
    if (state == 3 || state == 7 || state >= kFirstLinkState)
        return Severity::Minor;  // RAI at either end, link states, clock steps
    if (state < kAlarmStates)
        return Severity::Major;  // remote no signal, AIS, LOF
    return (state - kAlarmStates) % 2 == 0 ? Severity::Major : Severity::Minor;
}

void Journal::Adopt(const std::vector<JournalEntry>& stored, std::int64_t next) {
    for (const JournalEntry& e : stored) {
        entries.push_back(e);
        if (!e.end && e.state < kClockStepState)
            open[static_cast<std::size_t>(e.state)] = e.id;
    }
    nextId = std::max(nextId, next);
    for (int s = kFirstLinkState; s < kClockStepState; ++s) {
        if (open[static_cast<std::size_t>(s)] != 0)
            link = static_cast<LineCondition>(s - kFirstLinkState + 1);
    }
    Trim();
}

// Entries are kept in id order.
template <typename Entries>
auto FindEntry(Entries& entries, std::int64_t id) -> decltype(&*entries.begin()) {
    const auto it = std::lower_bound(entries.begin(), entries.end(), id,
                                     [](const JournalEntry& e, std::int64_t v) { return e.id < v; });
    return (it != entries.end() && it->id == id) ? &*it : nullptr;
}

JournalEntry* Journal::Find(std::int64_t id) {
    return FindEntry(entries, id);
}

void Journal::Touch(std::int64_t id) {
    if (std::find(dirty.begin(), dirty.end(), id) == dirty.end())
        dirty.push_back(id);
}

void Journal::Set(int state, bool on, std::time_t t) {
    std::int64_t& id = open[static_cast<std::size_t>(state)];
    if (on == (id != 0)) {
        // Still there after the monitor was blind: the same entry goes on, known again.
        if (on) {
            JournalEntry* e = Find(id);
            if (e != nullptr && e->unknownSince) {
                e->unknownSince.reset();
                Touch(id);
            }
        }
        return;
    }
    if (on) {
        id = nextId++;
        entries.push_back({id, state, t, std::nullopt, std::nullopt, std::nullopt, false, {}});
        Touch(id);
        return;
    }
    if (JournalEntry* e = Find(id)) {
        // Gone while unseen: the earliest it can have ended is when the monitor went blind.
        if (e->unknownSince) {
            e->end = std::max(*e->unknownSince, e->start);
            e->endedUnseen = true;
        } else {
            e->end = std::max(t, e->start);
        }
        Touch(id);
    }
    id = 0;
}

void Journal::OnFrame(const FrameSecond& f, std::time_t t) {
    for (int i = 0; i < kAlarmStates; ++i)
        Set(i, (f.alarms >> i) & 1u, t);
    for (int k = 0; k < 32; ++k) {
        Set(kAlarmStates + 2 * k, (f.tribNoSig >> k) & 1u, t);
        Set(kAlarmStates + 2 * k + 1, (f.tribCErr >> k) & 1u, t);
    }
    unseenSince.reset();
    Trim();
}

void Journal::OnLink(LineCondition state, std::time_t t) {
    if (state == link)
        return;
    if (link != LineCondition::Up)
        Set(kFirstLinkState + static_cast<int>(link) - 1, false, t);
    if (state != LineCondition::Up) {
        // The monitor is blind from here: what it last saw is unknown, not cleared.
        if (!unseenSince)
            unseenSince = t;
        for (int s = 0; s < kFirstLinkState; ++s) {
            JournalEntry* e = IsOpen(s) ? Find(open[static_cast<std::size_t>(s)]) : nullptr;
            if (e != nullptr && !e->unknownSince) {
                e->unknownSince = std::max(t, e->start);
                Touch(e->id);
            }
        }
        Set(kFirstLinkState + static_cast<int>(state) - 1, true, t);
    }
    link = state;
    Trim();
}

void Journal::EndAll(std::time_t t) {
    for (int s = 0; s < kClockStepState; ++s) {
        JournalEntry* e = IsOpen(s) ? Find(open[static_cast<std::size_t>(s)]) : nullptr;
        if (e != nullptr && IsLineState(s) && !e->unknownSince) {
            // Not seen to clear: it was there when monitoring stopped.
            e->unknownSince = std::max(t, e->start);
        }
        Set(s, false, t);
    }
    link = LineCondition::Up;
    MarkUnseen(t);
}

void Journal::Note(int state, std::time_t t, std::string note) {
    const std::int64_t id = nextId++;
    entries.push_back({id, state, t, t, std::nullopt, std::nullopt, false, std::move(note)});
    Touch(id);
    Trim();
}

bool Journal::Acknowledge(std::int64_t id, std::time_t t) {
    JournalEntry* e = Find(id);
    if (e == nullptr || e->acknowledged)
        return false;
    e->acknowledged = t;
    Touch(id);
    return true;
}

int Journal::AcknowledgeAll(std::time_t t) {
    int n = 0;
    for (JournalEntry& e : entries) {
        if (!e.acknowledged) {
            e.acknowledged = t;
            Touch(e.id);
            ++n;
        }
    }
    return n;
}

void Journal::TakeAcknowledged(std::int64_t id, std::time_t t) {
    if (JournalEntry* e = Find(id))
        e->acknowledged = t;
}

std::vector<JournalEntry> Journal::Entries(std::time_t since, bool unacknowledgedOnly) const {
    std::vector<JournalEntry> out;
    for (const JournalEntry& e : entries) {
        if (unacknowledgedOnly && e.acknowledged)
            continue;
        if (e.start >= since || !e.end || *e.end >= since)
            out.push_back(e);
    }
    return out;
}

std::vector<JournalEntry> Journal::Unwritten() const {
    std::vector<JournalEntry> out;
    for (std::int64_t id : dirty) {
        if (const JournalEntry* e = FindEntry(entries, id))
            out.push_back(*e);
    }
    return out;
}

void Journal::MarkWritten(const std::vector<JournalEntry>& written) {
    // An entry changed again after it was taken stays unwritten.
    std::erase_if(dirty, [&](std::int64_t id) {
        const JournalEntry* now = Find(id);
        return std::any_of(written.begin(), written.end(), [&](const JournalEntry& w) {
            return w.id == id && (now == nullptr || *now == w);
        });
    });
    Trim();
}

void Journal::Trim() {
    // Only closed entries that are safely stored leave memory.
    while (entries.size() > memoryLimit && entries.front().end &&
           std::find(dirty.begin(), dirty.end(), entries.front().id) == dirty.end()) {
        entries.pop_front();
    }
}

}  // namespace kestrel
