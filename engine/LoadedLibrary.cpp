#include "LoadedLibrary.h"

#include <dlfcn.h>

namespace engine {

LoadedLibrary::LoadedLibrary(const char* soname) : handle_(dlopen(soname, RTLD_NOW | RTLD_LOCAL)) {}

LoadedLibrary::~LoadedLibrary() {
    if (handle_)
        dlclose(handle_);
}

void* LoadedLibrary::Symbol(const char* name) const { return handle_ ? dlsym(handle_, name) : nullptr; }

} // namespace engine
