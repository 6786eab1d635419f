// Switches the whole C library to a locale for a scope, as the user interface does with the
// user's locale: what the program writes and reads must not follow it.
#pragma once

#include <clocale>
#include <string>

namespace kestrel::test {

class ScopedLocale {
public:
    // ok tells whether the locale exists on this machine.
    explicit ScopedLocale(const char* name) : previous(std::setlocale(LC_ALL, nullptr)) {
        ok = std::setlocale(LC_ALL, name) != nullptr;
    }
    ~ScopedLocale() { std::setlocale(LC_ALL, previous.c_str()); }
    ScopedLocale(const ScopedLocale&) = delete;
    ScopedLocale& operator=(const ScopedLocale&) = delete;
    bool ok = false;

private:
    std::string previous;
};

// A locale with a decimal comma and its own date and time order, when installed.
inline constexpr const char* kUserLocale = "de_DE.UTF-8";

}  // namespace kestrel::test
