#include "RT_bass.h"

#include "EntryPointBinding.h"

BASS_ENTRY_POINTS(RT_BIND_DEFINE_POINTER)

void* BASSHandle = nullptr;

namespace {

// Releases the output at process exit when a caller forgot to unload: a
// module must not be unmapped under its own running mixing thread.
struct BoundModule {
    SharedLibrary library;
    ~BoundModule()
    {
        if (library.IsLoaded() && BASS_Free)
            BASS_Free();
    }
};

SharedLibrary& BoundLibrary()
{
    static BoundModule module;
    return module.library;
}

RT_BIND_ENTRY_POINT_FUNCTIONS(BASS_ENTRY_POINTS)

} // namespace

bool LoadBASS(const std::string& folder, const std::string& fileName)
{
    return BindOnce(BASSHandle, folder, fileName, BoundLibrary(), FetchEntryPoints, ClearEntryPoints);
}

void UnloadBASS()
{
    if (BASSHandle && BASS_Free)
        BASS_Free();
    Unbind(BASSHandle, BoundLibrary(), ClearEntryPoints);
}
