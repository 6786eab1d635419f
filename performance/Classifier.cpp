// G.821 classification: defects, ES, SES, unavailability with its 10-second rule, degraded
// minutes, not-measured seconds, and the bins they are counted in.
#include "performance/Classifier.h"

#include <algorithm>

namespace kestrel {

namespace {

// Seconds that make unavailability begin or end.
constexpr int kRunLength = 10;
// Available non-SES seconds per degraded-minute block.
constexpr int kBlockSeconds = 60;

void AddEnd(SecondClass& c, bool defect, double count) {
    c.measured = true;
    c.es = c.es || defect || count > 0;
    c.ses = c.ses || defect || SevereCount(count);
    c.count += count;
    c.errors += static_cast<std::int64_t>(count);
}

void AddTrib(SecondClass& c, bool noSig, bool cErr) {
    c.measured = true;
    c.es = c.es || noSig || cErr;
    c.ses = c.ses || noSig;
}

}  // namespace

void AddFrame(SecondInput& s, const FrameSecond& f) {
    AddEnd(s[kNearObject], f.nearDefect, f.nearCount);
    AddEnd(s[kFarObject], f.farDefect, f.farCount);
    const int tribs = f.remoteTribsDecoded ? 32 : 16;
    for (int i = 0; i < tribs; ++i) {
        AddTrib(s[kFirstLocalTribObject + i], (f.tribNoSig >> i) & 1u, (f.tribCErr >> i) & 1u);
    }
}

ObjectCarry Classifier::CarryOf(int object) const {
    return objects[object].carry;
}

void Classifier::SetCarry(int object, const ObjectCarry& carry) {
    objects[object].carry = carry;
}

void Classifier::Start(std::time_t now, std::optional<Interval> quarter,
                       std::optional<Interval> day, std::time_t through) {
    now = std::max(now, through);
    const std::array<std::optional<Interval>*, 2> loaded{&quarter, &day};
    for (BinKind kind : {BinKind::Quarter, BinKind::Day}) {
        Bins& b = bins[Index(kind)];
        std::optional<Interval>& resumed = *loaded[Index(kind)];
        std::time_t from = 0;
        if (resumed && now < resumed->span.End()) {
            b.current = *resumed;
            from = std::max(through, b.current.span.start);
        } else {
            if (resumed) {
                const std::time_t gap = std::max<std::time_t>(
                    0, resumed->span.End() - std::max(through, resumed->span.start));
                for (Figures& f : resumed->figures)
                    f.notMeasured += gap;
                resumed->complete = true;
                resumed->dirty = true;
                b.completed.push_back(*resumed);
            }
            b.current = Interval{BinOf(kind, now)};
            from = b.current.span.start;
        }
        b.current.complete = false;
        b.current.dirty = true;
        for (Figures& f : b.current.figures)
            f.notMeasured += now - from;
    }
    cursor = now;
    started = true;
}

void Classifier::Complete(Bins& b, std::time_t next, BinKind kind) {
    b.current.complete = true;
    b.current.dirty = true;
    b.completed.push_back(b.current);
    b.current = Interval{BinOf(kind, next)};
    const std::size_t keep =
        static_cast<std::size_t>(kind == BinKind::Quarter ? retention.quarters : retention.days);
    while (b.completed.size() > keep)
        b.completed.pop_front();
}

void Classifier::Forget(BinKind kind, std::size_t keep) {
    auto& completed = bins[Index(kind)].completed;
    while (completed.size() > keep && !completed.front().dirty)
        completed.pop_front();
}

void Classifier::Roll(BinKind kind, std::time_t t) {
    Bins& b = bins[Index(kind)];
    while (t >= b.current.span.End())
        Complete(b, b.current.span.End(), kind);
}

void Classifier::JumpTo(std::time_t t) {
    if (t <= cursor)
        return;
    for (BinKind kind : {BinKind::Quarter, BinKind::Day}) {
        Bins& b = bins[Index(kind)];
        if (t >= b.current.span.End())
            Complete(b, t, kind);
    }
    cursor = t;
}

Figures* Classifier::At(BinKind kind, std::time_t start, int object) {
    Bins& b = bins[Index(kind)];
    if (b.current.span.start == start)
        return &b.current.figures[object];
    for (auto it = b.completed.rbegin(); it != b.completed.rend(); ++it) {
        if (it->span.start == start) {
            it->dirty = true;
            return &it->figures[object];
        }
    }
    return nullptr;  // retention already let it go
}

void Classifier::SkipTo(std::time_t t) {
    while (cursor < t) {
        Roll(BinKind::Quarter, cursor);
        Roll(BinKind::Day, cursor);
        Interval& q = Current(BinKind::Quarter);
        Interval& d = Current(BinKind::Day);
        const std::time_t n = std::min({t, q.span.End(), d.span.End()}) - cursor;
        for (int o = 0; o < kObjectCount; ++o) {
            q.figures[o].notMeasured += n;
            d.figures[o].notMeasured += n;
        }
        q.dirty = d.dirty = true;
        cursor += n;
    }
}

void Classifier::CloseSecond(const SecondInput& second) {
    Roll(BinKind::Quarter, cursor);
    Roll(BinKind::Day, cursor);
    for (int o = 0; o < kObjectCount; ++o)
        Classify(o, second[o]);
    Current(BinKind::Quarter).dirty = Current(BinKind::Day).dirty = true;
    ++cursor;
}

void Classifier::Hold(ObjectState& st, const Pending& second) {
    if (!st.pending)
        st.pending = std::make_unique<std::array<Pending, 9>>();
    (*st.pending)[static_cast<std::size_t>(st.run++)] = second;
}

void Classifier::Classify(int o, const SecondClass& c) {
    Interval& qi = Current(BinKind::Quarter);
    Interval& di = Current(BinKind::Day);
    Figures& q = qi.figures[o];
    Figures& d = di.figures[o];
    if (!c.measured) {
        ++q.notMeasured;
        ++d.notMeasured;
        return;
    }
    q.errors += c.errors;
    d.errors += c.errors;
    ObjectState& st = objects[o];
    const Pending here{qi.span.start, di.span.start, c.es, c.count};
    if (!st.carry.unavailable) {
        if (c.ses) {
            // Provisionally an available SES; ten in a row turn out to be unavailable time.
            for (Figures* f : {&q, &d}) {
                ++f->available;
                ++f->es;
                ++f->ses;
            }
            if (st.run == kRunLength - 1) {
                for (int i = 0; i <= st.run; ++i) {
                    const Pending& p = i < st.run ? (*st.pending)[i] : here;
                    for (Figures* f : {At(BinKind::Quarter, p.quarter, o),
                                       At(BinKind::Day, p.day, o)}) {
                        if (f == nullptr)
                            continue;
                        --f->available;
                        --f->es;
                        --f->ses;
                        ++f->unavailable;
                    }
                }
                st.carry.unavailable = true;
                st.totals.uas += kRunLength;
                st.run = 0;
            } else {
                Hold(st, here);
            }
            return;
        }
        // The SES run before this second, if any, stays available.
        st.totals.es += st.run;
        st.totals.ses += st.run;
        st.totals.available += st.run + 1;
        st.run = 0;
        for (Figures* f : {&q, &d}) {
            ++f->available;
            f->es += c.es;
        }
        st.totals.es += c.es;
        if (IsLineEnd(o))
            AddToBlock(o, c.count, here.quarter, here.day);
        return;
    }
    // Unavailable: every second counts as unavailable until ten good ones in a row prove
    // that availability came back with the first of them.
    ++q.unavailable;
    ++d.unavailable;
    if (c.ses) {
        st.totals.uas += st.run + 1;
        st.run = 0;
        return;
    }
    if (st.run < kRunLength - 1) {
        Hold(st, here);
        return;
    }
    for (int i = 0; i <= st.run; ++i) {
        const Pending& p = i < st.run ? (*st.pending)[i] : here;
        for (Figures* f : {At(BinKind::Quarter, p.quarter, o), At(BinKind::Day, p.day, o)}) {
            if (f == nullptr)
                continue;
            --f->unavailable;
            ++f->available;
            f->es += p.es;
        }
        st.totals.es += p.es;
        ++st.totals.available;
        if (IsLineEnd(o))
            AddToBlock(o, p.count, p.quarter, p.day);
    }
    st.carry.unavailable = false;
    st.run = 0;
}

void Classifier::AddToBlock(int o, double count, std::time_t quarter, std::time_t day) {
    ObjectState& st = objects[o];
    ++st.carry.dmSeconds;
    st.carry.dmCount += count;
    if (st.carry.dmSeconds < kBlockSeconds)
        return;
    // The minute belongs to the interval of its 60th second.
    const bool degraded = DegradedBlock(st.carry.dmCount);
    for (Figures* f : {At(BinKind::Quarter, quarter, o), At(BinKind::Day, day, o)}) {
        if (f == nullptr)
            continue;
        ++f->minutes;
        f->dm += degraded;
    }
    st.totals.dm += degraded;
    ++st.totals.minutes;
    st.carry.dmSeconds = 0;
    st.carry.dmCount = 0;
}

void Classifier::SettleProvisional() {
    for (ObjectState& st : objects) {
        if (st.carry.unavailable) {
            st.totals.uas += st.run;
        } else {
            st.totals.es += st.run;
            st.totals.ses += st.run;
            st.totals.available += st.run;
        }
        st.run = 0;
    }
}

}  // namespace kestrel
