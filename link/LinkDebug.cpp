// Debug channel of the serial link.
#include "link/LinkDebug.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace kestrel {

bool LinkDebugEnabled() {
    static const bool enabled = [] {
        const char* v = std::getenv("KESTREL_DEBUG");
        return v != nullptr && *v != '\0' && std::strcmp(v, "0") != 0;
    }();
    return enabled;
}

void LinkDebug(const char* format, ...) {
    if (!LinkDebugEnabled()) {
        return;
    }
    // Formatted into one buffer and written with one call, so that lines from both threads
    // never interleave.
    char line[512];
    int n = std::snprintf(line, sizeof line, "kestrel-link: ");
    va_list args;
    va_start(args, format);
    int m = std::vsnprintf(line + n, sizeof line - static_cast<size_t>(n) - 1, format, args);
    va_end(args);
    size_t len = static_cast<size_t>(n) + (m < 0 ? 0 : static_cast<size_t>(m));
    if (len > sizeof line - 2) {
        len = sizeof line - 2;
    }
    line[len++] = '\n';
    std::fwrite(line, 1, len, stderr);
}

}  // namespace kestrel
