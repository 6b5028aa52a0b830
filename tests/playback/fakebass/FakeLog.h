// The call log of the test doubles of the audio library: one line per call,
// appended to the file named by FAKEBASS_LOG (nothing when it is unset).
#pragma once

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

namespace fakebass {

inline void Log(const std::string& line)
{
    if (const char* path = std::getenv("FAKEBASS_LOG")) {
        std::ofstream out(path, std::ios::app);
        out << line << '\n';
    }
}

inline bool Knob(const char* name)
{
    const char* value = std::getenv(name);
    return value && *value && std::string(value) != "0";
}

inline long long KnobValue(const char* name, long long fallback)
{
    const char* value = std::getenv(name);
    return value && *value ? std::strtoll(value, nullptr, 0) : fallback;
}

} // namespace fakebass
