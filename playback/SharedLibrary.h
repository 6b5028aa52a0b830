// SharedLibrary: owns one module opened with dlopen and closes it when it
// goes. Opening never shows anything and never throws: a missing file or one
// that is not a loadable module leaves the object empty. Main thread only.
#pragma once

#include <string>
#include <utility>

class SharedLibrary {
public:
    SharedLibrary() = default;
    explicit SharedLibrary(const std::string& path);
    ~SharedLibrary();
    SharedLibrary(const SharedLibrary&) = delete;
    SharedLibrary& operator=(const SharedLibrary&) = delete;
    SharedLibrary(SharedLibrary&& other) noexcept;
    SharedLibrary& operator=(SharedLibrary&& other) noexcept;

    bool IsLoaded() const { return handle_ != nullptr; }
    // The module handle as dlopen gave it; null when nothing is loaded.
    void* Handle() const { return handle_; }
    // Address of an exported name; null when absent or nothing is loaded.
    void* Symbol(const char* name) const;
    void Release();

private:
    void* handle_ = nullptr;
};

// The library path: folder, then "/" unless the folder already ends with
// one, then the file name.
std::string JoinLibraryPath(const std::string& folder, const std::string& fileName);

// Binds a library all or nothing: loads path, lets fetch store every entry
// point (fetch answers whether all were found) and, on success, moves the
// module into owner and returns its handle. On failure clear() forgets
// whatever fetch stored, the module is released and the result is null.
template <class Fetch, class Clear>
void* BindAllOrNothing(const std::string& path, SharedLibrary& owner, Fetch fetch, Clear clear)
{
    SharedLibrary library(path);
    if (!library.IsLoaded())
        return nullptr;
    if (!fetch(library)) {
        clear();
        return nullptr;
    }
    void* handle = library.Handle();
    owner = std::move(library);
    return handle;
}
