// The run-time binding of the audio library and its add-on, against the
// test doubles in bin/variants/ and the real libraries beside the program.
#include "playback/RT_BASSWMA.h"
#include "playback/RT_bass.h"
#include "playback/SharedLibrary.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>

using testsupport::BinFolder;
using testsupport::TempDir;

namespace {

std::string Variant(const std::string& name)
{
    return BinFolder() + "variants/" + name;
}

int BoundBassPointers()
{
    int bound = 0;
#define COUNT_BOUND(ret, name, params, fail) bound += name != nullptr;
    BASS_ENTRY_POINTS(COUNT_BOUND)
#undef COUNT_BOUND
    return bound;
}

int BoundWmaPointers()
{
    int bound = 0;
#define COUNT_BOUND(ret, name, params, fail) bound += name != nullptr;
    BASSWMA_ENTRY_POINTS(COUNT_BOUND)
#undef COUNT_BOUND
    return bound;
}

class BindingTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("FAKEBASS_LOG", log.File("calls.log").c_str(), 1);
    }
    void TearDown() override
    {
        UnloadBASSWMA();
        UnloadBASS();
        unsetenv("FAKEBASS_LOG");
    }
    std::string Calls() const
    {
        std::error_code error;
        return std::filesystem::exists(log.File("calls.log"), error) ? testsupport::ReadText(log.File("calls.log"))
                                                                     : std::string();
    }
    TempDir log;
};

} // namespace

TEST(LibraryPath, JoinsFolderAndNameWithExactlyOneSlash)
{
    EXPECT_EQ(JoinLibraryPath("/opt/corvella/bin/", "libbass.so"), "/opt/corvella/bin/libbass.so");
    EXPECT_EQ(JoinLibraryPath("/opt/corvella/bin", "libbass.so"), "/opt/corvella/bin/libbass.so");
    EXPECT_EQ(JoinLibraryPath("/", "libbass.so"), "/libbass.so");
}

TEST_F(BindingTest, RealLibraryAndAddOnAreAccepted)
{
    ASSERT_TRUE(std::filesystem::exists(BinFolder() + "libbass.so")) << "the audio library was not built";
    ASSERT_TRUE(LoadBASS(BinFolder(), "libbass.so"));
    EXPECT_NE(BASSHandle, nullptr);
    EXPECT_EQ(BoundBassPointers(), 107);
    EXPECT_EQ(BASS_GetVersion(), 0x00080001u);
    ASSERT_TRUE(LoadBASSWMA(BinFolder(), "libbasswma.so"));
    EXPECT_NE(BASSWMAHandle, nullptr);
    EXPECT_EQ(BoundWmaPointers(), 12);
}

TEST_F(BindingTest, CompleteLibraryBindsEveryEntryPoint)
{
    ASSERT_TRUE(LoadBASS(Variant("full"), "libbass.so"));
    EXPECT_NE(BASSHandle, nullptr);
    EXPECT_EQ(BoundBassPointers(), 107);
    EXPECT_EQ(BASS_GetVersion(), 0x00080001u);
    // The pointer reaches the library's own export, not a stand-in.
    SharedLibrary same(Variant("full") + "/libbass.so");
    EXPECT_EQ(reinterpret_cast<void*>(BASS_ChannelIsSliding), same.Symbol("BASS_ChannelIsSliding"));
}

TEST_F(BindingTest, FolderWithAndWithoutTrailingSlashLoadTheSameFile)
{
    // Kept open here so that every load maps the same module at the same address.
    SharedLibrary pin(Variant("full") + "/libbass.so");
    ASSERT_TRUE(pin.IsLoaded());
    ASSERT_TRUE(LoadBASS(Variant("full"), "libbass.so"));
    EXPECT_EQ(reinterpret_cast<void*>(BASS_GetVersion), pin.Symbol("BASS_GetVersion"));
    UnloadBASS();
    ASSERT_TRUE(LoadBASS(Variant("full") + "/", "libbass.so"));
    EXPECT_EQ(reinterpret_cast<void*>(BASS_GetVersion), pin.Symbol("BASS_GetVersion"));
}

TEST_F(BindingTest, SecondLoadSucceedsWithoutOpeningAnything)
{
    ASSERT_TRUE(LoadBASS(Variant("full"), "libbass.so"));
    void* handle = BASSHandle;
    EXPECT_TRUE(LoadBASS("/no/such/folder", "nothing.so"));
    EXPECT_TRUE(LoadBASS(Variant("nocddoor"), "libbass.so"));
    EXPECT_EQ(BASSHandle, handle);
    EXPECT_EQ(BoundBassPointers(), 107);
}

TEST_F(BindingTest, LibraryLackingOneNameIsRefusedAsAWhole)
{
    EXPECT_FALSE(LoadBASS(Variant("nocddoor"), "libbass.so"));
    EXPECT_EQ(BASSHandle, nullptr);
    EXPECT_EQ(BoundBassPointers(), 0);
    // Nothing of the refused module may be called, not even BASS_Free on unload.
    UnloadBASS();
    EXPECT_EQ(Calls(), "");
    // The refusal leaves no trace: a complete library binds afterwards.
    EXPECT_TRUE(LoadBASS(Variant("full"), "libbass.so"));
}

TEST_F(BindingTest, MissingOrUnloadableFileYieldsFalse)
{
    TempDir folder;
    EXPECT_FALSE(LoadBASS(folder.Path().string(), "libbass.so"));
    EXPECT_EQ(BASSHandle, nullptr);
    testsupport::WriteText(folder.File("libbass.so"), "not a shared library");
    EXPECT_FALSE(LoadBASS(folder.Path().string(), "libbass.so"));
    EXPECT_EQ(BASSHandle, nullptr);
    EXPECT_EQ(BoundBassPointers(), 0);
}

TEST_F(BindingTest, UnloadFreesTheDeviceFirstAndClearsEverything)
{
    UnloadBASS(); // never loaded: nothing happens
    EXPECT_EQ(Calls(), "");
    ASSERT_TRUE(LoadBASS(Variant("full"), "libbass.so"));
    UnloadBASS();
    EXPECT_EQ(Calls(), "Free\n");
    EXPECT_EQ(BASSHandle, nullptr);
    EXPECT_EQ(BoundBassPointers(), 0);
    UnloadBASS();
    EXPECT_EQ(Calls(), "Free\n");
}

TEST_F(BindingTest, AddOnBindsAllOrNothing)
{
    UnloadBASSWMA(); // never loaded: nothing happens
    EXPECT_FALSE(LoadBASSWMA(Variant("noencodeclose"), "libbasswma.so"));
    EXPECT_EQ(BASSWMAHandle, nullptr);
    EXPECT_EQ(BoundWmaPointers(), 0);
    EXPECT_FALSE(LoadBASSWMA("/no/such/folder/", "libbasswma.so"));
    ASSERT_TRUE(LoadBASSWMA(Variant("full") + "/", "libbasswma.so"));
    EXPECT_EQ(BoundWmaPointers(), 12);
    void* handle = BASSWMAHandle;
    EXPECT_TRUE(LoadBASSWMA("/no/such/folder", "libbasswma.so"));
    EXPECT_EQ(BASSWMAHandle, handle);
    UnloadBASSWMA();
    EXPECT_EQ(BASSWMAHandle, nullptr);
    EXPECT_EQ(BoundWmaPointers(), 0);
    // Loaded twice (the incomplete double and the full one); the add-on's
    // unload does not touch the library's device.
    EXPECT_EQ(Calls(), "AddOnLoaded\nAddOnLoaded\n");
}
