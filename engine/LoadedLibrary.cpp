#include "LoadedLibrary.h"

#include <dlfcn.h>

namespace engine {

// Never unmapped: the engine's own exit-time cleanup (a program that ends
// without BASS_Free) releases decoders after this object is gone, and their
// code must still be there.
LoadedLibrary::LoadedLibrary(const char* soname) : handle_(dlopen(soname, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE)) {}

LoadedLibrary::~LoadedLibrary() {
    if (handle_)
        dlclose(handle_);
}

void* LoadedLibrary::Symbol(const char* name) const { return handle_ ? dlsym(handle_, name) : nullptr; }

} // namespace engine
