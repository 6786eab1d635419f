// The metrics: listen addresses, what a scrape shows of a MUX's state, counters that hold,
// and scrapes beside a publishing host.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "metrics/MetricsExporter.h"
#include "tests/metrics/HttpGet.h"

namespace kestrel {
namespace {

TEST(ListenAddress, PortAloneIsLoopbackAndAddressesAreNumeric) {
    for (const auto& [text, bind] : {std::pair{"9464", "127.0.0.1:9464"},
                                     {"0", "127.0.0.1:0"},
                                     {"0.0.0.0:9464", "0.0.0.0:9464"},
                                     {"192.0.2.7:65535", "192.0.2.7:65535"},
                                     {"[::]:9464", "[::]:9464"},
                                     {"[::1]:09464", "[::1]:9464"}}) {
        std::string error;
        EXPECT_EQ(ParseListenAddress(text, error).value_or("refused: " + error), bind) << text;
    }
    for (const char* text :
         {"", "65536", "-1", "9464x", "localhost:9464", "::1:9464", "192.0.2.7:", "[::1:9464"}) {
        std::string error;
        EXPECT_FALSE(ParseListenAddress(text, error)) << text;
        EXPECT_NE(error.find(text), std::string::npos) << error;
    }
}

bool Has(const std::string& text, const std::string& line) {
    return text.find("\n" + line + "\n") != std::string::npos;
}

TEST(MetricsText, StateOfOneMuxAsLabelledSamples) {
    MonitorState state;
    std::mutex frameMutex;
    state.noData = 0;
    state.connected = 1;
    state.frameCount = 12;
    state.resyncCount = 2;
    state.localAis = 1;
    state.remoteLof = 1;
    state.tribNoSig[15] = 1;  // local 16
    state.tribCErr[16] = 1;   // remote 1
    state.nearErrorsCumulative = 40;
    state.nearErrorsTotal = 0;  // a BER reset: the counter keeps the cumulative count
    MuxFigures f = FiguresOf("north", state, frameMutex, true, nullptr);
    f.device = "rfc2217://ts-north:2001";
    f.lastFrame = 1774746000.25;
    f.g821.emplace();
    (*f.g821)[kFarObject].ses = 3;
    (*f.g821)[kFirstRemoteTribObject + 15].uas = 10;
    std::string text = "\n";  // appended: GCC 12 at -O3 warns falsely about "\n" + string
    text += MetricsText({f, FiguresOf("south", state, frameMutex, false, nullptr)});
    for (const char* line : {
             R"(kestrel_build_info{version="1.0"} 1)",
             R"(kestrel_link_up{mux="north"} 1)",
             R"(kestrel_link_up{mux="south"} 0)",
             R"(kestrel_mux_connected{mux="north"} 1)",
             R"(kestrel_frames_total{mux="north"} 12)",
             R"(kestrel_resync_total{mux="north"} 2)",
             R"(kestrel_alarm{mux="north",end="local",alarm="ais"} 1)",
             R"(kestrel_alarm{mux="north",end="local",alarm="lof"} 0)",
             R"(kestrel_alarm{mux="north",end="remote",alarm="lof"} 1)",
             R"(kestrel_tributary_no_signal{mux="north",end="local",tributary="16"} 1)",
             R"(kestrel_tributary_no_signal{mux="north",end="remote",tributary="1"} 0)",
             R"(kestrel_tributary_code_errors{mux="north",end="remote",tributary="1"} 1)",
             // One vocabulary: `end` local or remote in every family, `tributary` 1 to 16.
             R"(kestrel_errors_total{mux="north",end="local"} 40)",
             R"(kestrel_bit_error_ratio{mux="north",end="remote",window="30s"} 0)",
             R"(kestrel_severely_errored_seconds_total{mux="north",end="remote"} 3)",
             R"(kestrel_unavailable_seconds_total{mux="north",end="remote",tributary="16"} 10)",
             R"(kestrel_mux_info{mux="north",device="rfc2217://ts-north:2001"} 1)",
             R"(kestrel_last_frame_timestamp_seconds{mux="north"} 1774746000.25)",
             "# TYPE kestrel_errors_total counter",
             "# TYPE kestrel_bit_error_ratio gauge",
             "# TYPE process_cpu_seconds_total counter",
             "# TYPE process_resident_memory_bytes gauge",
             "# TYPE process_open_fds gauge",
             "# TYPE process_start_time_seconds gauge",
         }) {
        EXPECT_TRUE(Has(text, line)) << line;
    }
    EXPECT_EQ(text.find(R"(kestrel_last_frame_timestamp_seconds{mux="south")"), std::string::npos);
    EXPECT_EQ(text.find("near"), std::string::npos);
    EXPECT_EQ(text.find("object="), std::string::npos);
    EXPECT_EQ(text.find(R"(kestrel_errored_seconds_total{mux="south")"), std::string::npos)
        << "no G.821 samples for a MUX without line memory";
}

// The exposer on a free port, scraped while the host publishes: counters never go down,
// gauges follow, and (under ThreadSanitizer) nothing is shared without a lock.
TEST(MetricsExporter, ScrapesBesidePublishingSeeCountersHold) {
    std::string error;
    auto exporter = MetricsExporter::Start("0", error);
    ASSERT_TRUE(exporter) << error;
    const int port = std::stoi(exporter->Address().substr(exporter->Address().rfind(':') + 1));
    ASSERT_GT(port, 0);
    EXPECT_EQ(exporter->Address().rfind("127.0.0.1:", 0), 0u);

    MuxFigures f;
    f.mux = "north";
    f.frames = 100;
    f.g821.emplace();
    (*f.g821)[kNearObject].es = 7;
    f.linkUp = true;
    exporter->Publish({f});

    std::atomic<bool> done{false};
    std::atomic<int> scrapes{0};
    std::thread scraper([&] {
        while (!done) {
            if (test::HttpGet(port, "/metrics")) {
                ++scrapes;
            }
        }
    });
    for (int i = 0; i < 50 || scrapes < 3; ++i) {
        f.frames = 100 + i % 7;
        exporter->Publish({f});
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    // A restarted host starts again from zero; its counters must not.
    f.frames = 1;
    (*f.g821)[kNearObject].es = 0;
    f.g821.reset();
    f.linkUp = false;
    exporter->Publish({f});
    done = true;
    scraper.join();

    const auto text = test::HttpGet(port, "/metrics");
    ASSERT_TRUE(text);
    EXPECT_TRUE(Has(*text, R"(kestrel_frames_total{mux="north"} 106)")) << *text;
    EXPECT_TRUE(Has(*text, R"(kestrel_errored_seconds_total{mux="north",end="local"} 7)"));
    EXPECT_TRUE(Has(*text, R"(kestrel_link_up{mux="north"} 0)"));
    std::string taken;
    EXPECT_FALSE(MetricsExporter::Start(exporter->Address(), taken)) << "the port is in use";
    EXPECT_NE(taken.find("cannot listen"), std::string::npos) << taken;
}

}  // namespace
}  // namespace kestrel
