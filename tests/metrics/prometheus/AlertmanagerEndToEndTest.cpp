// What an operations centre is told: two kestrel-headless on three simulators, a real Prometheus
// and a real Alertmanager with the packaged files, and a webhook receiver in this test. A local
// AIS is told once and its end once; a MUX whose simulator dies is told unreachable, its AIS never
// resolved; a tributary storm is one notification; a stopped monitor is told down and nothing
// of its MUXes resolves.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QRegularExpression>
#include <fstream>
#include <map>
#include <set>
#include <thread>

#include "tests/headless/HeadlessFixture.h"
#include "tests/metrics/HttpGet.h"
#include "tests/metrics/prometheus/WebhookReceiver.h"

namespace kestrel::e2e {
namespace {

using test::HttpGet;

// At two frames a second: one second of a working line, fifteen of local AIS, then working.
constexpr const char* kAisThenWorking =
    "00 0000 00 00 00 00 00 0000 00 00 00 00 repeat 2\n"
    "20 0003 00 00 00 00 00 0001 00 00 00 00 repeat 30\n"
    "00 0000 00 00 00 00 00 0000 00 00 00 00 repeat 1000\n";
constexpr const char* kAis = "20 0003 00 00 00 00 00 0001 00 00 00 00 repeat 1000\n";
// Local tributaries 1, 2, 9, 10 and 16 and remote tributary 7 lose their signal in one frame.
constexpr const char* kTributaryStorm =
    "00 0000 00 00 00 00 00 0000 00 00 00 00 repeat 2\n"
    "00 0000 40 05 00 05 00 0000 00 00 10 00 repeat 1000\n";

QString Replaced(QString text, const char* pattern, const QString& with, int& count) {
    const QRegularExpression re(QString::fromLatin1(pattern));
    count += static_cast<int>(text.count(re));
    return text.replace(re, with);
}

class AlertmanagerEndToEnd : public HeadlessEndToEnd {
protected:
    void SetUp() override {
        for (const char* tool : {"prometheus", "promtool", "prometheus-alertmanager"}) {
            if (Which(tool).empty()) {
                GTEST_SKIP() << tool << " not installed (Debian packages prometheus and "
                             << "prometheus-alertmanager)";
            }
        }
    }
    void TearDown() override {
        if (HasFailure()) {
            std::cerr << "--- notifications:\n"
                      << Told() << "--- prometheus:\n"
                      << ReadFile(Path("prometheus.err")) << "--- alertmanager:\n"
                      << ReadFile(Path("alertmanager.err")) << "--- second kestrel-headless:\n"
                      << ReadFile(Second("headless.err"));
        }
        prometheus.Kill();
        alertmanager.Kill();
        second.Kill();
        c.child.Kill();
        HeadlessEndToEnd::TearDown();
    }

    // The simulator playing `script` at two frames a second, for the monitor at a link in its
    // folder that it removes as it ends: the name then leads nowhere, whoever gets its terminal
    // next. Empty when it did not start.
    static std::string StartLinked(Simulator& sim, const QTemporaryDir& in, const char* script) {
        const std::string file = in.filePath(QStringLiteral("line.script")).toStdString();
        const std::string link = in.filePath(QStringLiteral("line")).toStdString();
        std::ofstream(file) << script;
        return sim.Start(in, {"--script", file, "--rate", "2", "--link", link}) ? link
                                                                                : std::string();
    }

    std::string Second(const std::string& name) const {
        return dir2.filePath(QString::fromStdString(name)).toStdString();
    }

