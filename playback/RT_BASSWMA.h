// Run-time binding of the WMA add-on (libbasswma.so), in the same way as
// RT_bass.h binds the library: twelve function pointers named as the
// exports, all or nothing, null while unbound. Main thread only.
#pragma once

#include <string>

#include "RT_bass.h"
#include "basswma.h"

#define RT_BASSWMA_DECLARE_POINTER(ret, name, params, fail) extern RT_BASS_HIDDEN ret(BASSDEF* name) params;
BASSWMA_ENTRY_POINTS(RT_BASSWMA_DECLARE_POINTER)
#undef RT_BASSWMA_DECLARE_POINTER

// The module handle of the bound add-on; null while it is not loaded.
extern RT_BASS_HIDDEN void* BASSWMAHandle;

// Binds folder + "/" + fileName; true at once when already bound; false,
// with nothing kept, when the file is missing, unloadable or incomplete.
bool LoadBASSWMA(const std::string& folder, const std::string& fileName);

// Releases the add-on and clears its pointers; nothing when unbound.
void UnloadBASSWMA();
