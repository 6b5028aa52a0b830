// The library's error reporting. Inside, failures are EngineError exceptions
// carrying a BASS_ERROR_ code; at the C boundary every entry point runs its
// body through Guarded(), which turns success into BASS_OK and any exception
// into its code, so nothing ever crosses the C ABI. The code is kept per
// calling thread, as BASS_ErrorGetCode reports the caller's own last failure.
#pragma once

#include "bass.h"

#include <exception>
#include <utility>

namespace engine {

class EngineError : public std::exception {
public:
    explicit EngineError(DWORD code) : code_(code) {}
    DWORD Code() const noexcept { return code_; }
    const char* what() const noexcept override { return "audio library error"; }

private:
    DWORD code_;
};

[[noreturn]] inline void Fail(DWORD code) { throw EngineError(code); }

void SetLastErrorCode(DWORD code) noexcept;
DWORD LastErrorCode() noexcept;

// Maps the exception in flight to an error code (call only inside a catch).
DWORD CodeOfCurrentException() noexcept;

// Runs body(); on success records BASS_OK and returns its result, on any
// exception records the mapped code and returns failure.
template <typename Result, typename Body>
Result Guarded(Result failure, Body&& body) noexcept {
    try {
        Result result = std::forward<Body>(body)();
        SetLastErrorCode(BASS_OK);
        return result;
    } catch (...) {
        SetLastErrorCode(CodeOfCurrentException());
        return failure;
    }
}

template <typename Body>
void GuardedVoid(Body&& body) noexcept {
    try {
        std::forward<Body>(body)();
        SetLastErrorCode(BASS_OK);
    } catch (...) {
        SetLastErrorCode(CodeOfCurrentException());
    }
}

} // namespace engine
