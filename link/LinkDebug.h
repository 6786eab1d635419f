// Debug channel of the serial link: one line per event on stderr, silent unless enabled.
#pragma once

namespace kestrel {

// True when the environment variable KESTREL_DEBUG is set to anything but "" or "0".
bool LinkDebugEnabled();

// printf-style; adds the "kestrel-link: " prefix and the line end. Does nothing when disabled.
void LinkDebug(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace kestrel
