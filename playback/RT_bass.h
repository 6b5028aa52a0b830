// Run-time binding of the audio library (libbass.so). LoadBASS opens the
// library and fetches every one of its entry points by name into the
// function-pointer variables below, named exactly as the exports; the
// library is accepted only when all of them are found. Each pointer is null
// while the library is not bound. Load and unload run on the main thread;
// the player component is their only caller.
#pragma once

#include <string>

#define BASS_NO_PROTOTYPES
#include "bass.h"

// Hidden: these data names equal the library's function names, and must
// never be seen by the dynamic linker when it resolves the library itself.
#define RT_BASS_HIDDEN __attribute__((visibility("hidden")))

#define RT_BASS_DECLARE_POINTER(ret, name, params, fail) extern RT_BASS_HIDDEN ret(BASSDEF* name) params;
BASS_ENTRY_POINTS(RT_BASS_DECLARE_POINTER)
#undef RT_BASS_DECLARE_POINTER

// The module handle of the bound library; null while it is not loaded.
extern RT_BASS_HIDDEN void* BASSHandle;

// Binds folder + "/" + fileName (one "/" only, whether or not folder ends
// with it). Returns true at once when a library is already bound, whatever
// the arguments. False, with nothing kept, when the file is missing, is not
// a loadable module or lacks any one entry point. Never shows anything.
bool LoadBASS(const std::string& folder, const std::string& fileName);

// Calls BASS_Free, then releases the library and clears every pointer.
// Does nothing when no library is bound.
void UnloadBASS();
