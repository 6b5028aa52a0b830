// A locale whose decimal separator is a comma (German), built with
// localedef the first time a test asks for it and kept in the build's
// program folder for the test programs that follow, so that tests can run
// under it on a machine that has only the C locale installed. Header only;
// any test program may include it.
#pragma once

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "support/TestSupport.h"

namespace testsupport {

inline constexpr const char* kCommaLocale = "de_DE.UTF-8";

// Makes kCommaLocale loadable by setlocale (LOCPATH points at the folder it
// was built in). False when localedef is missing or fails.
inline bool PrepareCommaLocale()
{
    namespace fs = std::filesystem;
    static int ready = -1;
    if (ready >= 0)
        return ready == 1;
    const fs::path folder = fs::path(BinFolder()) / "test-locales";
    const fs::path built = folder / kCommaLocale;
    std::error_code error;
    if (!fs::exists(built / "LC_NUMERIC", error)) {
        // Built under a name of its own and renamed into place, so that test
        // programs running at the same time never load half a locale.
        fs::create_directories(folder, error);
        const fs::path partial = folder / ("partial-" + std::to_string(::getpid()));
        Run("localedef -i de_DE -f UTF-8 " + Quote(partial.string()) + " 2>&1");
        if (fs::exists(partial / "LC_NUMERIC", error))
            fs::rename(partial, built, error);  // another program may have been first
        fs::remove_all(partial, error);
    }
    ready = fs::exists(built / "LC_NUMERIC", error) ? 1 : 0;
    if (ready == 1)
        ::setenv("LOCPATH", folder.c_str(), 1);
    return ready == 1;
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
