// A real Prometheus scraping kestrel-headless watching two MUXes, one in local AIS: targets,
// samples, the alert, promtool's check of the text, and every query of the shipped dashboard.
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
#include <thread>

#include "tests/headless/HeadlessFixture.h"
#include "tests/metrics/HttpGet.h"

namespace kestrel::e2e {
namespace {

using test::HttpGet;

constexpr const char* kAisScript = "20 0003 00 00 00 00 00 0001 00 00 00 00 repeat 1000\n";
constexpr const char* kQuietScript = "00 0000 00 00 00 00 00 0000 00 00 00 00 repeat 1000\n";

QJsonObject Json(const std::optional<std::string>& body) {
    return body ? QJsonDocument::fromJson(QByteArray::fromStdString(*body)).object()
                : QJsonObject();
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

    // Prometheus on a free port with the prometheus.yml of the test's folder.
    bool StartPrometheus() {
        port = FreePort();
        return port > 0 &&
               prometheus.Start(Which("prometheus"),
                                {"--config.file=" + Path("prometheus.yml"),
                                 "--storage.tsdb.path=" + Path("data"),
                                 "--web.listen-address=127.0.0.1:" + std::to_string(port)},
                                Path("prometheus.out"), Path("prometheus.err"));
    }
    QJsonObject Api(const std::string& path) const { return Json(HttpGet(port, path)); }
    QJsonArray Query(const std::string& expr) const {
        const auto query = QUrl::toPercentEncoding(QString::fromStdString(expr));
        return Api("/api/v1/query?query=" + query.toStdString())[u"data"][u"result"].toArray();
    }

    Child prometheus;
    int port = 0;
};

TEST_F(PrometheusEndToEnd, TargetsUpAisAlertAndEveryDashboardQuery) {
    // One monitor of two MUXes, as the packaged service runs, on a port of its own choosing.
    // North is found at a link its simulator removes as it ends, so that the monitor cannot
    // open another program's terminal of the same number after it.
    const std::string north = dirA.filePath(QStringLiteral("line")).toStdString();
    std::ofstream(north + ".script") << kAisScript;
    ASSERT_TRUE(a.Start(dirA, {"--script", north + ".script", "--rate", "2", "--link", north}))
        << a.Stderr();
    ASSERT_TRUE(b.StartScript(dirB, kQuietScript, 2)) << b.Stderr();
    ASSERT_TRUE(StartHeadless("[general]\nmetrics=0\n[mux/north]\ndevice=" + north +
                              "\n[mux/south]\ndevice=" + b.Path() + "\n"));
    const std::string exporter =
        WaitForLog(std::regex("metrics at http://(127\\.0\\.0\\.1:[0-9]+)/metrics"));
    ASSERT_FALSE(exporter.empty()) << Log();

    // The shipped rules with every delay cut to a second.
    const std::string rules =
        QString::fromStdString(ReadFile(KESTREL_ALERT_RULES))
            .replace(QRegularExpression(QStringLiteral("for: \\S+")), QStringLiteral("for: 1s"))
            .toStdString();
    ASSERT_NE(rules.find("for: 1s"), std::string::npos);
    std::ofstream(Path("rules.yml")) << rules;
    std::ofstream(Path("prometheus.yml"))
        << "global:\n  scrape_interval: 1s\n  evaluation_interval: 1s\n"
        << "rule_files:\n  - " << Path("rules.yml") << "\n"
        << "scrape_configs:\n  - job_name: kestrel\n    static_configs:\n"
        << "      - targets: ['" << exporter << "']\n";
    ASSERT_TRUE(StartPrometheus());

    // The target up.
    ASSERT_TRUE(Eventually(
        [&] {
            const auto targets = Api("/api/v1/targets")[u"data"][u"activeTargets"].toArray();
            return targets.size() == 1 && targets[0][u"health"].toString() == u"up";
        },
        15s, 250ms))
        << HttpGet(port, "/api/v1/targets").value_or("(no answer)");

    // Local AIS is 1 for north only, and its alert fires for north only.
    ASSERT_TRUE(Eventually(
        [&] {
            const auto r = Query(R"(kestrel_alarm{alarm="ais",end="local"} == 1)");
            return r.size() == 1 && r[0][u"metric"][u"mux"].toString() == u"north";
        },
        8s, 250ms));
    const auto ais = Query(R"(kestrel_alarm{alarm="ais",end="local"})");
    ASSERT_EQ(ais.size(), 2);
    for (const auto& s : ais) {
        EXPECT_EQ(s[u"value"][1].toString(),
                  s[u"metric"][u"mux"].toString() == u"north" ? u"1" : u"0");
    }
    ASSERT_TRUE(Eventually(
        [&] {
            for (const auto& alert : Api("/api/v1/alerts")[u"data"][u"alerts"].toArray()) {
                if (alert[u"labels"][u"alertname"].toString() == u"KestrelLocalAIS" &&
                    alert[u"state"].toString() == u"firing") {
                    return alert[u"labels"][u"mux"].toString() == u"north";
                }
            }
            return false;
        },
        5s, 250ms))
        << HttpGet(port, "/api/v1/alerts").value_or("(no answer)");
    for (const auto& alert : Api("/api/v1/alerts")[u"data"][u"alerts"].toArray()) {
        EXPECT_FALSE(alert[u"labels"][u"mux"].toString() == u"south" &&
                     alert[u"labels"][u"alertname"].toString().startsWith(u"KestrelLocal"))
            << QJsonDocument(alert.toObject()).toJson().toStdString();
    }

    // The text as served passes promtool's check.
    const auto text = HttpGet(std::stoi(exporter.substr(exporter.rfind(':') + 1)), "/metrics");
    ASSERT_TRUE(text);
    std::ofstream(Path("metrics.txt")) << *text;
    const std::string check =
        "promtool check metrics < " + Path("metrics.txt") + " > " + Path("check.out") + " 2>&1";
    EXPECT_EQ(std::system(check.c_str()), 0) << ReadFile(Path("check.out"));

    // Every query of the dashboard, with its variables as Grafana would fill them, gives data.
    // A family the monitor does not serve yet (no line memory behind the session) is named.
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
            expr.replace(QLatin1String("$instance"), QLatin1String(".*"));  // All monitors
            expr.replace(QLatin1String("$mux"), QLatin1String("north"));
            const std::string name = family.match(expr).captured(0).toStdString();
            if (text->find("\n" + name + "{") == std::string::npos) {
                std::cout << "not served yet: " << name << " (" << expr.toStdString() << ")\n";
                continue;
            }
            EXPECT_FALSE(Query(expr.toStdString()).isEmpty()) << expr.toStdString();
        }
    }
    EXPECT_GE(queries, 10);
    // The variables, asked as Grafana asks them: the monitor (all of them by default), then the
    // MUXes of the monitor chosen.
    std::map<std::string, std::vector<std::string>> values;
    static const QRegularExpression labelValues(QStringLiteral("^label_values\\((.+), (\\w+)\\)$"));
    for (const auto& variable : dashboard[u"templating"][u"list"].toArray()) {
        const auto m = labelValues.match(variable[u"query"][u"query"].toString());
        if (!m.hasMatch()) {
            continue;
        }
        const QString match =
            m.captured(1).replace(QLatin1String("$instance"), QLatin1String(".*"));
        const auto answer =
            Json(HttpGet(port, "/api/v1/label/" + m.captured(2).toStdString() + "/values?match[]=" +
                                   QUrl::toPercentEncoding(match).toStdString()));
        for (const auto& v : answer[u"data"].toArray()) {
            values[variable[u"name"].toString().toStdString()].push_back(
                v.toString().toStdString());
        }
    }
    EXPECT_EQ(values["instance"], std::vector<std::string>{exporter});
    EXPECT_EQ(values["mux"], (std::vector<std::string>{"north", "south"}));

