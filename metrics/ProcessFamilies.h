// The process families every Prometheus client library serves, read from /proc at each scrape.
#pragma once

#include <vector>

namespace prometheus {
struct MetricFamily;
}  // namespace prometheus

namespace kestrel {

// process_cpu_seconds_total, process_resident_memory_bytes, process_virtual_memory_bytes,
// process_open_fds, process_max_fds and process_start_time_seconds, named and typed as the
// client libraries do, so the dashboards made for them work here too. What /proc does not
// give is left out.
void AddProcessFamilies(std::vector<prometheus::MetricFamily>& out);

}  // namespace kestrel
