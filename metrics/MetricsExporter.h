// Serves the MUXes' figures at /metrics in the Prometheus text format, from the last snapshot
// the host published, over HTTP or HTTPS with basic authentication as the web configuration
// asks.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "metrics/MuxFigures.h"

namespace prometheus {
struct MetricFamily;
}  // namespace prometheus

namespace kestrel {

// "[ADDRESS:]PORT" as the address to listen on: a port alone listens on 127.0.0.1 only;
// ADDRESS is a numeric IPv4 address or a bracketed IPv6 one ("[::]:9464"). Port 0 takes a
// free one. Empty with `error` set when the text is none of these.
std::optional<std::string> ParseListenAddress(const std::string& text, std::string& error);

// The families of one snapshot, as a scrape gets them.
std::vector<prometheus::MetricFamily> MetricFamiliesOf(const std::vector<MuxFigures>& muxes);
// The same in the text format, for checks and measurements.
std::string MetricsText(const std::vector<MuxFigures>& muxes);

struct WebConfig;

class MetricsExporter {
public:
    // Starts listening on `listen` ("[ADDRESS:]PORT"); null with `error` set when the text is
    // wrong, the address cannot be bound or the TLS certificate and key cannot be used. The
    // server's thread starts here: a host that keeps signals for one thread blocks them before.
    static std::unique_ptr<MetricsExporter> Start(const std::string& listen,
                                                  const WebConfig& web, std::string& error);
    // Plain HTTP without authentication.
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

    class Server;
    std::unique_ptr<Server> server;
    std::string address;
    // The counters last published per MUX, to hold them up.
    std::map<std::string, MuxFigures> published;
};

}  // namespace kestrel
