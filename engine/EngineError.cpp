#include "EngineError.h"

#include <new>

namespace engine {

namespace {
thread_local DWORD lastErrorCode = BASS_OK;
}

void SetLastErrorCode(DWORD code) noexcept { lastErrorCode = code; }

DWORD LastErrorCode() noexcept { return lastErrorCode; }

DWORD CodeOfCurrentException() noexcept {
    try {
        throw;
    } catch (const EngineError& error) {
        return error.Code();
    } catch (const std::bad_alloc&) {
        return BASS_ERROR_MEM;
    } catch (...) {
        return BASS_ERROR_UNKNOWN;
    }
}

} // namespace engine
