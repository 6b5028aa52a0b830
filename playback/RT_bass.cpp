#include "RT_bass.h"

#include "SharedLibrary.h"

#define RT_BASS_DEFINE_POINTER(ret, name, params, fail) ret(BASSDEF* name) params = nullptr;
BASS_ENTRY_POINTS(RT_BASS_DEFINE_POINTER)
#undef RT_BASS_DEFINE_POINTER

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

// Stores every address, found or not, in list order; true when all were found.
bool FetchEntryPoints(const SharedLibrary& library)
{
    bool complete = true;
#define RT_BASS_FETCH(ret, name, params, fail) \
    name = reinterpret_cast<ret(BASSDEF*) params>(library.Symbol(#name)); \
    complete = complete && name != nullptr;
    BASS_ENTRY_POINTS(RT_BASS_FETCH)
#undef RT_BASS_FETCH
    return complete;
}

void ClearEntryPoints()
{
#define RT_BASS_CLEAR(ret, name, params, fail) name = nullptr;
    BASS_ENTRY_POINTS(RT_BASS_CLEAR)
#undef RT_BASS_CLEAR
}

} // namespace

bool LoadBASS(const std::string& folder, const std::string& fileName)
{
    if (BASSHandle)
        return true;
    BASSHandle = BindAllOrNothing(JoinLibraryPath(folder, fileName), BoundLibrary(), FetchEntryPoints, ClearEntryPoints);
    return BASSHandle != nullptr;
}

void UnloadBASS()
{
    if (!BASSHandle)
        return;
    if (BASS_Free)
        BASS_Free();
    ClearEntryPoints();
    BASSHandle = nullptr;
    BoundLibrary().Release();
}
