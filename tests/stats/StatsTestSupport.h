// Helpers shared by the statistics tests: temporary folders, file contents, fixed times.
#pragma once

#include <gtest/gtest.h>

#include <clocale>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

namespace kestrel::test {

// A fresh folder under the system's temporary directory, removed with everything in it.
class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "kestrel-stats-XXXXXX");
        if (mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("mkdtemp failed");
        }
        path = pattern;
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
    std::string operator/(const std::string& name) const { return (path / name).string(); }
    std::filesystem::path path;
};

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// Calendar time of a local date and time, as the clock of the monitor would give it.
inline std::time_t LocalTime(int year, int month, int day, int hour, int min, int sec) {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = min;
    tm.tm_sec = sec;
    tm.tm_isdst = -1;
    return std::mktime(&tm);
}

// Switches the whole C library to a locale for the scope; the user interface does the same
// with the user's locale. Reports whether the locale exists on this machine.
class ScopedLocale {
public:
    explicit ScopedLocale(const char* name) {
        previous = std::setlocale(LC_ALL, nullptr);
        ok = std::setlocale(LC_ALL, name) != nullptr;
    }
    ~ScopedLocale() { std::setlocale(LC_ALL, previous.c_str()); }
    bool ok = false;

private:
    std::string previous;
};

// A locale with a decimal comma and its own date and time order, when installed.
inline constexpr const char* kUserLocale = "de_DE.UTF-8";

}  // namespace kestrel::test
