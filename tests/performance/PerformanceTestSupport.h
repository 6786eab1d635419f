// Helpers of the line memory tests: time zones and frames from letters.
#pragma once

#include <stdlib.h>
#include <time.h>

#include <string>

#include "performance/Figures.h"
#include "tests/TestFiles.h"

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

}  // namespace kestrel::test