    // The packaged alertmanager.yml, its waits cut to a second, delivering to the test.
    bool StartAlertmanager() {
        int count = 0;
        QString config = QString::fromStdString(ReadFile(KESTREL_ALERTMANAGER_CONFIG));
        config = Replaced(config, "group_wait: \\S+", QStringLiteral("group_wait: 1s"), count);
        config =
            Replaced(config, "group_interval: \\S+", QStringLiteral("group_interval: 1s"), count);
        config = Replaced(config, "http://127\\.0\\.0\\.1:5001",
                          QStringLiteral("http://127.0.0.1:%1").arg(webhook.Port()), count);
        EXPECT_EQ(count, 5) << config.toStdString();
        std::ofstream(Path("alertmanager.yml")) << config.toStdString();
        alertmanagerPort = FreePort();
        return alertmanager.Start(
                   Which("prometheus-alertmanager"),
                   {"--config.file=" + Path("alertmanager.yml"),
                    "--storage.path=" + Path("alertmanager"),
                    "--web.listen-address=127.0.0.1:" + std::to_string(alertmanagerPort),
                    "--cluster.listen-address="},
                   Path("alertmanager.out"), Path("alertmanager.err")) &&
               Eventually([&] { return HttpGet(alertmanagerPort, "/-/ready").has_value(); }, 10s);
    }

    // The packaged prometheus.yml on these monitors: scrapes and rules every second, the
    // rules' delays cut to a second (alerts are resent every second, so none is lost to a
    // start-up race).
    bool StartPrometheus(const std::string& exporter1, const std::string& exporter2) {
        const std::string rules =
            QString::fromStdString(ReadFile(KESTREL_ALERT_RULES))
                .replace(QRegularExpression(QStringLiteral("for: \\S+")), QStringLiteral("for: 1s"))
                .toStdString();
        std::ofstream(Path("rules.yml")) << rules;
        int count = 0;
        QString config = QString::fromStdString(ReadFile(KESTREL_PROMETHEUS_CONFIG));
        config = Replaced(config, "_interval: 15s", QStringLiteral("_interval: 1s"), count);
        config = Replaced(config, "/usr/share/kestrel/prometheus/kestrel-alerts.yml",
                          QString::fromStdString(Path("rules.yml")), count);
        config = Replaced(config, "'127\\.0\\.0\\.1:9093'",
                          QStringLiteral("'127.0.0.1:%1'").arg(alertmanagerPort), count);
        config =
            Replaced(config, "\\['site-a:9464'.*\\]",
                     QString::fromStdString("['" + exporter1 + "', '" + exporter2 + "']"), count);
        EXPECT_EQ(count, 5) << config.toStdString();
        std::ofstream(Path("prometheus.yml")) << config.toStdString();
        prometheusPort = FreePort();
        return prometheus.Start(Which("prometheus"),
                                {"--config.file=" + Path("prometheus.yml"),
                                 "--storage.tsdb.path=" + Path("data"),
                                 "--web.listen-address=127.0.0.1:" + std::to_string(prometheusPort),
                                 "--rules.alert.resend-delay=1s"},
                                Path("prometheus.out"), Path("prometheus.err")) &&
               Eventually([&] { return HttpGet(prometheusPort, "/-/ready").has_value(); }, 10s);
    }

    // The notifications of one group (alert name and MUX; a null MUX for alerts without one).
    std::vector<QJsonObject> Notified(const char* alertname, const char* mux) const {
        std::vector<QJsonObject> found;
        for (const QJsonObject& n : webhook.Notifications()) {
            const QJsonObject group = n[u"groupLabels"].toObject();
            if (group[u"alertname"].toString() == QLatin1String(alertname) &&
                group[u"mux"].toString() == QLatin1String(mux ? mux : "")) {
                found.push_back(n);
            }
        }
        return found;
    }
    static std::string Text(const QJsonValue& v) { return v.toString().toStdString(); }
    static QJsonObject Alert(const QJsonObject& notification, int i = 0) {
        return notification[u"alerts"][i].toObject();
    }
    // The summary of a notification's first alert, and those of all its alerts.
    static std::string Summary(const QJsonObject& notification) {
        return Text(Alert(notification)[u"annotations"][u"summary"]);
    }
    static std::set<std::string> Summaries(const QJsonObject& notification) {
        std::set<std::string> all;
        for (const auto& a : notification[u"alerts"].toArray()) {
            all.insert(Text(a[u"annotations"][u"summary"]));
        }
        return all;
    }

