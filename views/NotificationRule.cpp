// The notification rule: which journal entries reach the desktop, when, and in what words.
#include "views/NotificationRule.h"

#include <QStringList>
#include <algorithm>
#include <deque>
#include <iterator>

#include "views/LineTexts.h"

namespace kestrel {

namespace {

bool Serious(const JournalEntry& e) {
    return e.GetSeverity() != Severity::Minor;
}

// The link states: the monitor cannot see the line while one holds.
bool IsLinkState(int state) {
    return !IsLineState(state) && state != kClockStepState;
}

const JournalEntry* FindEntry(const std::deque<JournalEntry>& entries, std::int64_t id) {
    const auto it =
        std::lower_bound(entries.begin(), entries.end(), id,
                         [](const JournalEntry& e, std::int64_t v) { return e.id < v; });
    return it != entries.end() && it->id == id ? &*it : nullptr;
}

// "Local 34M LOF, Remote 34M AIS", at most kListedAlarms named, the rest counted.
QString Listed(const std::vector<int>& states) {
    QStringList names;
    for (std::size_t i = 0; i < states.size() && i < NotificationRule::kListedAlarms; ++i) {
        names << JournalStateText(states[i]);
    }
    if (states.size() > NotificationRule::kListedAlarms) {
        names << QStringLiteral("and %1 more").arg(states.size() - NotificationRule::kListedAlarms);
    }
    return names.join(QStringLiteral(", "));
}

// "no data", "MUX not connected", "port closed": the link state's words without "Link: ".
QString LinkWords(int state) {
    return JournalStateText(state).section(QStringLiteral(": "), 1);
}

}  // namespace

int NotificationRule::ClampDelay(int seconds) {
    return std::clamp(seconds, kMinDelaySeconds, kMaxDelaySeconds);
}

NotificationRule::NotificationRule(LineSource source, Notifier& notifier, int delaySeconds,
                                   bool enabled)
    : source(std::move(source)),
      notifier(notifier),
      delay(ClampDelay(delaySeconds)),
      enabled(enabled) {
    StartFromNow();
}

void NotificationRule::StartFromNow() {
    const std::deque<JournalEntry>& known = source.memory().JournalInMemory();
    if (!known.empty()) {
        lastSeen = std::max(lastSeen, known.back().id);
    }
    waiting.clear();
    loss.reset();
}

void NotificationRule::SetEnabled(bool on) {
    if (on && !enabled) {
        StartFromNow();
    }
    if (!on) {
        waiting.clear();
        loss.reset();
    }
    enabled = on;
}

void NotificationRule::Check() {
    if (!enabled) {
        return;
    }
    const LineMemory& memory = source.memory();
    // The journal is in id order, read where it stands: the new entries are at its end.
    const std::deque<JournalEntry>& entries = memory.JournalInMemory();
    auto fresh = entries.end();
    while (fresh != entries.begin() && std::prev(fresh)->id > lastSeen) {
        --fresh;
    }
    for (auto it = fresh; it != entries.end(); ++it) {
        if (IsLineState(it->state) && Serious(*it)) {
            waiting.push_back(it->id);
        } else if (IsLinkState(it->state)) {
            NoteLinkEntry(*it);
        }
    }
    if (!entries.empty()) {
        lastSeen = std::max(lastSeen, entries.back().id);
    }
    // Not the clock: the seconds the memory closed are those whose frames have all come.
    const std::time_t closed = memory.Cursor();
    CheckAlarms(closed);
    CheckLoss(closed);
}

void NotificationRule::NoteLinkEntry(const JournalEntry& link) {
    const LineMemory& memory = source.memory();
    const std::optional<std::time_t> unseen = memory.UnseenSince();
    if (!unseen) {
        return;  // seen again already
    }
    if (loss && loss->since == *unseen) {
        loss->linkId = link.id;  // the same loss, for another reason now (no data, then closed)
        return;
    }
    // The serious alarms the monitor lost sight of: on when last seen, open, unknown now.
    Loss lost{*unseen, link.id, {}, false, false};
    for (const JournalEntry& e : memory.JournalInMemory()) {
        if (IsLineState(e.state) && Serious(e) && !e.end && e.unknownSince) {
            lost.alarms.push_back(e.state);
            lost.critical = lost.critical || e.GetSeverity() == Severity::Critical;
        }
    }
    if (lost.alarms.empty()) {
        loss.reset();  // nothing serious was on: losing the line is no news of the line
        return;
    }
    std::stable_sort(lost.alarms.begin(), lost.alarms.end(),
                     [](int a, int b) { return JournalSeverity(a) < JournalSeverity(b); });
    loss = std::move(lost);
}

void NotificationRule::CheckAlarms(std::time_t closed) {
    const std::deque<JournalEntry>& entries = source.memory().JournalInMemory();
    std::vector<JournalEntry> due;
    std::erase_if(waiting, [&](std::int64_t id) {
        const JournalEntry* e = FindEntry(entries, id);
        if (e == nullptr) {
            return true;  // long gone from the memory
        }
        if (e->acknowledged) {
            return true;  // the user saw it before it fell due
        }
        const std::time_t dueAt = e->start + delay;
        if (closed <= dueAt) {
            return false;  // a frame of its seconds may still come
        }
        // A flap is over by then; an alarm the monitor lost sight of by then was not seen to
        // last, and the loss is told for itself.
        const bool over = e->end && *e->end <= dueAt;
        const bool unseen = e->unknownSince && *e->unknownSince <= dueAt;
        if (!over && !unseen) {
            due.push_back(*e);
        }
        return true;
    });
    if (due.empty()) {
        return;
    }
    // The worst first; among equals, the first to start.
    std::stable_sort(due.begin(), due.end(), [](const JournalEntry& a, const JournalEntry& b) {
        return a.GetSeverity() < b.GetSeverity();
    });
    const Notifier::Urgency urgency = due.front().GetSeverity() == Severity::Critical
                                          ? Notifier::Urgency::Critical
                                          : Notifier::Urgency::Normal;
    const std::time_t first =
        std::min_element(due.begin(), due.end(), [](const JournalEntry& a, const JournalEntry& b) {
            return a.start < b.start;
        })->start;
    if (due.size() == 1) {
        notifier.Notify(JournalStateText(due.front().state),
                        QStringLiteral("%1 alarm since %2")
                            .arg(SeverityText(due.front().GetSeverity()), LocalTimeText(first)),
                        urgency);
        return;
    }
    std::vector<int> states;
    for (const JournalEntry& e : due) {
        states.push_back(e.state);
    }
    notifier.Notify(
        QStringLiteral("%1 new alarms").arg(due.size()),
        QStringLiteral("%1; the first since %2").arg(Listed(states), LocalTimeText(first)),
        urgency);
}

void NotificationRule::CheckLoss(std::time_t closed) {
    if (!loss || loss->told) {
        return;
    }
    const std::time_t dueAt = loss->since + delay;
    if (closed <= dueAt) {
        return;
    }
    const JournalEntry* link = FindEntry(source.memory().JournalInMemory(), loss->linkId);
    // Still unseen, or seen again only after the delay ran out; else a blip.
    const bool lasted = source.memory().UnseenSince() == loss->since ||
                        (link != nullptr && link->end && *link->end > dueAt);
    if (!lasted || link == nullptr) {
        loss.reset();
        return;
    }
    const bool one = loss->alarms.size() == 1;
    notifier.Notify(
        QStringLiteral("Line unseen: %1").arg(LinkWords(link->state)),
        QStringLiteral("%1 %2 on and %3 unknown since %4")
            .arg(Listed(loss->alarms), one ? QStringLiteral("was") : QStringLiteral("were"),
                 one ? QStringLiteral("is") : QStringLiteral("are"), LocalTimeText(loss->since)),
        loss->critical ? Notifier::Urgency::Critical : Notifier::Urgency::Normal);
    loss->told = true;
}

}  // namespace kestrel
