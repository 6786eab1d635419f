// Per-second classification of the 34 objects into G.821 figures in 15-minute and 24-hour bins.
#pragma once

#include <array>
#include <cstdint>
#include <ctime>
#include <deque>
#include <memory>
#include <optional>

#include "performance/Figures.h"

namespace kestrel {

// One object's part of one closed second. A second with two frames holds the worse of the
// two classifications and both counts.
struct SecondClass {
    bool measured = false;
    bool es = false;
    bool ses = false;
    double count = 0;         // the end's count, as read (line ends only)
    std::int64_t errors = 0;  // the counts, each truncated as the cumulative counters add them
};
using SecondInput = std::array<SecondClass, kObjectCount>;

// Adds one applied frame to the second being gathered.
void AddFrame(SecondInput& second, const FrameSecond& frame);

struct Interval {
    BinSpan span;
    std::array<Figures, kObjectCount> figures{};
    bool complete = false;
    bool dirty = true;  // changed since the store last wrote it
};

// Finalised figures since the classifier started: they only grow.
struct Totals {
    std::int64_t es = 0;
    std::int64_t ses = 0;
    std::int64_t uas = 0;
    std::int64_t dm = 0;
    // The bases of the ratios, so that a reader can judge the counts above over the time the
    // line was seen and available, not over the clock's time.
    std::int64_t available = 0;
    std::int64_t minutes = 0;  // one-minute blocks counted (line ends only)
};

// What carries over a restart: unavailability and the degraded-minute block in progress.
struct ObjectCarry {
    bool unavailable = false;
    int dmSeconds = 0;
    double dmCount = 0;
    bool operator==(const ObjectCarry&) const = default;
};

struct RetentionOptions {
    int quarters = 96;  // completed 15-minute intervals kept
    int days = 31;      // completed days kept
};

class Classifier {
public:
    explicit Classifier(RetentionOptions retention = {}) : retention(retention) {}

    // Opens the bins at second `now`. A resumed bin (read back from the store, figures up to
    // `through`) continues when `now` still lies in it, with the seconds in between not
    // measured; otherwise it is completed and a new bin begins, its seconds before `now`
    // not measured.
    void Start(std::time_t now, std::optional<Interval> quarter = {},
               std::optional<Interval> day = {}, std::time_t through = 0);
    bool Started() const { return started; }
    // The first second not yet closed.
    std::time_t Cursor() const { return cursor; }

    // Closes second Cursor() with the given classification.
    void CloseSecond(const SecondInput& second);
    // Closes the seconds up to (not including) t as not measured.
    void SkipTo(std::time_t t);
    // The wall clock jumped forward to t: the seconds in between were never lived. The bins
    // they span close with what they hold, and counting goes on at t.
    void JumpTo(std::time_t t);
    // Lets every provisional classification stand as final (end of a capture, close).
    void SettleProvisional();

    const Interval& Current(BinKind kind) const { return bins[Index(kind)].current; }
    Interval& Current(BinKind kind) { return bins[Index(kind)].current; }
    std::deque<Interval>& Completed(BinKind kind) { return bins[Index(kind)].completed; }
    const std::deque<Interval>& Completed(BinKind kind) const {
        return bins[Index(kind)].completed;
    }
    // Lets stored (not dirty) completed intervals go from the oldest on until `keep` are left.
    void Forget(BinKind kind, std::size_t keep);
    const Totals& TotalsOf(int object) const { return objects[object].totals; }
    ObjectCarry CarryOf(int object) const;
    void SetCarry(int object, const ObjectCarry& carry);

private:
    struct Pending {
        std::time_t quarter;  // bin starts of the second
        std::time_t day;
        bool es;
        double count;
    };
    struct ObjectState {
        ObjectCarry carry;
        int run = 0;  // provisional seconds: an SES run while available, a good run while not
        // Made at the first run: most objects of a working line never have one, and a host
        // keeps thirty-four objects for each of up to a thousand lines.
        std::unique_ptr<std::array<Pending, 9>> pending;
        Totals totals;
    };
    struct Bins {
        Interval current;
        std::deque<Interval> completed;
    };
    static int Index(BinKind kind) { return kind == BinKind::Quarter ? 0 : 1; }

    void Roll(BinKind kind, std::time_t t);
    void Complete(Bins& b, std::time_t next, BinKind kind);
    Figures* At(BinKind kind, std::time_t start, int object);
    void Classify(int object, const SecondClass& c);
    static void Hold(ObjectState& st, const Pending& second);
    void AddToBlock(int object, double count, std::time_t quarter, std::time_t day);

    RetentionOptions retention;
    std::array<Bins, 2> bins{};
    std::array<ObjectState, kObjectCount> objects{};
    std::time_t cursor = 0;
    bool started = false;
};

}  // namespace kestrel
