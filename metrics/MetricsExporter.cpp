// The metrics endpoint: an HTTP server on one thread of its own, answering from the last
// snapshot the host published.
//
// It is event-driven (libmicrohttpd over epoll) rather than a thread per connection: a scrape
// must be answered at once however many other clients are connected, idle or trickling a
// header line a second, and however many of them there are, the host's monitoring never
// waits for them.
#include "metrics/MetricsExporter.h"

#include <arpa/inet.h>
#include <malloc.h>
#include <microhttpd.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <mutex>
#include <prometheus/text_serializer.h>

#include "metrics/WebConfig.h"

namespace kestrel {

namespace {

// Connections served at once. An idle connection costs a descriptor and a few kilobytes; a
// client beyond this is turned away at once, never queued behind the others.
constexpr unsigned kConnectionLimit = 1024;
// A connection quiet this long is closed. Prometheus keeps its connection between scrapes,
// and scrapes at most every minute in any usual set-up.
constexpr unsigned kIdleSeconds = 75;
// What one connection may use for its request: Prometheus's headers take a few hundred bytes.
constexpr std::size_t kRequestMemory = 16 * 1024;

}  // namespace

std::optional<std::string> ParseListenAddress(const std::string& text, std::string& error) {
    const auto colon = text.rfind(':');
    const std::string host = colon == std::string::npos ? "" : text.substr(0, colon);
    const std::string port = colon == std::string::npos ? text : text.substr(colon + 1);
    int number = -1;
    const auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), number);
    if (port.empty() || ec != std::errc() || end != port.data() + port.size() || number < 0 ||
        number > 65535) {
        error = "'" + text + "': expected [ADDRESS:]PORT with a port from 0 to 65535";
        return std::nullopt;
    }
    if (colon == std::string::npos) {
        return "127.0.0.1:" + port;
    }
    unsigned char buf[16];
    const bool v6 = host.size() > 2 && host.front() == '[' && host.back() == ']';
    const int parsed = v6 ? inet_pton(AF_INET6, host.substr(1, host.size() - 2).c_str(), buf)
                          : inet_pton(AF_INET, host.c_str(), buf);
    if (parsed != 1) {
        error = "'" + text + "': the address must be numeric, IPv4 or IPv6 in brackets";
        return std::nullopt;
    }
    return host + ":" + std::to_string(number);
}

// What the server's thread reads: the host's last snapshot, swapped under a lock held only
// for the pointer, and the credentials, which check themselves.
class MetricsExporter::Server {
public:
    explicit Server(const WebConfig& web) : web(web), credentials(web.users) {}
    ~Server() {
        if (daemon != nullptr) {
            MHD_stop_daemon(daemon);  // closes the listening socket too
        }
    }

    void Publish(std::shared_ptr<const std::vector<MuxFigures>> next) {
        std::lock_guard lock(mutex);
        snapshot = std::move(next);
    }

    // Binds `bind` ("host:port" as ParseListenAddress gives it) and starts the thread.
    bool Start(const std::string& bind, std::string& address, std::string& error);

private:
    static MHD_Result Answer(void* self, MHD_Connection* connection, const char* url,
                             const char* method, const char* /*version*/,
                             const char* /*upload*/, std::size_t* /*uploadSize*/,
                             void** /*state*/) {
        return static_cast<Server*>(self)->Answer(connection, url, method);
    }
    static void Log(void* self, const char* format, va_list args) {
        auto* server = static_cast<Server*>(self);
        char line[256];
        std::vsnprintf(line, sizeof line, format, args);
        std::lock_guard lock(server->mutex);
        if (server->startLog.size() < 1024) {
            server->startLog += line;
        }
    }

    MHD_Result Answer(MHD_Connection* connection, const char* url, const char* method);
    std::string Body() const;

    const WebConfig web;
    Credentials credentials;
    MHD_Daemon* daemon = nullptr;
    mutable std::mutex mutex;
    std::shared_ptr<const std::vector<MuxFigures>> snapshot =
        std::make_shared<const std::vector<MuxFigures>>();
    std::string startLog;  // what the library says while starting, for the error line
};

