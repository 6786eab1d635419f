// kestrel-replay: decode a captured serial byte stream, one JSON line per parser call.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "tools/replay/Performance.h"
#include "tools/replay/Replay.h"

namespace {
constexpr const char* kUsage =
    "usage: kestrel-replay [--chunk N] [--interval S] [--] [FILE]\n"
    "       kestrel-replay --performance --start TIME [--db DB [--replace]] [--] [FILE]\n"
    "Decodes the capture FILE (standard input when absent or '-') and prints the monitor\n"
    "state as one line of JSON after each call of the frame parser. A timed capture (as\n"
    "kestrel-mux-sim --capture writes it) is decoded one second per call; plain bytes in calls\n"
    "of N bytes (1..4096, default 320). S is the BER interval in seconds (1, 3, 10 or 30;\n"
    "default 10).\n"
    "With --performance it prints instead the completed 15-minute intervals and the alarm\n"
    "journal. The capture's first second is TIME (ISO 8601 with a zone, from 1970 to 2200);\n"
    "a timed capture keeps its seconds, plain bytes are read as the line brings them, 45 a\n"
    "second. Each frame counts in the second its last character came in. The capture must\n"
    "end by now. --db DB also stores the figures and the journal in DB, after what it holds;\n"
    "seconds DB already holds are refused unless --replace removes them first.\n"
    "Exit status: 0 on success, 1 when the output or DB cannot be written, 2 on a bad option\n"
    "or an input that cannot be read or used.\n";
}

int main(int argc, char** argv) {
    kestrel::ReplayOptions options;
    std::string error;
    kestrel::PerformanceOptions performance;
    if (!kestrel::TakePerformanceArgs(argc, argv, performance, error) ||
        !kestrel::ParseReplayArgs(argc, argv, options, error)) {
        std::cerr << "kestrel-replay: " << error << " (see --help)\n";
        return 2;
    }
    if (options.help) {
        std::cout << kUsage;
        return 0;
    }
    if (options.version) {
        std::cout << "kestrel-replay 1.0\n";
        return 0;
    }
    const bool fromStdin = options.file.empty() || options.file == "-";
    const std::string name = fromStdin ? std::string("standard input") : "'" + options.file + "'";
    const int fd = fromStdin ? STDIN_FILENO : ::open(options.file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        std::cerr << "kestrel-replay: cannot open " << name << ": " << std::strerror(errno) << '\n';
        return 2;
    }
    if (performance.enabled) {
        std::FILE* in = ::fdopen(fd, "rb");
        if (in == nullptr) {
            std::cerr << "kestrel-replay: cannot read " << name << ": " << std::strerror(errno)
                      << '\n';
            return 2;
        }
        return kestrel::ReplayPerformance(in, options, performance, std::cout, std::cerr);
    }
    std::ios::sync_with_stdio(false);
    // Plain reads rather than a stdio stream: a read returns what a pipe holds now, so each
    // call is decoded and printed as soon as its bytes are in.
    const kestrel::ReplayResult result = kestrel::Replay(
        [fd](char* buffer, std::size_t size) {
            ssize_t n = 0;
            do {
                n = ::read(fd, buffer, size);
            } while (n < 0 && errno == EINTR);
            return static_cast<long>(n);
        },
        options, std::cout);
    if (!result.error.empty()) {
        std::cout.flush();
        std::cerr << "kestrel-replay: " << name << ": " << result.error << '\n';
        return 2;
    }
    if (result.readError != 0) {
        std::cout.flush();
        std::cerr << "kestrel-replay: cannot read " << name << ": "
                  << std::strerror(result.readError) << '\n';
        return 2;
    }
    if (!fromStdin) {
        ::close(fd);
    }
    std::cout.flush();
    if (result.dropped > 0) {
        std::cerr << "kestrel-replay: warning: " << result.dropped
                  << " characters of noise were discarded undecoded; a smaller --chunk keeps "
                     "them\n";
    }
    return std::cout ? 0 : 1;
}
