// A locale whose decimal separator is a comma (German), built with
// localedef into a temporary folder the first time it is asked for, so
// that tests can run under it on a machine that has only the C locale
// installed. Header only; any test program may include it.
#pragma once

#include <clocale>
#include <cstdlib>
#include <memory>
#include <string>

#include "support/TestSupport.h"

namespace testsupport {

inline constexpr const char* kCommaLocale = "de_DE.UTF-8";

// Makes kCommaLocale loadable by setlocale (LOCPATH points at the folder it
// was built in). False when localedef is missing or fails.
inline bool PrepareCommaLocale()
{
    static std::unique_ptr<TempDir> folder;
    static bool ready = false;
    if (folder)
        return ready;
    folder = std::make_unique<TempDir>();
    const auto made = Run("localedef -i de_DE -f UTF-8 " + Quote(folder->File(kCommaLocale)) + " 2>&1");
    // localedef warns (exit 1) about some locale sources and still writes them.
    ready = (made.exitCode == 0 || made.exitCode == 1) && std::filesystem::exists(folder->File(kCommaLocale));
    if (ready)
        ::setenv("LOCPATH", folder->Path().c_str(), 1);
    return ready;
}

// Switches the whole process to locale (every category) for its lifetime
// and back to the one before afterwards. Active() is false when the locale
// could not be switched to.
class ScopedLocale {
public:
    explicit ScopedLocale(const char* locale)
    {
        const char* current = std::setlocale(LC_ALL, nullptr);
        previous_ = current ? current : "C";
        active_ = std::setlocale(LC_ALL, locale) != nullptr;
    }
    ~ScopedLocale() { std::setlocale(LC_ALL, previous_.c_str()); }
    ScopedLocale(const ScopedLocale&) = delete;
    ScopedLocale& operator=(const ScopedLocale&) = delete;

    bool Active() const { return active_; }

private:
    std::string previous_;
    bool active_ = false;
};

} // namespace testsupport