namespace {

// A listening socket for "host:port" (an IPv6 host in brackets), or -1 with `error` set.
int Listen(const std::string& bind, std::string& error) {
    const auto colon = bind.rfind(':');
    std::string host = bind.substr(0, colon);
    if (host.size() > 1 && host.front() == '[') {
        host = host.substr(1, host.size() - 2);
    }
    addrinfo hints{};
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV | AI_PASSIVE;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (const int e = ::getaddrinfo(host.c_str(), bind.c_str() + colon + 1, &hints, &found)) {
        error = bind + ": cannot listen (" + ::gai_strerror(e) + ")";
        return -1;
    }
    std::unique_ptr<addrinfo, void (*)(addrinfo*)> owned(found, ::freeaddrinfo);
    const int fd = ::socket(found->ai_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    const int on = 1;
    if (fd < 0 || ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        ::bind(fd, found->ai_addr, found->ai_addrlen) != 0 || ::listen(fd, SOMAXCONN) != 0) {
        error = bind + ": cannot listen (" + std::strerror(errno) + ")";
        if (fd >= 0) {
            ::close(fd);
        }
        return -1;
    }
    return fd;
}

int BoundPort(int fd) {
    sockaddr_storage address{};
    socklen_t size = sizeof address;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        return 0;
    }
    return ntohs(address.ss_family == AF_INET6
                     ? reinterpret_cast<sockaddr_in6*>(&address)->sin6_port
                     : reinterpret_cast<sockaddr_in*>(&address)->sin_port);
}

// Whether the client takes a gzip body: "gzip" among its codings and not refused by q=0.
bool AcceptsGzip(const char* header) {
    const std::string text = header == nullptr ? "" : header;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = std::min(text.find(',', at), text.size());
        std::string coding = text.substr(at, end - at);
        std::erase(coding, ' ');
        at = end + 1;
        const std::string name = coding.substr(0, coding.find(';'));
        if (name == "gzip") {
            const auto q = coding.find(";q=");
            return q == std::string::npos ||
                   coding.find_first_not_of("0.", q + 3) != std::string::npos;
        }
    }
    return false;
}

// The body gzip-compressed at the fastest level: a thousand MUXes make megabytes of text that
// shrink tenfold, and the time taken is a small part of making the text.
std::optional<std::string> Gzip(const std::string& text) {
    z_stream z{};
    if (deflateInit2(&z, 1, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        return std::nullopt;
    }
    std::string out(deflateBound(&z, text.size()) + 32, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    z.avail_in = static_cast<uInt>(text.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    const int done = deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    if (done != Z_STREAM_END) {
        return std::nullopt;
    }
    return out;
}

MHD_Result Queue(MHD_Connection* connection, unsigned status, std::string body,
                 const char* type, const char* encoding = nullptr) {
    auto* owned = new std::string(std::move(body));
    MHD_Response* response = MHD_create_response_from_buffer_with_free_callback_cls(
        owned->size(), owned->data(), [](void* s) { delete static_cast<std::string*>(s); },
        owned);
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, type);
    if (encoding != nullptr) {
        MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_ENCODING, encoding);
    }
    const MHD_Result queued = MHD_queue_response(connection, status, response);
    MHD_destroy_response(response);
    return queued;
}

}  // namespace

bool MetricsExporter::Server::Start(const std::string& bind, std::string& address,
                                    std::string& error) {
    if (web.Tls() && MHD_is_feature_supported(MHD_FEATURE_TLS) != MHD_YES) {
        error = "this build of libmicrohttpd has no TLS";
        return false;
    }
    const int fd = Listen(bind, error);
    if (fd < 0) {
        return false;
    }
    std::vector<MHD_OptionItem> options{
        {MHD_OPTION_LISTEN_SOCKET, fd, nullptr},
        {MHD_OPTION_CONNECTION_LIMIT, kConnectionLimit, nullptr},
        {MHD_OPTION_CONNECTION_TIMEOUT, kIdleSeconds, nullptr},
        {MHD_OPTION_CONNECTION_MEMORY_LIMIT, static_cast<intptr_t>(kRequestMemory), nullptr},
        {MHD_OPTION_EXTERNAL_LOGGER, reinterpret_cast<intptr_t>(&Server::Log), this},
    };
    if (web.Tls()) {
        options.push_back({MHD_OPTION_HTTPS_MEM_CERT, 0, const_cast<char*>(web.certificate.c_str())});
        options.push_back({MHD_OPTION_HTTPS_MEM_KEY, 0, const_cast<char*>(web.key.c_str())});
        options.push_back(
            {MHD_OPTION_HTTPS_PRIORITIES, 0, const_cast<char*>(web.tlsPriorities.c_str())});
    }
    options.push_back({MHD_OPTION_END, 0, nullptr});
    unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_EPOLL | MHD_USE_ERROR_LOG;
    if (web.Tls()) {
        flags |= MHD_USE_TLS;
    }
    daemon = MHD_start_daemon(flags, 0, nullptr, nullptr, &Server::Answer, this,
                              MHD_OPTION_ARRAY, options.data(), MHD_OPTION_END);
    if (daemon == nullptr) {
        ::close(fd);
        std::lock_guard lock(mutex);
        error = bind + ": cannot serve" +
                (web.Tls() ? " TLS with this certificate and key" : std::string()) +
                (startLog.empty() ? "" : " (" + startLog.substr(0, startLog.find('\n')) + ")");
        return false;
    }
    address = bind.substr(0, bind.rfind(':') + 1) + std::to_string(BoundPort(fd));
    return true;
}

