// Process figures from /proc/self: CPU, memory, descriptors, start time.
#include "metrics/ProcessFamilies.h"

#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <prometheus/metric_family.h>
#include <sstream>
#include <string>

namespace kestrel {

namespace {

void Add(std::vector<prometheus::MetricFamily>& out, const char* name, const char* help,
         prometheus::MetricType type, double value) {
    prometheus::MetricFamily& f = out.emplace_back();
    f.name = name;
    f.help = help;
    f.type = type;
    prometheus::ClientMetric& m = f.metric.emplace_back();
    (type == prometheus::MetricType::Counter ? m.counter.value : m.gauge.value) = value;
}

// Seconds since the epoch at which the machine booted.
double BootTime() {
    std::ifstream stat("/proc/stat");
    for (std::string key; stat >> key;) {
        if (key == "btime") {
            double t = 0;
            stat >> t;
            return t;
        }
        stat.ignore(1 << 20, '\n');
    }
    return 0;
}

}  // namespace

void AddProcessFamilies(std::vector<prometheus::MetricFamily>& out) {
    using prometheus::MetricType;
    std::ifstream file("/proc/self/stat");
    const std::string stat((std::istreambuf_iterator<char>(file)), {});
    // The fields after the command name, which may hold spaces and parentheses itself.
    const auto close = stat.rfind(')');
    if (close != std::string::npos) {
        std::istringstream fields(stat.substr(close + 2));
        std::vector<std::string> f{std::istream_iterator<std::string>(fields), {}};
        // From the state (field 3) on: utime 14, stime 15, starttime 22, vsize 23, rss 24.
        if (f.size() > 21) {
            const double tick = static_cast<double>(::sysconf(_SC_CLK_TCK));
            const double page = static_cast<double>(::sysconf(_SC_PAGESIZE));
            Add(out, "process_cpu_seconds_total", "Total user and system CPU time spent in seconds.",
                MetricType::Counter, (std::stod(f[11]) + std::stod(f[12])) / tick);
            Add(out, "process_resident_memory_bytes", "Resident memory size in bytes.",
                MetricType::Gauge, std::stod(f[21]) * page);
            Add(out, "process_virtual_memory_bytes", "Virtual memory size in bytes.",
                MetricType::Gauge, std::stod(f[20]));
            Add(out, "process_start_time_seconds",
                "Start time of the process since unix epoch in seconds.", MetricType::Gauge,
                BootTime() + std::stod(f[19]) / tick);
        }
    }
    std::error_code ec;
    double fds = 0;
    for (auto it = std::filesystem::directory_iterator("/proc/self/fd", ec);
         !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
        ++fds;
    }
    if (!ec) {
        Add(out, "process_open_fds", "Number of open file descriptors.", MetricType::Gauge,
            fds - 1);  // less the one reading the folder
    }
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0) {
        Add(out, "process_max_fds", "Maximum number of open file descriptors.", MetricType::Gauge,
            static_cast<double>(limit.rlim_cur));
    }
}

}  // namespace kestrel