    // The MUX in AIS is unplugged: the monitor is blind, not the line better. The alarm keeps
    // its last value, marked stale, and its alert keeps firing.
    ASSERT_TRUE(a.child.Signal(SIGTERM));
    ASSERT_TRUE(a.child.WaitExit(5s));
    ASSERT_FALSE(WaitForLog(std::regex("north: alarm local AIS unknown \\((no data|MUX not "
                                       "connected)\\)"))
                     .empty())
        << Log();
    ASSERT_TRUE(Eventually(
        [&] { return Query(R"(kestrel_data_valid{mux="north"} == 0)").size() == 1; }, 8s, 250ms));
    std::this_thread::sleep_for(2s);  // two more evaluations
    EXPECT_EQ(Query(R"(kestrel_alarm{alarm="ais",end="local",mux="north"} == 1)").size(), 1);
    bool firing = false;
    for (const auto& alert : Api("/api/v1/alerts")[u"data"][u"alerts"].toArray()) {
        firing = firing || (alert[u"labels"][u"alertname"].toString() == u"KestrelLocalAIS" &&
                            alert[u"labels"][u"mux"].toString() == u"north" &&
                            alert[u"state"].toString() == u"firing");
    }
    EXPECT_TRUE(firing) << HttpGet(port, "/api/v1/alerts").value_or("(no answer)");
    EXPECT_EQ(Log().find("north: alarm local AIS off"), std::string::npos) << Log();
    const auto line = (*Status("north"))[u"line"].toObject();
    EXPECT_FALSE(line[u"seen"].toBool());
    EXPECT_TRUE(line[u"unknown"][u"near:ais"].toBool());
    // The other MUX sent from the start: its journal has no link entry, not even at start-up.
    EXPECT_EQ(test::Sqlite(Path("south.sqlite"), "SELECT object FROM journal"),
              std::vector<std::string>{});
}

// The endpoint as an operator exposes it beyond the host: HTTPS with a certificate of its own
// and basic authentication, scraped by Prometheus as its documentation configures it. A job
// with the wrong password is refused.
TEST_F(PrometheusEndToEnd, ScrapedOverTlsWithBasicAuthentication) {
    const std::string make =
        "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 1 "
        "-subj /CN=localhost -addext subjectAltName=IP:127.0.0.1 -keyout " + Path("key.pem") +
        " -out " + Path("cert.pem") + " > " + Path("openssl.out") + " 2>&1";
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

}  // namespace
}  // namespace kestrel::e2e
