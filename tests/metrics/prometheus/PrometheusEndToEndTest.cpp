// kestrel-headless scraped by a real Prometheus with the shipped rules and dashboard, and told
// through a real Alertmanager with the packaged files to a webhook receiver in this test: what
// an operations centre is told, and once. A local AIS is told once and its end once; a MUX whose
// simulator dies is told unreachable, its AIS never resolved; a tributary storm is one
// notification; a stopped monitor is told down and nothing of its MUXes resolves. Beside it,
// the endpoint over TLS with basic authentication.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QUrl>
#include <cstdlib>
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

QJsonObject Json(const std::optional<std::string>& body) {
    return body ? QJsonDocument::fromJson(QByteArray::fromStdString(*body)).object()
                : QJsonObject();
}

// The file at `path` with each pattern replaced; the test fails unless `expected` places were.
std::string Patched(const std::string& path,
                    std::initializer_list<std::pair<const char*, QString>> edits, int expected) {
    QString text = QString::fromStdString(ReadFile(path));
    int count = 0;
    for (const auto& [pattern, with] : edits) {
        const QRegularExpression re(QString::fromLatin1(pattern));
        count += static_cast<int>(text.count(re));
        text.replace(re, with);
    }
    EXPECT_TRUE(expected < 0 || count == expected) << count << " in " << path << ":\n"
                                                   << text.toStdString();
    return text.toStdString();
}

class PrometheusEndToEnd : public HeadlessEndToEnd {
protected:
    void SetUp() override {
        if (Which("prometheus").empty() || Which("promtool").empty()) {
            GTEST_SKIP() << "prometheus and promtool (Debian package prometheus) not installed";
        }
    }
    void TearDown() override {
        if (HasFailure()) {
            std::cerr << "--- prometheus:\n" << ReadFile(Path("prometheus.err"));
        }
        prometheus.Kill();
        HeadlessEndToEnd::TearDown();
    }

    // Prometheus on a free port with the prometheus.yml of the test's folder, once it is ready.
    bool StartPrometheus(std::vector<std::string> args = {}) {
        port = FreePort();
        args.insert(args.end(), {"--config.file=" + Path("prometheus.yml"),
                                 "--storage.tsdb.path=" + Path("data"),
                                 "--web.listen-address=127.0.0.1:" + std::to_string(port)});
        return port > 0 &&
               prometheus.Start(Which("prometheus"), args, Path("prometheus.out"),
                                Path("prometheus.err")) &&
               Eventually([&] { return HttpGet(port, "/-/ready").has_value(); }, 10s);
    }
    QJsonObject Api(const std::string& path) const { return Json(HttpGet(port, path)); }
    QJsonArray Query(const std::string& expr) const {
        const auto query = QUrl::toPercentEncoding(QString::fromStdString(expr));
        return Api("/api/v1/query?query=" + query.toStdString())[u"data"][u"result"].toArray();
    }

    Child prometheus;
    int port = 0;
};

// The endpoint as an operator exposes it beyond the host: HTTPS with a certificate of its own
// and basic authentication, scraped by Prometheus as its documentation configures it. A job
// with the wrong password is refused.
TEST_F(PrometheusEndToEnd, ScrapedOverTlsWithBasicAuthentication) {
    const std::string make =
        "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 1 "
        "-subj /CN=localhost -addext subjectAltName=IP:127.0.0.1 -keyout " +
        Path("key.pem") + " -out " + Path("cert.pem") + " > " + Path("openssl.out") + " 2>&1";
    ASSERT_EQ(std::system(make.c_str()), 0) << ReadFile(Path("openssl.out"));
    std::ofstream(Path("web.yml"))
        << "tls_server_config:\n  cert_file: cert.pem\n  key_file: key.pem\n"
        << "basic_auth_users:\n"
        << "  prometheus: $2b$04$gYE/nDdJWL/m94YeA/DzKeJjk/8dY9XyUM.d0/Pm9VXV7WyV30Hme\n";
    ASSERT_TRUE(b.StartScript(dirB, kQuietScript, 2)) << b.Stderr();
    ASSERT_TRUE(StartHeadless("[general]\nmetrics=0\nmetrics-web-config=" + Path("web.yml") +
                              "\n[mux/south]\ndevice=" + b.Path() + "\n"));
    const std::string exporter = WaitForLog(std::regex(
        "metrics at https://(127\\.0\\.0\\.1:[0-9]+)/metrics \\(basic authentication\\)"));
    ASSERT_FALSE(exporter.empty()) << Log();
    EXPECT_FALSE(HttpGet(std::stoi(exporter.substr(exporter.rfind(':') + 1)), "/metrics"))
        << "plain HTTP is not served";

    std::ofstream config(Path("prometheus.yml"));
    config << "global:\n  scrape_interval: 1s\nscrape_configs:\n";
    for (const char* job : {"kestrel", "wrong"}) {
        config << "  - job_name: " << job << "\n    scheme: https\n"
               << "    tls_config:\n      ca_file: " << Path("cert.pem") << "\n"
               << "    basic_auth:\n      username: prometheus\n      password: "
               << (job == std::string("kestrel") ? "secret" : "guess") << "\n"
               << "    static_configs:\n      - targets: ['" << exporter << "']\n";
    }
    config.close();
    ASSERT_TRUE(StartPrometheus());
    std::map<std::string, QJsonObject> targets;
    ASSERT_TRUE(Eventually(
        [&] {
            for (const auto& t : Api("/api/v1/targets")[u"data"][u"activeTargets"].toArray()) {
                targets[t[u"labels"][u"job"].toString().toStdString()] = t.toObject();
            }
            return targets["kestrel"][u"health"].toString() == u"up" &&
                   targets["wrong"][u"health"].toString() == u"down";
        },
        15s, 250ms))
        << HttpGet(port, "/api/v1/targets").value_or("(no answer)");
    EXPECT_TRUE(targets["wrong"][u"lastError"].toString().contains(u"401"))
        << targets["wrong"][u"lastError"].toString().toStdString();
    ASSERT_TRUE(Eventually(
        [&] { return Query(R"(kestrel_mux_info{job="kestrel",mux="south"})").size() == 1; }, 5s,
        250ms));
}

