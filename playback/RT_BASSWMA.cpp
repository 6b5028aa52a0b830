#include "RT_BASSWMA.h"

#include "SharedLibrary.h"

#define RT_BASSWMA_DEFINE_POINTER(ret, name, params, fail) ret(BASSDEF* name) params = nullptr;
BASSWMA_ENTRY_POINTS(RT_BASSWMA_DEFINE_POINTER)
#undef RT_BASSWMA_DEFINE_POINTER

void* BASSWMAHandle = nullptr;

namespace {

SharedLibrary& BoundAddOn()
{
    static SharedLibrary library;
    return library;
}

bool FetchEntryPoints(const SharedLibrary& library)
{
    bool complete = true;
#define RT_BASSWMA_FETCH(ret, name, params, fail) \
    name = reinterpret_cast<ret(BASSDEF*) params>(library.Symbol(#name)); \
    complete = complete && name != nullptr;
    BASSWMA_ENTRY_POINTS(RT_BASSWMA_FETCH)
#undef RT_BASSWMA_FETCH
    return complete;
}

void ClearEntryPoints()
{
#define RT_BASSWMA_CLEAR(ret, name, params, fail) name = nullptr;
    BASSWMA_ENTRY_POINTS(RT_BASSWMA_CLEAR)
#undef RT_BASSWMA_CLEAR
}

} // namespace

bool LoadBASSWMA(const std::string& folder, const std::string& fileName)
{
    if (BASSWMAHandle)
        return true;
    BASSWMAHandle = BindAllOrNothing(JoinLibraryPath(folder, fileName), BoundAddOn(), FetchEntryPoints, ClearEntryPoints);
    return BASSWMAHandle != nullptr;
}

void UnloadBASSWMA()
{
    if (!BASSWMAHandle)
        return;
    ClearEntryPoints();
    BASSWMAHandle = nullptr;
    BoundAddOn().Release();
}