    // Alertmanager's own view of an alert: "active", "suppressed" (inhibited or silenced), or
    // empty when it does not hold it.
    std::string StateInAlertmanager(const char* alertname, const char* mux) const {
        const auto body = HttpGet(alertmanagerPort, "/api/v2/alerts");
        for (const auto& a :
             QJsonDocument::fromJson(QByteArray::fromStdString(body.value_or(""))).array()) {
            const QJsonObject labels = a[u"labels"].toObject();
            if (labels[u"alertname"].toString() == QLatin1String(alertname) &&
                labels[u"mux"].toString() == QLatin1String(mux)) {
                return Text(a[u"status"][u"state"]);
            }
        }
        return {};
    }

    std::string Told() const {
        std::string text;
        for (const QJsonObject& n : webhook.Notifications()) {
            text += Text(n[u"receiver"]) + " " + n[u"status"].toString().toStdString() + ":";
            for (const auto& a : n[u"alerts"].toArray()) {
                text += " [" + a[u"status"].toString().toStdString() + "] " +
                        a[u"labels"][u"alertname"].toString().toStdString() + ": " +
                        Text(a[u"annotations"][u"summary"]);
            }
            text += "\n";
        }
        return text;
    }

    QTemporaryDir dirC, dir2;
    Simulator c;
    Child second, prometheus, alertmanager;
    test::WebhookReceiver webhook;
    int alertmanagerPort = 0;
    int prometheusPort = 0;
};

TEST_F(AlertmanagerEndToEnd, EachTroubleToldOnceAndNothingResolvedUnseen) {
    // The first monitor watches east, in local AIS for fifteen seconds, and west, in local AIS
    // until its simulator dies; the second watches storm, whose tributaries fail at once.
    ASSERT_GT(webhook.Port(), 0);
    const std::string eastLine = StartLinked(a, dirA, kAisThenWorking);
    const std::string westLine = StartLinked(b, dirB, kAis);
    const std::string stormLine = StartLinked(c, dirC, kTributaryStorm);
    ASSERT_FALSE(eastLine.empty() || westLine.empty() || stormLine.empty());
    ASSERT_TRUE(StartHeadless("[general]\nmetrics=0\n[mux/east]\ndevice=" + eastLine +
                              "\n[mux/west]\ndevice=" + westLine + "\n"));
    std::ofstream(Second("kestrel.ini"))
        << "[general]\nmetrics=0\n[mux/storm]\ndevice=" << stormLine << "\n";
    ASSERT_TRUE(second.Start(KESTREL_HEADLESS_PROGRAM,
                             {"--config", Second("kestrel.ini"), "--status-dir",
                              dir2.path().toStdString(), "--state-dir", dir2.path().toStdString()},
                             Second("headless.out"), Second("headless.err"), {"LC_ALL=C"}));
    const std::regex listening("metrics at http://(127\\.0\\.0\\.1:[0-9]+)/metrics");
    const std::string exporter1 = WaitForLog(listening);
    std::smatch m;
    std::string log2;
    ASSERT_TRUE(Eventually(
        [&] { return std::regex_search(log2 = ReadFile(Second("headless.err")), m, listening); },
        5s));
    const std::string exporter2 = m.str(1);
    ASSERT_FALSE(exporter1.empty()) << Log();
    ASSERT_TRUE(StartAlertmanager());
    ASSERT_TRUE(StartPrometheus(exporter1, exporter2));

    // West's AIS is told; then its simulator dies, and the monitor cannot see it any more.
    ASSERT_TRUE(Eventually([&] { return !Notified("KestrelLocalAIS", "west").empty(); }, 15s));
    ASSERT_TRUE(b.child.Signal(SIGTERM));
    ASSERT_TRUE(b.child.WaitExit(5s));
    // The storm is told; then the second monitor stops.
    ASSERT_TRUE(
        Eventually([&] { return !Notified("KestrelTributaryNoSignal", "storm").empty(); }, 10s));
    ASSERT_TRUE(second.Signal(SIGTERM));
    ASSERT_TRUE(second.WaitExit(10s));
    ASSERT_TRUE(Eventually(
        [&] {
            return !Notified("KestrelMuxUnreachable", "west").empty() &&
                   !Notified("KestrelMonitorDown", nullptr).empty();
        },
        15s));
    // East's AIS ends, and that is told; then three more seconds in which nothing else may be.
    ASSERT_TRUE(Eventually([&] { return Notified("KestrelLocalAIS", "east").size() >= 2; }, 25s));
    std::this_thread::sleep_for(3s);

    // East: one notification as the AIS came, to whoever is on call, one as it went.
    const auto east = Notified("KestrelLocalAIS", "east");
    ASSERT_EQ(east.size(), 2u);
    EXPECT_EQ(Text(east[0][u"receiver"]), "on-call");
    EXPECT_EQ(Text(east[0][u"status"]), "firing");
    ASSERT_EQ(east[0][u"alerts"].toArray().size(), 1);
    EXPECT_EQ(Text(Alert(east[0])[u"labels"][u"severity"]), "critical");
    EXPECT_TRUE(Summary(east[0]).starts_with("Local 34M AIS on east since 20")) << Summary(east[0]);
    EXPECT_TRUE(Text(Alert(east[0])[u"annotations"][u"runbook_url"])
                    .ends_with("/usr/share/doc/kestrel/runbook.md#kestrellocalais"));
    EXPECT_EQ(Text(east[1][u"status"]), "resolved");

    // West: unreachable, told once; its AIS is not resolved but held back behind it.
    EXPECT_EQ(Notified("KestrelLocalAIS", "west").size(), 1u);
    const auto unseen = Notified("KestrelMuxUnreachable", "west");
    ASSERT_EQ(unseen.size(), 1u);
    EXPECT_TRUE(Summary(unseen[0]).starts_with("MUX west unreachable since 20"))
        << Summary(unseen[0]);
    EXPECT_EQ(StateInAlertmanager("KestrelLocalAIS", "west"), "suppressed");

    // Storm: the six tributaries in one notification of one alert per end, in number order.
    const auto storm = Notified("KestrelTributaryNoSignal", "storm");
    ASSERT_EQ(storm.size(), 1u);
    EXPECT_EQ(Summaries(storm[0]),
              (std::set<std::string>{"Local tributaries 1, 2, 9, 10, 16 of storm without signal",
                                     "Remote tributary 7 of storm without signal"}));
    // Whatever else the storm set off (its tributaries' G.821 objectives), one notification per
    // kind and never one per tributary; and with its monitor stopped, nothing of it resolved.
    std::map<std::string, int> perKind;
    for (const QJsonObject& n : webhook.Notifications()) {
        if (Text(n[u"groupLabels"][u"mux"]) != "storm") {
            continue;
        }
        ++perKind[Text(n[u"groupLabels"][u"alertname"])];
        EXPECT_EQ(Text(n[u"status"]), "firing");
        for (const auto& alert : n[u"alerts"].toArray()) {
            EXPECT_FALSE(alert[u"labels"].toObject().contains(u"tributary"));
        }
    }
    for (const auto& [kind, count] : perKind) {
        EXPECT_EQ(count, 1) << kind;
    }
    EXPECT_EQ(StateInAlertmanager("KestrelTributaryNoSignal", "storm"), "suppressed");

    // The stopped monitor, told once; the other one is not down.
    const auto down = Notified("KestrelMonitorDown", nullptr);
    ASSERT_EQ(down.size(), 1u);
    ASSERT_EQ(down[0][u"alerts"].toArray().size(), 1);
    EXPECT_EQ(Text(Alert(down[0])[u"labels"][u"instance"]), exporter2);
    EXPECT_TRUE(Summary(down[0]).starts_with("Kestrel monitor " + exporter2 + " down since 20"))
        << Summary(down[0]);
}

}  // namespace
}  // namespace kestrel::e2e
