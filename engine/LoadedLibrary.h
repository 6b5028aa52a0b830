// LoadedLibrary: a shared library the audio library binds only when it is
// first needed, so that a program that never needs it does not pay for
// loading it and everything it links. A command-line run on the silent
// output never loads SDL (with its sound servers and window systems); a
// program that plays only MP3 never loads the tracker-music, PCM-file or
// Ogg Vorbis libraries.
//
// Each user keeps one instance in a function-local static, so the library
// is bound once per process, on whichever thread first needs it, and stays
// mapped until the process ends.
#pragma once

namespace engine {

class LoadedLibrary {
public:
    explicit LoadedLibrary(const char* soname);
    ~LoadedLibrary();
    LoadedLibrary(const LoadedLibrary&) = delete;
    LoadedLibrary& operator=(const LoadedLibrary&) = delete;

    // The address of `name` as a pointer to Function; null when the library
    // or the name is missing.
    template <typename Function>
    Function* Get(const char* name) const {
        return reinterpret_cast<Function*>(Symbol(name));
    }

private:
    void* Symbol(const char* name) const;

    void* handle_;
};

} // namespace engine

// Binds the function `name` of `library` with the type its header declares.
#define ENGINE_BIND(library, name) (library).Get<decltype(name)>(#name)
