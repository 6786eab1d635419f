// kestrel-replay: decode a captured serial byte stream, one JSON line per parser call.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "tools/replay/Performance.h"
#include "tools/replay/Replay.h"

namespace {
constexpr const char* kUsage =
    "usage: kestrel-replay [--chunk N] [--interval S] [--] [FILE]\n"
    "Decodes the raw bytes of FILE (standard input when absent or '-') in calls of N bytes\n"
    "(1..4096, default 320) with a BER interval of S seconds (1, 3, 10 or 30; default 10)\n"
    "and prints the monitor state as one line of JSON after each call.\n"
    "With --performance --start TIME [--db FILE] it prints instead the completed 15-minute\n"
    "intervals and the alarm journal, pass n of the parser being the second TIME + n - 1.\n";
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
    std::FILE* in = fromStdin ? stdin : std::fopen(options.file.c_str(), "rb");
    if (in == nullptr) {
        std::cerr << "kestrel-replay: cannot open " << name << ": " << std::strerror(errno) << '\n';
        return 2;
    }
    if (performance.enabled)
        return kestrel::ReplayPerformance(in, options, performance, std::cout, std::cerr);
    std::string input;
    char buffer[65536];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, in)) > 0) {
        input.append(buffer, n);
    }
    if (std::ferror(in)) {
        std::cerr << "kestrel-replay: cannot read " << name << ": " << std::strerror(errno) << '\n';
        return 2;
    }
    if (!fromStdin) {
        std::fclose(in);
    }
    std::ios::sync_with_stdio(false);
    const kestrel::ReplayResult result = kestrel::Replay(input, options, std::cout);
    std::cout.flush();
    if (result.dropped > 0) {
        std::cerr << "kestrel-replay: warning: " << result.dropped
                  << " characters of noise were discarded undecoded; a smaller --chunk keeps "
                     "them\n";
    }
    return std::cout ? 0 : 1;
}
