// When the desktop is told about the line: new serious alarms that last, summarised.
#pragma once

#include <QString>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <vector>

#include "views/LineSource.h"

namespace kestrel {

// Where notifications go: the desktop, or a test's record.
class Notifier {
public:
    // The freedesktop urgency levels.
    enum class Urgency { Low = 0, Normal = 1, Critical = 2 };
    virtual ~Notifier() = default;
    virtual void Notify(const QString& summary, const QString& body, Urgency urgency) = 0;
};

// Tells the notifier about critical and major journal entries that start while the window is
// open and still hold `delay` seconds later, so that a flapping line does not flood the
// desktop. Entries that fall due together make one notification; each is told at most once,
// and not at all when acknowledged before it fell due.
// Runs on the user-interface thread, after each refresh.
class NotificationRule {
public:
    static constexpr int kDefaultDelaySeconds = 5;
    // Longer than this and the news is stale; 0 would tell every flap.
    static constexpr int kMinDelaySeconds = 1;
    static constexpr int kMaxDelaySeconds = 600;
    // Names listed in one notification; the rest are counted.
    static constexpr std::size_t kListedAlarms = 4;

    static int ClampDelay(int seconds);

    // What the memory holds now is not news.
    NotificationRule(LineSource source, Notifier& notifier, int delaySeconds = kDefaultDelaySeconds,
                     bool enabled = true);

    // Off forgets what was waiting; on again starts from what the memory holds then.
    void SetEnabled(bool on);
    bool Enabled() const { return enabled; }
    int DelaySeconds() const { return delay; }

    // Looks at the entries started since the last check and those still waiting, at the
    // source's clock, and tells those due.
    void Check();

private:
    void StartFromNow();

    LineSource source;
    Notifier& notifier;
    int delay;
    bool enabled;
    std::int64_t lastSeen = 0;          // entries up to this id are known
    std::vector<std::int64_t> waiting;  // new serious entries not yet due, in id order
};

}  // namespace kestrel
