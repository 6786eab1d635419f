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
}

void NotificationRule::SetEnabled(bool on) {
    if (on && !enabled) {
        StartFromNow();
    }
    if (!on) {
        waiting.clear();
    }
    enabled = on;
}

void NotificationRule::Check() {
    if (!enabled) {
        return;
    }
    const std::time_t now = source.now();
    // The journal is in id order, read where it stands: the new entries are at its end.
    const std::deque<JournalEntry>& entries = source.memory().JournalInMemory();
    auto fresh = entries.end();
    while (fresh != entries.begin() && std::prev(fresh)->id > lastSeen) {
        --fresh;
    }
    for (auto it = fresh; it != entries.end(); ++it) {
        if (Serious(*it)) {
            waiting.push_back(it->id);
        }
    }
    if (!entries.empty()) {
        lastSeen = std::max(lastSeen, entries.back().id);
    }
    std::vector<JournalEntry> due;
    std::erase_if(waiting, [&](std::int64_t id) {
        const auto it =
            std::lower_bound(entries.begin(), entries.end(), id,
                             [](const JournalEntry& e, std::int64_t v) { return e.id < v; });
        if (it == entries.end() || it->id != id) {
            return true;  // long gone from the memory
        }
        if (it->acknowledged) {
            return true;  // the user saw it before it fell due
        }
        const std::time_t dueAt = it->start + delay;
        if (it->end && *it->end <= dueAt) {
            return true;  // a flap: over before it was due
        }
        if (now < dueAt) {
            return false;
        }
        due.push_back(*it);
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
    QStringList names;
    for (std::size_t i = 0; i < due.size() && i < kListedAlarms; ++i) {
        names << JournalStateText(due[i].state);
    }
    if (due.size() > kListedAlarms) {
        names << QStringLiteral("and %1 more").arg(due.size() - kListedAlarms);
    }
    notifier.Notify(QStringLiteral("%1 new alarms").arg(due.size()),
                    QStringLiteral("%1; the first since %2")
                        .arg(names.join(QStringLiteral(", ")), LocalTimeText(first)),
                    urgency);
}

}  // namespace kestrel
