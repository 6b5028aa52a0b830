#include "RT_BASSWMA.h"

#include "EntryPointBinding.h"

BASSWMA_ENTRY_POINTS(RT_BIND_DEFINE_POINTER)

void* BASSWMAHandle = nullptr;

namespace {

SharedLibrary& BoundAddOn()
{
    static SharedLibrary library;
    return library;
}

RT_BIND_ENTRY_POINT_FUNCTIONS(BASSWMA_ENTRY_POINTS)

} // namespace

bool LoadBASSWMA(const std::string& folder, const std::string& fileName)
{
    return BindOnce(BASSWMAHandle, folder, fileName, BoundAddOn(), FetchEntryPoints, ClearEntryPoints);
}

void UnloadBASSWMA()
{
    Unbind(BASSWMAHandle, BoundAddOn(), ClearEntryPoints);
}
