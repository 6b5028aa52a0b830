#include "SharedLibrary.h"

#include <dlfcn.h>

#include <utility>

SharedLibrary::SharedLibrary(const std::string& path)
{
    // RTLD_NOW: a module with an unresolvable dependency fails here, not at
    // its first call. RTLD_LOCAL keeps its names out of later lookups.
    handle_ = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
}

SharedLibrary::~SharedLibrary()
{
    Release();
}

SharedLibrary::SharedLibrary(SharedLibrary&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}

SharedLibrary& SharedLibrary::operator=(SharedLibrary&& other) noexcept
{
    if (this != &other) {
        Release();
        handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
}

void* SharedLibrary::Symbol(const char* name) const
{
    return handle_ ? ::dlsym(handle_, name) : nullptr;
}

void SharedLibrary::Release()
{
    if (handle_)
        ::dlclose(std::exchange(handle_, nullptr));
}

std::string JoinLibraryPath(const std::string& folder, const std::string& fileName)
{
    if (!folder.empty() && folder.back() == '/')
        return folder + fileName;
    return folder + "/" + fileName;
}
