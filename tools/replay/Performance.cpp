// kestrel-replay --performance: the capture's passes as seconds of the line memory.
#include "tools/replay/Performance.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <string_view>

#include "performance/FrameQueue.h"
#include "performance/LineMemory.h"
#include "performance/Report.h"

namespace kestrel {

namespace {

// Every pass is one second of the line, in the order the parser made them.
class PassClock : public PassListener {
public:
    PassClock(const MonitorState& state, LineMemory& memory, std::time_t start)
        : state(state), memory(memory), start(start) {}
    void OnPass(const PassReport& report) override {
        ++passes;
        if (report.applied)
            memory.OnFrameApplied(FrameSecondFrom(report, state), start + passes - 1);
    }
    std::time_t End() const { return start + passes; }

private:
    const MonitorState& state;
    LineMemory& memory;
    std::time_t start;
    long long passes = 0;
};

}  // namespace

bool TakePerformanceArgs(int& argc, char** argv, PerformanceOptions& options, std::string& error) {
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--") {
            while (i < argc)
                argv[kept++] = argv[i++];
            break;
        }
        if (arg == "--performance") {
            options.enabled = true;
            continue;
        }
        const bool isStart = arg == "--start" || arg.starts_with("--start=");
        const bool isDb = arg == "--db" || arg.starts_with("--db=");
        if (!isStart && !isDb) {
            argv[kept++] = argv[i];
            continue;
        }
        std::string_view value;
        if (const auto eq = arg.find('='); eq != std::string_view::npos) {
            value = arg.substr(eq + 1);
        } else if (i + 1 < argc) {
            value = argv[++i];
        } else {
            error = "option " + std::string(arg) + " needs a value";
            return false;
        }
        if (isDb) {
            options.db = std::string(value);
            continue;
        }
        const auto t = ParseIsoTime(value);
        if (!t) {
            error =
                "--start must be a date and time that exist, from 1970 to 2200, in ISO 8601 "
                "with a zone, such as 2026-03-29T00:50:00Z, not '" +
                std::string(value) + "'";
            return false;
        }
        options.start = *t;
        options.haveStart = true;
    }
    argc = kept;
    argv[argc] = nullptr;
    if (!options.enabled && (options.haveStart || !options.db.empty())) {
        error = "--start and --db go with --performance";
        return false;
    }
    if (options.enabled && !options.haveStart) {
        error = "--performance needs --start TIME";
        return false;
    }
    return true;
}

int ReplayPerformance(std::FILE* in, const ReplayOptions& replay,
                      const PerformanceOptions& options, std::ostream& out, std::ostream& err) {
    LineMemoryOptions lineOptions;
    lineOptions.flushSeconds = 0;  // a capture needs no crash protection, only its result
    lineOptions.retention = {INT_MAX, INT_MAX};
    lineOptions.journalDays = 0;
    lineOptions.journalMemory = SIZE_MAX;
    LineMemory memory(lineOptions);
    if (!options.db.empty()) {
        memory.Open(options.db, options.start, [&err](const std::string& problem) {
            err << "kestrel-replay: " << problem << '\n';
        });
    } else {
        memory.Start(options.start);
    }
    Decoder decoder;
    PassClock clock(decoder.state, memory, options.start);
    decoder.parser.SetPassListener(&clock);

    // Blocks hold whole calls, so the passes are those of a plain replay with this chunk.
    std::string block(replay.chunk * std::max<std::size_t>(1, 65536 / replay.chunk), '\0');
    std::size_t n = 0;
    while ((n = std::fread(block.data(), 1, block.size(), in)) > 0) {
        for (std::size_t pos = 0; pos < n; pos += replay.chunk)
            decoder.parser.Parse(std::string_view(block.data() + pos, std::min(replay.chunk, n - pos)));
    }
    if (std::ferror(in)) {
        err << "kestrel-replay: cannot read the input: " << std::strerror(errno) << '\n';
        return 2;
    }
    // What a resynchronisation left over is decoded as the next burst would.
    for (std::size_t before = decoder.parser.Buffered(); before >= kFrameLength;) {
        decoder.parser.Parse({});
        const std::size_t after = decoder.parser.Buffered();
        if (after >= before)
            break;
        before = after;
    }
    const std::time_t end = clock.End();
    memory.Finish(end);

    std::string text;
    auto print = [&](const Interval& interval) {
        if (interval.span.End() <= options.start || interval.span.End() > end)
            return;
        for (int o = 0; o < kObjectCount; ++o)
            text += IntervalJson(o, interval.span.start, interval.figures[o]) + '\n';
    };
    for (const Interval& interval : memory.Completed(BinKind::Quarter))
        print(interval);
    print(memory.Current(BinKind::Quarter));
    for (const JournalEntry& e : memory.JournalEntries())
        text += JournalJson(e, false) + '\n';
    out << text;
    out.flush();
    return out ? 0 : 1;
}

}  // namespace kestrel