class AlertmanagerEndToEnd : public PrometheusEndToEnd {
protected:
    void SetUp() override {
        PrometheusEndToEnd::SetUp();
        if (!IsSkipped() && Which("prometheus-alertmanager").empty()) {
            GTEST_SKIP() << "prometheus-alertmanager (its Debian package) not installed";
        }
    }
    void TearDown() override {
        if (HasFailure()) {
            std::cerr << "--- notifications:\n"
                      << Told() << "--- alertmanager:\n"
                      << ReadFile(Path("alertmanager.err")) << "--- second kestrel-headless:\n"
                      << ReadFile(Second("headless.err"));
        }
        alertmanager.Kill();
        second.Kill();
        c.child.Kill();
        PrometheusEndToEnd::TearDown();
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
        std::ofstream(Path("alertmanager.yml")) << Patched(
            KESTREL_ALERTMANAGER_CONFIG,
            {{"group_wait: \\S+", QStringLiteral("group_wait: 1s")},
             {"group_interval: \\S+", QStringLiteral("group_interval: 1s")},
             {"http://127\\.0\\.0\\.1:5001",
              QStringLiteral("http://127.0.0.1:%1").arg(webhook.Port())}},
            5);
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
    bool StartPackagedPrometheus(const std::string& exporter1, const std::string& exporter2) {
        std::ofstream(Path("rules.yml"))
            << Patched(KESTREL_ALERT_RULES, {{"for: \\S+", QStringLiteral("for: 1s")}}, -1);
        std::ofstream(Path("prometheus.yml")) << Patched(
            KESTREL_PROMETHEUS_CONFIG,
            {{"_interval: 15s", QStringLiteral("_interval: 1s")},
             {"/usr/share/kestrel/prometheus/kestrel-alerts.yml",
              QString::fromStdString(Path("rules.yml"))},
             {"'127\\.0\\.0\\.1:9093'", QStringLiteral("'127.0.0.1:%1'").arg(alertmanagerPort)},
             {"\\['site-a:9464'.*\\]",
              QString::fromStdString("['" + exporter1 + "', '" + exporter2 + "']")}},
            5);
        return StartPrometheus({"--rules.alert.resend-delay=1s"});
    }

    // The text as served passes promtool's check, and every query of the shipped dashboard,
    // with its variables as Grafana would fill them for `mux`, gives data; a family the monitor
    // does not serve yet (no line memory behind the session) is named. The variables, asked as
    // Grafana asks them: the monitors (all of them by default), then the MUXes of those chosen.
    void ExpectServedTextAndDashboard(const std::string& exporter1, const std::string& exporter2,
                                      const char* mux) {
        const auto text =
            HttpGet(std::stoi(exporter1.substr(exporter1.rfind(':') + 1)), "/metrics");
        ASSERT_TRUE(text);
        std::ofstream(Path("metrics.txt")) << *text;
        const std::string check =
            "promtool check metrics < " + Path("metrics.txt") + " > " + Path("check.out") + " 2>&1";
        EXPECT_EQ(std::system(check.c_str()), 0) << ReadFile(Path("check.out"));

        QFile file(QStringLiteral(KESTREL_DASHBOARD));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QJsonObject dashboard = QJsonDocument::fromJson(file.readAll()).object();
        int queries = 0;
        static const QRegularExpression family(QStringLiteral("kestrel_[a-z_]+"));
        for (const auto& panel : dashboard[u"panels"].toArray()) {
            for (const auto& target : panel[u"targets"].toArray()) {
                QString expr = target[u"expr"].toString();
                ++queries;
                for (const char* variable : {"$__rate_interval", "$__interval", "$__range"}) {
                    expr.replace(QLatin1String(variable), QLatin1String("1m"));
                }
                expr.replace(QLatin1String("$instance"), QLatin1String(".*"));
                expr.replace(QLatin1String("$mux"), QLatin1String(mux));
                const std::string name = family.match(expr).captured(0).toStdString();
                if (text->find("\n" + name + "{") == std::string::npos) {
                    std::cout << "not served yet: " << name << " (" << expr.toStdString() << ")\n";
                    continue;
                }
                EXPECT_FALSE(Query(expr.toStdString()).isEmpty()) << expr.toStdString();
            }
        }
        EXPECT_GE(queries, 10);
        std::map<std::string, std::set<std::string>> values;
        static const QRegularExpression labelValues(
            QStringLiteral("^label_values\\((.+), (\\w+)\\)$"));
        for (const auto& variable : dashboard[u"templating"][u"list"].toArray()) {
            const auto m = labelValues.match(variable[u"query"][u"query"].toString());
            if (!m.hasMatch()) {
                continue;
            }
            const QString match =
                m.captured(1).replace(QLatin1String("$instance"), QLatin1String(".*"));
            const auto answer = Json(HttpGet(
                port, "/api/v1/label/" + m.captured(2).toStdString() +
                          "/values?match[]=" + QUrl::toPercentEncoding(match).toStdString()));
            for (const auto& v : answer[u"data"].toArray()) {
                values[variable[u"name"].toString().toStdString()].insert(
                    v.toString().toStdString());
            }
        }
        EXPECT_EQ(values["instance"], (std::set<std::string>{exporter1, exporter2}));
        EXPECT_EQ(values["mux"], (std::set<std::string>{"east", "storm", "west"}));
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

    // Every notification as Alertmanager posted it, for a failure message.
    std::string Told() const {
        std::string text;
        for (const QJsonObject& n : webhook.Notifications()) {
            text += QJsonDocument(n).toJson(QJsonDocument::Compact).toStdString() + "\n";
        }
        return text;
    }

    QTemporaryDir dirC, dir2;
    Simulator c;
    Child second, prometheus, alertmanager;
    test::WebhookReceiver webhook;
    int alertmanagerPort = 0;
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
    ASSERT_TRUE(StartPackagedPrometheus(exporter1, exporter2));

    // West's AIS is told; then its simulator dies, and the monitor cannot see it any more.
    ASSERT_TRUE(Eventually([&] { return !Notified("KestrelLocalAIS", "west").empty(); }, 15s));
    ExpectServedTextAndDashboard(exporter1, exporter2, "west");
    ASSERT_TRUE(b.child.Signal(SIGTERM));
    ASSERT_TRUE(b.child.WaitExit(5s));
    ASSERT_FALSE(WaitForLog(std::regex("west: alarm local AIS unknown \\((no data|MUX not "
                                       "connected)\\)"))
                     .empty())
        << Log();
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
    // The monitor is blind, not the line better: the alarm keeps its last value, marked stale.
    EXPECT_EQ(Query(R"(kestrel_alarm{alarm="ais",end="local",mux="west"} == 1)").size(), 1);
    EXPECT_EQ(Query(R"(kestrel_data_valid{mux="west"} == 0)").size(), 1);
    EXPECT_EQ(Log().find("west: alarm local AIS off"), std::string::npos) << Log();
    const auto line = (*Status("west"))[u"line"].toObject();
    EXPECT_FALSE(line[u"seen"].toBool());
    EXPECT_TRUE(line[u"unknown"][u"near:ais"].toBool());
    // East sent from the start: its journal has no link entry, not even at start-up.
    EXPECT_EQ(
        test::Sqlite(Path("east.sqlite"), "SELECT object FROM journal WHERE object LIKE 'link:%'"),
        std::vector<std::string>{});

    // Storm: no AIS; the six tributaries in one notification of one alert per end, in order.
    EXPECT_TRUE(Notified("KestrelLocalAIS", "storm").empty());
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