std::string MetricsExporter::Server::Body() const {
    std::shared_ptr<const std::vector<MuxFigures>> taken;
    {
        std::lock_guard lock(mutex);
        taken = snapshot;
    }
    std::string body = prometheus::TextSerializer().Serialize(MetricFamiliesOf(*taken));
    // The families of a thousand MUXes took tens of megabytes in small pieces, all free again
    // now; without this the heap of this thread would keep them between scrapes.
    ::malloc_trim(0);
    return body;
}

MHD_Result MetricsExporter::Server::Answer(MHD_Connection* connection, const char* url,
                                           const char* method) {
    if (credentials.Required()) {
        char* password = nullptr;
        char* user = MHD_basic_auth_get_username_password(connection, &password);
        const bool good = user != nullptr && password != nullptr &&
                          credentials.Check(user, password);
        MHD_free(user);
        MHD_free(password);
        if (!good) {
            auto* body = new std::string("Unauthorized\n");
            MHD_Response* response = MHD_create_response_from_buffer_with_free_callback_cls(
                body->size(), body->data(),
                [](void* s) { delete static_cast<std::string*>(s); }, body);
            const MHD_Result queued =
                MHD_queue_basic_auth_fail_response(connection, "Kestrel metrics", response);
            MHD_destroy_response(response);
            return queued;
        }
    }
    if (std::strcmp(method, "GET") != 0 && std::strcmp(method, "HEAD") != 0) {
        return Queue(connection, MHD_HTTP_METHOD_NOT_ALLOWED, "Only GET and HEAD\n",
                     "text/plain; charset=utf-8");
    }
    if (std::strcmp(url, "/") == 0) {
        return Queue(connection, MHD_HTTP_OK,
                     "<html><head><title>Kestrel</title></head><body><h1>Kestrel</h1>"
                     "<p><a href=\"/metrics\">Metrics</a></p></body></html>\n",
                     "text/html; charset=utf-8");
    }
    if (std::strcmp(url, "/metrics") != 0) {
        return Queue(connection, MHD_HTTP_NOT_FOUND, "Not found: the metrics are at /metrics\n",
                     "text/plain; charset=utf-8");
    }
    constexpr const char* kType = "text/plain; version=0.0.4; charset=utf-8";
    std::string body = Body();
    if (AcceptsGzip(MHD_lookup_connection_value(connection, MHD_HEADER_KIND,
                                                MHD_HTTP_HEADER_ACCEPT_ENCODING))) {
        if (auto packed = Gzip(body)) {
            return Queue(connection, MHD_HTTP_OK, std::move(*packed), kType, "gzip");
        }
    }
    return Queue(connection, MHD_HTTP_OK, std::move(body), kType);
}

std::unique_ptr<MetricsExporter> MetricsExporter::Start(const std::string& listen,
                                                        std::string& error) {
    return Start(listen, WebConfig{}, error);
}

std::unique_ptr<MetricsExporter> MetricsExporter::Start(const std::string& listen,
                                                        const WebConfig& web,
                                                        std::string& error) {
    const auto bind = ParseListenAddress(listen, error);
    if (!bind) {
        return nullptr;
    }
    std::unique_ptr<MetricsExporter> exporter(new MetricsExporter);
    exporter->server = std::make_unique<Server>(web);
    if (!exporter->server->Start(*bind, exporter->address, error)) {
        return nullptr;
    }
    return exporter;
}

MetricsExporter::~MetricsExporter() = default;
void MetricsExporter::Publish(std::vector<MuxFigures> muxes) {
    for (MuxFigures& f : muxes) {
        const auto [it, fresh] = published.try_emplace(f.mux, f);
        if (fresh) {
            continue;
        }
        const MuxFigures& last = it->second;
        f.frames = std::max(f.frames, last.frames);
        f.resyncs = std::max(f.resyncs, last.resyncs);
        f.bytesDropped = std::max(f.bytesDropped, last.bytesDropped);
        for (std::size_t end = 0; end < 2; ++end) {
            f.errors[end] = std::max(f.errors[end], last.errors[end]);
        }
        if (last.g821) {
            if (!f.g821) {
                f.g821 = last.g821;
            }
            for (int object = 0; object < kObjectCount; ++object) {
                Totals& now = (*f.g821)[object];
                const Totals& before = (*last.g821)[object];
                now.es = std::max(now.es, before.es);
                now.ses = std::max(now.ses, before.ses);
                now.uas = std::max(now.uas, before.uas);
                now.dm = std::max(now.dm, before.dm);
                now.available = std::max(now.available, before.available);
                now.minutes = std::max(now.minutes, before.minutes);
            }
        }
        it->second = f;
    }
    server->Publish(std::make_shared<const std::vector<MuxFigures>>(std::move(muxes)));
}

}  // namespace kestrel
