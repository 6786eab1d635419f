// The metric families of the MUXes' figures: names, labels and types a scrape shows.
#include "metrics/MetricsExporter.h"

#include <algorithm>
#include <prometheus/metric_family.h>
#include <prometheus/text_serializer.h>

#include "metrics/ProcessFamilies.h"

namespace kestrel {

namespace {

using prometheus::ClientMetric;
using prometheus::MetricFamily;
using prometheus::MetricType;

constexpr std::array<const char*, 2> kEnds{"local", "remote"};
constexpr std::array<const char*, 4> kAlarms{"no_signal", "ais", "lof", "rai"};
constexpr std::array<const char*, 4> kWindows{"1s", "3s", "10s", "30s"};

class Family {
public:
    Family(std::vector<MetricFamily>& out, const char* name, const char* help, MetricType type)
        : family(out.emplace_back()) {
        family.name = name;
        family.help = help;
        family.type = type;
    }
    void Add(const std::string& mux, std::initializer_list<ClientMetric::Label> labels,
             double value) {
        Add(mux, labels.begin(), labels.end(), value);
    }
    void Add(const std::string& mux, const std::vector<ClientMetric::Label>& labels,
             double value) {
        Add(mux, labels.begin(), labels.end(), value);
    }

private:
    template <typename It>
    void Add(const std::string& mux, It first, It last, double value) {
        ClientMetric& m = family.metric.emplace_back();
        m.label.reserve(static_cast<std::size_t>(last - first) + 1);
        m.label.push_back({"mux", mux});
        m.label.insert(m.label.end(), first, last);
        (family.type == MetricType::Counter ? m.counter.value : m.gauge.value) = value;
    }

