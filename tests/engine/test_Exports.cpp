// The built libraries as a program binding them by name sees them: every
// listed entry point exported, the version, and the "not available" ones
// failing with their listed failure value and BASS_ERROR_NOTAVAIL.

#include "basswma.h"
#include "support/TestSupport.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <type_traits>

namespace {

struct Library {
    explicit Library(const std::string& path) : handle(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) {}
    ~Library() {
        if (handle)
            dlclose(handle);
    }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;
    void* handle;
};

const std::set<std::string> kAvailable = {
    "BASS_GetVersion", "BASS_GetDeviceDescription", "BASS_SetBufferLength", "BASS_SetGlobalVolumes",
    "BASS_GetGlobalVolumes", "BASS_ErrorGetCode", "BASS_Init", "BASS_Free", "BASS_GetInfo", "BASS_Start",
    "BASS_MusicLoad", "BASS_MusicFree", "BASS_MusicGetName", "BASS_MusicGetLength", "BASS_MusicPlay",
    "BASS_StreamCreateFile", "BASS_StreamFree", "BASS_StreamGetLength", "BASS_StreamPlay", "BASS_ChannelGetFlags",
    "BASS_ChannelStop", "BASS_ChannelPause", "BASS_ChannelResume", "BASS_ChannelSetPosition",
    "BASS_ChannelGetPosition", "BASS_ChannelSetSync", "BASS_ChannelRemoveSync", "BASS_ChannelIsActive",
    "BASS_ChannelBytes2Seconds", "BASS_ChannelSeconds2Bytes", "BASS_ChannelGetData", "BASS_WMA_StreamCreateFile",
    "BASS_WMA_ChannelSetSync"};

template <typename Result, typename... Args, typename Expected>
void ExpectNotAvailable(const char* name, Result (*function)(Args...), Expected expected) {
    SCOPED_TRACE(name);
    BASS_GetVersion();  // leaves BASS_OK behind
    ASSERT_EQ(BASS_ErrorGetCode(), DWORD{BASS_OK});
    if constexpr (std::is_void_v<Result>) {
        function(Args{}...);
    } else if constexpr (std::is_pointer_v<Result>) {
        EXPECT_EQ(expected(), 0);
        EXPECT_EQ(function(Args{}...), nullptr);
    } else {
        const Result result = function(Args{}...);
        EXPECT_EQ(result, static_cast<Result>(expected()));
    }
    EXPECT_EQ(BASS_ErrorGetCode(), DWORD{BASS_ERROR_NOTAVAIL});
}

} // namespace

TEST(EngineExports, EveryListedNameIsExportedInTheBuiltFiles) {
    Library bass(testsupport::BinFolder() + "libbass.so");
    ASSERT_NE(bass.handle, nullptr) << dlerror();
    void* library = bass.handle;
    int count = 0;
#define CHECK_EXPORT(ret, name, params, fail) \
    EXPECT_NE(dlsym(library, #name), nullptr) << #name; \
    ++count;
    BASS_ENTRY_POINTS(CHECK_EXPORT)
    EXPECT_EQ(count, 107);

    Library wma(testsupport::BinFolder() + "libbasswma.so");
    ASSERT_NE(wma.handle, nullptr) << dlerror();
    library = wma.handle;
    count = 0;
    BASSWMA_ENTRY_POINTS(CHECK_EXPORT)
#undef CHECK_EXPORT
    EXPECT_EQ(count, 12);

    // Internal C++ names stay inside.
    EXPECT_EQ(dlsym(bass.handle, "_ZN6engine6Engine8InstanceEv"), nullptr);
}

TEST(EngineExports, VersionIsOnePointEight) {
    const DWORD version = BASS_GetVersion();
    EXPECT_EQ(version & 0xFFFF, 1u);
    EXPECT_EQ(version >> 16, 8u);
}

TEST(EngineExports, UnavailableEntryPointsFailWithTheirListedValue) {
    int checked = 0;
#define CHECK_STUB(ret, name, params, fail) \
    if (!kAvailable.count(#name)) { \
        ExpectNotAvailable(#name, &name, [] { return fail; }); \
        ++checked; \
    }
    BASS_ENTRY_POINTS(CHECK_STUB)
    EXPECT_EQ(checked, 107 - 31);
    checked = 0;
    BASSWMA_ENTRY_POINTS(CHECK_STUB)
#undef CHECK_STUB
    EXPECT_EQ(checked, 10);
}
