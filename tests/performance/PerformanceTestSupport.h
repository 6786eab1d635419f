// Helpers of the line memory tests: time zones, frames from letters, temporary folders.
#pragma once

#include <stdlib.h>
#include <time.h>

#include <filesystem>
#include <string>

#include "performance/Figures.h"

namespace kestrel::test {

// Sets TZ for the life of the object.
class ZoneGuard {
public:
    explicit ZoneGuard(const char* zone) {
        if (const char* old = getenv("TZ"))
            saved = old;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ZoneGuard() {
        if (saved.empty())
            unsetenv("TZ");
        else
            setenv("TZ", saved.c_str(), 1);
        tzset();
    }

private:
    std::string saved;
};

// One second of the near end by letter: '.' clean, 'e' count 1, 'f' count 15 (errored,
// not severe), 'S' count 16 (severe), 'D' loss of signal. Everything else is clean.
inline FrameSecond NearSecond(char c) {
    FrameSecond f;
    f.nearCount = c == 'e' ? 1 : c == 'f' ? 15 : c == 'S' ? 16 : 0;
    f.nearDefect = c == 'D';
    f.alarms = c == 'D' ? 1 : 0;
    f.remoteTribsDecoded = c != 'D';
    return f;
}

struct TempFolder {
    TempFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "kestrel-perf-XXXXXX");
        path = mkdtemp(pattern.data());
    }
    ~TempFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
    std::string File(const std::string& name) const { return path + "/" + name; }
    std::string path;
};

}  // namespace kestrel::test
