// Temporary folders, whole files and their lines for the tests.
#pragma once

#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace kestrel::test {

// A fresh folder under the system's temporary directory, removed with everything in it.
class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "kestrel-test-XXXXXX");
        if (mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("mkdtemp failed");
        }
        path = pattern;
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string operator/(const std::string& name) const { return (path / name).string(); }
    std::filesystem::path path;
};

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// Reads of `input` as a pipe may give them: 1, 2, ... up to `most` bytes, then 1 again.
inline std::function<long(char*, std::size_t)> ReaderOf(std::string input, std::size_t most) {
    std::size_t pos = 0, turn = 0;
    return [input, most, pos, turn](char* to, std::size_t size) mutable {
        const std::size_t n = std::min({size, input.size() - pos, 1 + turn++ % most});
        std::copy_n(input.data() + pos, n, to);
        pos += n;
        return static_cast<long>(n);
    };
}

inline std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// What `command` prints on its standard output.
inline std::string Output(const std::string& command) {
    std::string out;
    if (FILE* p = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, p)) > 0;) {
            out.append(buffer, n);
        }
        ::pclose(p);
    }
    return out;
}

// The rows the sqlite3 program prints for `sql` on a database, their fields between blanks;
// none where the program is not installed.
inline std::vector<std::string> Sqlite(const std::string& db, const std::string& sql) {
    return Lines(Output("sqlite3 -separator ' ' '" + db + "' \"" + sql + "\" 2>/dev/null"));
}

}  // namespace kestrel::test
