// kestrel-replay --performance: a capture's seconds through the line memory, and into a database.
#include "tools/replay/Performance.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <string_view>

#include "performance/FrameQueue.h"
#include "performance/HistoryStore.h"
#include "performance/LineMemory.h"
#include "performance/Report.h"

namespace kestrel {

namespace {

using Clock = std::chrono::steady_clock;

// The reader of a stdio stream.
ByteReader FileReader(std::FILE* in) {
    return [in](char* buffer, std::size_t size) -> long {
        const std::size_t n = std::fread(buffer, 1, size, in);
        return n == 0 && std::ferror(in) ? -1 : static_cast<long>(n);
    };
}

// Refuses a capture that would write seconds into the database where it cannot: over seconds
// it holds (unless told to replace them), or before them. Makes room when told to replace.
// Returns the exit status: 0 to go on.
int PrepareStore(const PerformanceOptions& options, std::time_t end, std::ostream& err) {
    std::string problem;
    HistoryStore store;
    if (!store.Open(options.db, [&problem](const std::string& p) { problem = p; })) {
        err << "kestrel-replay: " << problem << '\n';
        return 1;
    }
    const auto held = store.HeldFrom(options.start);
    if (!held)
        return 0;
    // The line memory goes on from what the database holds last, so it cannot go back to
    // write seconds before those.
    if (held->end > end) {
        err << "kestrel-replay: the database holds the seconds from " << IsoUtc(held->first)
            << " to " << IsoUtc(held->end) << ", beyond the capture's end at " << IsoUtc(end)
            << ": a replay goes on from the last second the database holds, or with --replace "
               "takes the place of its last seconds, and this one ends before them\n";
        return 2;
    }
    if (!options.replace) {
        err << "kestrel-replay: the database already holds the seconds from " << IsoUtc(held->first)
            << " to " << IsoUtc(held->end)
            << " of this capture; --replace removes them and their journal entries first\n";
        return 2;
    }
    std::vector<std::string> notes;
    if (!store.RemoveFrom(options.start, notes)) {
        err << "kestrel-replay: " << problem << '\n';
        return 1;
    }
    err << "kestrel-replay: replaced what the database held from " << IsoUtc(held->first) << " to "
        << IsoUtc(held->end) << '\n';
    for (const std::string& note : notes)
        err << "kestrel-replay: " << note << '\n';
    return 0;
}

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
        if (arg == "--replace") {
            options.replace = true;
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
    if (options.replace && options.db.empty()) {
        error = "--replace goes with --db";
        return false;
    }
    return true;
}

DecodedLine DecodeLine(const ByteReader& read, std::time_t start) {
    DecodedLine line;
    Decoder decoder;
    FrameQueue queue(decoder.state);
    decoder.parser.SetPassListener(&queue);
    long long calls = 0;
    // The queue tells each frame's call by the arrival time it was given; a call's number is
    // its time in seconds from an arbitrary origin.
    auto take = [&] {
        queue.TakeSilences();  // a replay has no supervision to tell of them
        for (const StampedFrame& f : queue.Take()) {
            const auto n =
                std::chrono::duration_cast<std::chrono::seconds>(f.arrived - Clock::time_point{});
            line.frames.push_back({start + static_cast<std::time_t>(n.count()), f.frame});
        }
    };
    auto call = [&](std::string_view text) {
        queue.Arrived(text.size(), Clock::time_point{} + std::chrono::seconds(calls));
        decoder.parser.Parse(text);
        ++calls;
        take();
    };
    CaptureReader capture(read);
    if (!capture.Start()) {
        line.error = capture.Error();
        return line;
    }
    if (capture.Timed()) {
        for (std::string second; capture.NextSecond(second);)
            call(second);
    } else {
        std::string block(kReplayBlock - kReplayBlock % kFrameLength, '\0');
        std::size_t held = 0;
        for (long n; (n = capture.ReadPlain(block.data() + held, block.size() - held)) != 0;) {
            if (n < 0) {
                line.error = std::string("cannot read: ") + std::strerror(errno);
                return line;
            }
            held += static_cast<std::size_t>(n);
            std::size_t pos = 0;
            for (; held - pos >= kFrameLength; pos += kFrameLength)
                call(std::string_view(block.data() + pos, kFrameLength));
            std::copy(block.begin() + static_cast<std::ptrdiff_t>(pos),
                      block.begin() + static_cast<std::ptrdiff_t>(held), block.begin());
            held -= pos;
        }
        if (held > 0)
            call(std::string_view(block.data(), held));  // the last second, cut short
    }
    line.error = capture.Error();
    line.end = start + calls;
    // What a resynchronisation left over is decoded as the next second's call would; these
    // calls bring nothing, so they are no seconds, and their frames keep the seconds their
    // characters came in.
    for (std::size_t before = decoder.parser.Buffered(); before >= kFrameLength;) {
        decoder.parser.Parse({});
        take();
        const std::size_t after = decoder.parser.Buffered();
        if (after >= before)
            break;
        before = after;
    }
    return line;
}

int ReplayPerformance(std::FILE* in, const ReplayOptions& replay, const PerformanceOptions& options,
                      std::ostream& out, std::ostream& err, std::time_t now) {
    if (replay.chunkGiven && replay.chunk != kFrameLength) {
        err << "kestrel-replay: --performance reads a plain capture as the line brought it, 45 "
               "characters a second; --chunk "
            << replay.chunk << " would make other seconds of it\n";
        return 2;
    }
    const DecodedLine line = DecodeLine(FileReader(in), options.start);
    if (!line.error.empty()) {
        const bool standardInput = replay.file.empty() || replay.file == "-";
        err << "kestrel-replay: " << (standardInput ? "standard input" : "'" + replay.file + "'")
            << ": " << line.error << '\n';
        return 2;
    }
    if (now == 0)
        now = std::time(nullptr);
    if (line.end > now) {
        err << "kestrel-replay: the capture's end, " << IsoUtc(line.end) << ", is later than now, "
            << IsoUtc(now) << ": a replay cannot hold seconds still to come; check --start\n";
        return 2;
    }
    if (!options.db.empty()) {
        if (const int status = PrepareStore(options, line.end, err); status != 0)
            return status;
    }

    LineMemoryOptions lineOptions;
    lineOptions.flushSeconds = 0;  // a capture needs no crash protection, only its result
    lineOptions.retention = {INT_MAX, INT_MAX};
    lineOptions.intervalMemory = {INT_MAX, INT_MAX};  // every interval is printed at the end
    lineOptions.journalDays = 0;
    lineOptions.journalMemory = SIZE_MAX;
    LineMemory memory(lineOptions);
    if (!options.db.empty()) {
        // Another monitor may have taken the database since it was looked at; then nothing
        // is stored, and the status says so.
        memory.Open(options.db, options.start, [&err](const std::string& problem) {
            err << "kestrel-replay: " << problem << '\n';
        });
    } else {
        memory.Start(options.start);
    }
    for (const DecodedLine::Frame& f : line.frames)
        memory.OnFrameApplied(f.frame, f.second);
    const std::time_t end = line.end;
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
    return out && (options.db.empty() || memory.Storing()) ? 0 : 1;
}

}  // namespace kestrel
