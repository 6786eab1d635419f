// Serves the MUXes' figures at /metrics in the Prometheus text format (prometheus-cpp's pull
// exposer), from the last snapshot the host published.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "metrics/MuxFigures.h"

namespace prometheus {
class Exposer;
struct MetricFamily;
}  // namespace prometheus

namespace kestrel {

// "[ADDRESS:]PORT" as the exposer's bind address: a port alone listens on 127.0.0.1 only;
// ADDRESS is a numeric IPv4 address or a bracketed IPv6 one ("[::]:9464"). Port 0 takes a
// free one. Empty with `error` set when the text is none of these.
std::optional<std::string> ParseListenAddress(const std::string& text, std::string& error);

// The families of one snapshot, as a scrape gets them.
std::vector<prometheus::MetricFamily> MetricFamiliesOf(const std::vector<MuxFigures>& muxes);
// The same in the text format, for checks and measurements.
std::string MetricsText(const std::vector<MuxFigures>& muxes);

class FiguresCollectable;

class MetricsExporter {
public:
    // Starts listening on `listen` ("[ADDRESS:]PORT"); null with `error` set when the text is
    // wrong or the address cannot be bound. The exposer's threads start here: a host that
    // keeps signals for one thread blocks them before.
    static std::unique_ptr<MetricsExporter> Start(const std::string& listen, std::string& error);
    ~MetricsExporter();
    MetricsExporter(const MetricsExporter&) = delete;
    MetricsExporter& operator=(const MetricsExporter&) = delete;

    // The host's thread, at each tick: the figures a scrape shows from now on. A counter
    // never goes down, even when a host's figure does (a MUX restarted under the same name).
    void Publish(std::vector<MuxFigures> muxes);
    // The address and port listened on, with the port chosen when 0 was asked.
    const std::string& Address() const { return address; }

private:
    MetricsExporter() = default;

    std::shared_ptr<FiguresCollectable> figures;
    std::unique_ptr<prometheus::Exposer> exposer;
    std::string address;
    // The counters last published per MUX, to hold them up.
    std::map<std::string, MuxFigures> published;
};

}  // namespace kestrel
