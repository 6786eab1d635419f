// When the desktop is told about the line: new serious alarms that last, summarised, and the
// line lost while they were on.
#pragma once

#include <QString>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <optional>
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
// open and are still on `delay` seconds after they started, so that a flapping line does not
// flood the desktop. An entry is judged once the memory has closed the seconds up to its start
// + delay: the frames of those seconds have all been seen by then, however late each reached
// the memory. Entries that fall due together make one notification; each is told at most once,
// and not at all when acknowledged before it fell due, or when the monitor could not see the
// line by then.
// When the monitor loses sight of the line while serious alarms are on (no data, MUX not
// connected, port closed) and it stays lost for the delay, that is told once, as such: the
// alarms are unknown, not over. Nothing is ever told of an alarm's end.
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

    // Looks at the entries started since the last check and those still waiting, as far as
    // the memory has closed its seconds, and tells those due.
    void Check();

private:
    // The line lost while serious alarms were on, told or waiting for the delay.
    struct Loss {
        std::time_t since = 0;    // the line unseen from here
        std::int64_t linkId = 0;  // the newest link entry of the loss: what the link is now
        std::vector<int> alarms;  // the serious states on when it was lost, worst first
        bool critical = false;    // one of them critical
        bool told = false;
    };

    void StartFromNow();
    void NoteLinkEntry(const JournalEntry& link);
    void CheckAlarms(std::time_t closed);
    void CheckLoss(std::time_t closed);

    LineSource source;
    Notifier& notifier;
    int delay;
    bool enabled;
    std::int64_t lastSeen = 0;          // entries up to this id are known
    std::vector<std::int64_t> waiting;  // new serious entries not yet due, in id order
    std::optional<Loss> loss;
};

}  // namespace kestrel
