// Reading the metrics endpoint's web configuration and checking passwords against it.
#include "metrics/WebConfig.h"

#include <crypt.h>
#include <yaml-cpp/yaml.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <set>

#include "files/RegularFile.h"

namespace kestrel {

namespace {

// A web configuration, a certificate chain or a key is a few kilobytes; anything this large
// is the wrong file.
constexpr std::size_t kMaxFileBytes = 1 << 20;

bool KnownKeys(const YAML::Node& map, const std::set<std::string>& known, const std::string& where,
               std::string& error) {
    for (const auto& entry : map) {
        const std::string key = entry.first.as<std::string>();
        if (!known.contains(key)) {
            std::string list;
            for (const std::string& k : known) {
                list += (list.empty() ? "" : ", ") + k;
            }
            error = where + "unknown key '" + key + "' (" + list + ")";
            return false;
        }
    }
    return true;
}

std::optional<std::string> ReadPem(const std::filesystem::path& base, const YAML::Node& value,
                                   const std::string& what, std::string& error) {
    if (!value || !value.IsScalar() || value.as<std::string>().empty()) {
        error = "tls_server_config: " + what + " is needed";
        return std::nullopt;
    }
    std::filesystem::path path = value.as<std::string>();
    if (path.is_relative()) {
        path = base / path;
    }
    RegularFile in(path.string(), kMaxFileBytes);
    std::string text;
    if (!in.ReadAll(text)) {
        error = "tls_server_config: " + what + " " + path.string() + " " + in.Fault();
        return std::nullopt;
    }
    if (text.find("-----BEGIN ") == std::string::npos) {
        error = "tls_server_config: " + what + " " + path.string() + ": no PEM text in it";
        return std::nullopt;
    }
    return text;
}

bool ReadTls(const std::filesystem::path& base, const YAML::Node& tls, WebConfig& config,
             std::string& error) {
    if (!tls.IsMap()) {
        error = "tls_server_config: expected keys under it";
        return false;
    }
    if (!KnownKeys(tls, {"cert_file", "key_file", "min_version", "client_auth_type"},
                   "tls_server_config: ", error)) {
        return false;
    }
    // Client certificates are the one part of the exporters' TLS settings not served here:
    // saying so beats accepting every client while the file asks for them to be verified.
    if (tls["client_auth_type"] && tls["client_auth_type"].as<std::string>() != "NoClientCert") {
        error = "tls_server_config: client_auth_type: only NoClientCert is supported";
        return false;
    }
    const auto certificate = ReadPem(base, tls["cert_file"], "cert_file", error);
    const auto key = certificate ? ReadPem(base, tls["key_file"], "key_file", error) : std::nullopt;
    if (!key) {
        return false;
    }
    config.certificate = *certificate;
    config.key = *key;
    const std::string minimum = tls["min_version"] ? tls["min_version"].as<std::string>() : "TLS12";
    if (minimum == "TLS12") {
        config.tlsPriorities = "NORMAL:-VERS-ALL:+VERS-TLS1.3:+VERS-TLS1.2";
    } else if (minimum == "TLS13") {
        config.tlsPriorities = "NORMAL:-VERS-ALL:+VERS-TLS1.3";
    } else {
        error = "tls_server_config: min_version '" + minimum + "': expected TLS12 or TLS13";
        return false;
    }
    return true;
}

bool ReadUsers(const YAML::Node& users, WebConfig& config, std::string& error) {
    if (!users.IsMap()) {
        error = "basic_auth_users: expected user: hash lines under it";
        return false;
    }
    for (const auto& entry : users) {
        const std::string user = entry.first.as<std::string>();
        const std::string hash = entry.second.IsScalar() ? entry.second.as<std::string>() : "";
        // Only hashes that are salted and made for passwords: the old DES and MD5 kinds, or a
        // password written in clear, are refused rather than quietly accepted.
        const int kind = crypt_checksalt(hash.c_str());
        if (user.empty() || user.find(':') != std::string::npos ||
            (kind != CRYPT_SALT_OK && kind != CRYPT_SALT_TOO_CHEAP) || hash.rfind("$1$", 0) == 0) {
            error = "basic_auth_users: " + user +
                    ": expected a name without ':' and a bcrypt, SHA-256, SHA-512 or yescrypt "
                    "hash";
            return false;
        }
        config.users[user] = hash;
    }
    return true;
}

}  // namespace

std::optional<WebConfig> ReadWebConfig(const std::string& path, std::string& error) {
    WebConfig config;
    try {
        RegularFile in(path, kMaxFileBytes);
        std::string text;
        if (!in.ReadAll(text)) {
            error = path + " " + in.Fault();
            return std::nullopt;
        }
        const YAML::Node root = YAML::Load(text);
        const auto base = std::filesystem::path(path).parent_path();
        bool ok = root.IsNull() || root.IsMap();
        if (!ok) {
            error = "expected keys at the top";
        }
        ok = ok && (root.IsNull() ||
                    KnownKeys(root, {"tls_server_config", "basic_auth_users"}, "", error));
        ok = ok && (!root["tls_server_config"] || ReadTls(base, root["tls_server_config"], config, error));
        ok = ok && (!root["basic_auth_users"] || ReadUsers(root["basic_auth_users"], config, error));
        if (!ok) {
            error = path + ": " + error;
            return std::nullopt;
        }
    } catch (const YAML::Exception& e) {
        error = path + ": " + e.what();
        return std::nullopt;
    }
    return config;
}

bool Credentials::Check(const std::string& user, const std::string& password) {
    const auto it = users.find(user);
    if (it == users.end() || password.find('\0') != std::string::npos) {
        return false;
    }
    std::string pair = user;
    pair.push_back('\0');
    pair += password;
    {
        std::lock_guard lock(mutex);
        if (std::find(good.begin(), good.end(), pair) != good.end()) {
            return true;
        }
    }
    auto data = std::make_unique<crypt_data>();  // 32 kB: not for the stack
    const char* result = crypt_rn(password.c_str(), it->second.c_str(), data.get(), sizeof *data);
    const std::string& hash = it->second;
    // Compared in full whatever differs, so the time taken tells nothing of the hash.
    bool same = result != nullptr && std::char_traits<char>::length(result) == hash.size();
    unsigned char differ = 0;
    for (std::size_t i = 0; same && i < hash.size(); ++i) {
        differ |= static_cast<unsigned char>(result[i] ^ hash[i]);
    }
    same = same && differ == 0;
    if (same) {
        std::lock_guard lock(mutex);
        good.push_front(std::move(pair));
        if (good.size() > kRemembered) {
            good.pop_back();
        }
    }
    return same;
}

}  // namespace kestrel
