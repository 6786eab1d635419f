// TLS and basic authentication for the metrics endpoint, read from a web configuration file
// in the style the Prometheus exporters use, so an operator's existing files and habits carry
// over:
//
//   tls_server_config:
//     cert_file: metrics.crt      # relative names are taken from the file's own folder
//     key_file: metrics.key
//     min_version: TLS12          # or TLS13; TLS12 when left out
//   basic_auth_users:
//     prometheus: $2y$10$...      # a crypt(3) hash: bcrypt, SHA-256 ($5$), SHA-512, yescrypt
#pragma once

#include <cstddef>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace kestrel {

struct WebConfig {
    // PEM texts, both empty for plain HTTP.
    std::string certificate;
    std::string key;
    // What the TLS library is told to accept (a GnuTLS priority string).
    std::string tlsPriorities;
    // User name to password hash; empty for no authentication.
    std::map<std::string, std::string> users;

    bool Tls() const { return !certificate.empty(); }
};

// The file read and checked whole: every key known, the certificate and key readable, every
// hash of a kind the host's crypt(3) verifies. Empty with `error` set (naming the file and
// the key) otherwise.
std::optional<WebConfig> ReadWebConfig(const std::string& path, std::string& error);

// Checks user names and passwords against the configured hashes. A good hash is slow to
// verify on purpose (bcrypt takes tens of milliseconds), and Prometheus sends the same
// credentials at every scrape, so pairs found good are remembered; wrong ones never are.
// Safe from any thread.
class Credentials {
public:
    explicit Credentials(std::map<std::string, std::string> users) : users(std::move(users)) {}
    bool Required() const { return !users.empty(); }
    bool Check(const std::string& user, const std::string& password);

private:
    static constexpr std::size_t kRemembered = 16;

    const std::map<std::string, std::string> users;
    std::mutex mutex;
    std::deque<std::string> good;  // user '\0' password, newest first
};

}  // namespace kestrel