    MetricFamily& family;
};

double D(std::int64_t v) {
    return static_cast<double>(v);
}

}  // namespace

std::vector<MetricFamily> MetricFamiliesOf(const std::vector<MuxFigures>& muxes) {
    std::vector<MetricFamily> out;
    out.reserve(20);
    {
        MetricFamily& info = out.emplace_back();
        info.name = "kestrel_build_info";
        info.help = "The running Kestrel: its version; always 1";
        info.type = MetricType::Gauge;
        ClientMetric& m = info.metric.emplace_back();
        m.label = {{"version", KESTREL_VERSION}};
        m.gauge.value = 1;
    }
    // Every family names the MUX by `mux`, the end of the 34 Mbit/s path by `end` (local:
    // what this MUX receives, the near end; remote: what the MUX at the other end reports, the
    // far end) and a tributary by `tributary` (1 to 16, absent for the 34 Mbit/s line).
    Family info(out, "kestrel_mux_info", "The MUX and what it is watched on; always 1",
                MetricType::Gauge);
    Family linkUp(out, "kestrel_link_up", "1 while the port is open and frames arrive",
                  MetricType::Gauge);
    Family connected(out, "kestrel_mux_connected", "1 while the MUX counts as connected",
                     MetricType::Gauge);
    Family dataValid(out, "kestrel_data_valid",
                     "1 while frames show the line; 0 while the alarms are the last ones seen",
                     MetricType::Gauge);
    Family lastFrame(out, "kestrel_last_frame_timestamp_seconds",
                     "When the last frame was decoded, in Unix time", MetricType::Gauge);
    Family frames(out, "kestrel_frames_total", "Parsing passes over status frames",
                  MetricType::Counter);
    Family resyncs(out, "kestrel_resync_total",
                   "Frames discarded undecoded by resynchronisation", MetricType::Counter);
    Family dropped(out, "kestrel_line_bytes_dropped_total",
                   "Bytes of the line let go undecoded because they came faster than decoding",
                   MetricType::Counter);
    Family alarm(out, "kestrel_alarm",
                 "1 while the 34 Mbit/s alarm is on (the last seen while kestrel_data_valid is 0)",
                 MetricType::Gauge);
    Family tribNoSig(out, "kestrel_tributary_no_signal",
                     "1 while the tributary has no signal (the last seen while "
                     "kestrel_data_valid is 0)",
                     MetricType::Gauge);
    Family tribCErr(out, "kestrel_tributary_code_errors",
                    "1 while the tributary shows code errors (the last seen while "
                    "kestrel_data_valid is 0)",
                    MetricType::Gauge);
    Family errors(out, "kestrel_errors_total", "Error counts reported by the MUX",
                  MetricType::Counter);
    Family ber(out, "kestrel_bit_error_ratio",
               "Bit error ratio since start or reset (window total), and over a window",
               MetricType::Gauge);
    Family es(out, "kestrel_errored_seconds_total", "G.821 errored seconds, finalised",
              MetricType::Counter);
    Family ses(out, "kestrel_severely_errored_seconds_total",
               "G.821 severely errored seconds, finalised", MetricType::Counter);
    Family uas(out, "kestrel_unavailable_seconds_total", "G.821 unavailable seconds, finalised",
               MetricType::Counter);
    // A count of one-minute blocks, not a duration: "minutes" in the name would read as a time
    // unit that ought to be seconds.
    Family dm(out, "kestrel_degraded_minute_periods_total",
              "G.821 degraded minutes (one-minute blocks), finalised", MetricType::Counter);
    // The bases of the ratios: errored seconds are judged over available time, degraded
    // minutes over the minutes counted, and neither includes time the monitor did not see.
    Family available(out, "kestrel_available_seconds_total",
                     "G.821 available seconds the monitor saw, finalised", MetricType::Counter);
    Family minutes(out, "kestrel_minute_periods_total",
                   "G.821 one-minute blocks counted (available, not severely errored), finalised",
                   MetricType::Counter);

    for (const MuxFigures& f : muxes) {
        info.Add(f.mux, {{"device", f.device}}, 1);
        linkUp.Add(f.mux, {}, f.linkUp);
        connected.Add(f.mux, {}, f.connected);
        dataValid.Add(f.mux, {}, f.dataValid);
        if (f.lastFrame) {
            lastFrame.Add(f.mux, {}, *f.lastFrame);
        }
        frames.Add(f.mux, {}, D(f.frames));
        resyncs.Add(f.mux, {}, D(f.resyncs));
        dropped.Add(f.mux, {}, D(f.bytesDropped));
        for (std::size_t end = 0; end < 2; ++end) {
            const ClientMetric::Label endLabel{"end", kEnds[end]};
            for (std::size_t a = 0; a < kAlarms.size(); ++a) {
                alarm.Add(f.mux, {endLabel, {"alarm", kAlarms[a]}}, f.alarms[end * 4 + a]);
            }
            for (int t = 0; t < 16; ++t) {
                const std::size_t i = end * 16 + static_cast<std::size_t>(t);
                const ClientMetric::Label trib{"tributary", std::to_string(t + 1)};
                tribNoSig.Add(f.mux, {endLabel, trib}, f.tribNoSig[i]);
                tribCErr.Add(f.mux, {endLabel, trib}, f.tribCErr[i]);
            }
            errors.Add(f.mux, {endLabel}, D(f.errors[end]));
            ber.Add(f.mux, {endLabel, {"window", "total"}}, f.ber.total[end]);
            for (std::size_t w = 0; w < kWindows.size(); ++w) {
                ber.Add(f.mux, {endLabel, {"window", kWindows[w]}}, f.ber.window[end][w]);
            }
        }
        if (f.g821) {
            for (int object = 0; object < kObjectCount; ++object) {
                const Totals& t = (*f.g821)[object];
                std::vector<ClientMetric::Label> labels;
                if (IsLineEnd(object)) {
                    labels = {{"end", kEnds[object == kFarObject ? 1 : 0]}};
                } else {
                    const int k = object - kFirstLocalTribObject;
                    labels = {{"end", kEnds[k < 16 ? 0 : 1]},
                              {"tributary", std::to_string(k % 16 + 1)}};
                }
                es.Add(f.mux, labels, D(t.es));
                ses.Add(f.mux, labels, D(t.ses));
                uas.Add(f.mux, labels, D(t.uas));
                available.Add(f.mux, labels, D(t.available));
                if (IsLineEnd(object)) {
                    dm.Add(f.mux, labels, D(t.dm));  // tributaries have no degraded minutes
                    minutes.Add(f.mux, labels, D(t.minutes));
                }
            }
        }
    }
    AddProcessFamilies(out);
    // A family without a sample is left out rather than shown empty.
    std::erase_if(out, [](const MetricFamily& family) { return family.metric.empty(); });
    return out;
}

std::string MetricsText(const std::vector<MuxFigures>& muxes) {
    return prometheus::TextSerializer().Serialize(MetricFamiliesOf(muxes));
}

}  // namespace kestrel
