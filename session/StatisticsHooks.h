// What the supervision timers and the close handler need from the statistics recorder.
#pragma once

#include "stats/StatisticsLog.h"

namespace kestrel {

// The rows the timers write into the two log files. An implementation checks nothing about
// the link itself: the callers decide when a row is due.
class StatisticsHooks {
public:
    virtual ~StatisticsHooks() = default;
    virtual bool IsEventLogOpen() const = 0;
    virtual bool IsG821LogOpen() const = 0;
    // EventLog row of the eight alarm flags as they are now.
    virtual void WriteAlarmRow() = 0;
    // G821Log row of the four cumulative counts as they are now.
    virtual void WriteCountsRow() = 0;
    // Connection change: one time stamp; the EventLog's mark row if it is open, then the
    // G821Log's connection-change mark row if that one is open.
    virtual void WriteMarkRows(bool connected) = 0;
};

// The real recorder: the two statistics files of the main window.
class StatisticsLogHooks : public StatisticsHooks {
public:
    explicit StatisticsLogHooks(StatisticsLog& log) : log(log) {}
    bool IsEventLogOpen() const override { return log.IsEventLogOpen(); }
    bool IsG821LogOpen() const override { return log.IsG821LogOpen(); }
    void WriteAlarmRow() override { log.WriteAlarmRow(); }
    void WriteCountsRow() override { log.WriteCountsRow(); }
    void WriteMarkRows(bool connected) override { log.WriteMarkRows(connected); }

private:
    StatisticsLog& log;
};

}  // namespace kestrel
