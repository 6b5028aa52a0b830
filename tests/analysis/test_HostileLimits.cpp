// Inputs whose size fields claim far more than they hold: each reader must
// stay under 1 s of CPU and 64 MiB of memory above what the process had,
// whatever the file claims. Each case runs in a child process under
// RLIMIT_CPU and RLIMIT_AS, so going over the bound kills it.
#include "analysis/ID3v2.h"
#include "analysis/WMAfile.h"

#include "support/ByteBuilders.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using testsupport::ReadBytes;
using testsupport::TempDir;
using testsupport::WriteBytes;
using bytebuild::Bytes;
using bytebuild::Str;

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

long VirtualMemoryBytes()
{
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        if (key == "VmSize:") {
            long kib = 0;
            status >> kib;
            return kib * 1024;
        }
        status.ignore(1 << 20, '\n');
    }
    return 0;
}

// Runs `work` in a child limited to 1 s of CPU and, where no sanitizer
// reserves address space of its own, 64 MiB more address space than now.
// True when it finished and returned true.
bool WithinLimits(const std::function<bool()>& work)
{
    const long address = VirtualMemoryBytes();
    pid_t child = ::fork();
    if (child == 0) {
        struct rlimit cpu {1, 2};
        ::setrlimit(RLIMIT_CPU, &cpu);
        if (!kSanitized && address > 0) {
            struct rlimit space {rlim_t(address + (64L << 20)), rlim_t(address + (64L << 20))};
            ::setrlimit(RLIMIT_AS, &space);
        }
        bool ok = false;
        try {
            ok = work();
        } catch (...) {
        }
        ::_exit(ok ? 0 : 1);
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child)
        return false;
    EXPECT_TRUE(WIFEXITED(status)) << "killed by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

Bytes TitleFrame(std::string_view title)
{
    return bytebuild::Id3v2TextFrame23("TIT2", 0, Str(title));
}

} // namespace

TEST(HostileLimits, TagSizeOfFFFFFFFFOnA600MBFileReadsOnlyTheFrames)
{
    TempDir dir;
    const std::string path = dir.File("huge.mp3");
    Bytes head = Str("ID3");
    head.insert(head.end(), {3, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF});
    Bytes title = TitleFrame("Small tag");
    head.insert(head.end(), title.begin(), title.end());
    WriteBytes(path, head);
    ASSERT_EQ(::truncate(path.c_str(), 600L << 20), 0);  // sparse: zeros beyond
    EXPECT_TRUE(WithinLimits([&] {
        TID3v2 tag;
        return tag.ReadTag(path) && tag.Title() == "Small tag" && tag.Size() > (500L << 20);
    }));
}

TEST(HostileLimits, MillionsOfEmptyFramesStopAtTheFrameCap)
{
    TempDir dir;
    const std::string path = dir.File("empties.mp3");
    constexpr uint32_t kEmpties = 1600000;
    const Bytes empty = {'T', 'X', 'X', 'X', 0, 0, 0, 0, 0, 0};
    Bytes body;
    body.reserve(kEmpties * empty.size() + 32);
    for (uint32_t i = 0; i < kEmpties; ++i)
        body.insert(body.end(), empty.begin(), empty.end());
    Bytes title = TitleFrame("Beyond the cap");
    body.insert(body.end(), title.begin(), title.end());
    const uint32_t size = uint32_t(body.size());
    Bytes file = Str("ID3");
    file.insert(file.end(), {3, 0, 0, uint8_t((size >> 21) & 0x7F), uint8_t((size >> 14) & 0x7F),
                             uint8_t((size >> 7) & 0x7F), uint8_t(size & 0x7F)});
    file.insert(file.end(), body.begin(), body.end());
    file.insert(file.end(), 1000, 0xAA);
    WriteBytes(path, file);
    body.clear();
    body.shrink_to_fit();
    EXPECT_TRUE(WithinLimits([&] {
        TID3v2 tag;
        return tag.ReadTag(path) && tag.Title().empty();
    }));
    // The frames beyond the cap were never read, so a write could not carry
    // them: it is refused and the file stays as it was.
    TID3v2 tag;
    tag.SetTitle("x");
    EXPECT_FALSE(tag.WriteTag(path));
    EXPECT_NE(tag.WriteError().find("more frames than can be read"), std::string::npos) << tag.WriteError();
    EXPECT_EQ(ReadBytes(path), file);
}

TEST(HostileLimits, WmaHeaderWithMillionsOfEmptyObjects)
{
    TempDir dir;
    const std::string path = dir.File("objects.wma");
    constexpr uint32_t kObjects = 2000000;
    Bytes file = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11, 0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
    const uint64_t headerSize = 30 + uint64_t(kObjects) * 24;
    for (int k = 0; k < 8; ++k)
        file.push_back(uint8_t(headerSize >> (8 * k)));
    for (int k = 0; k < 4; ++k)
        file.push_back(uint8_t(kObjects >> (8 * k)));
    file.insert(file.end(), {1, 2});
    Bytes object(24, 0x11);
    object[16] = 24;
    for (int k = 17; k < 24; ++k)
        object[k] = 0;
    file.reserve(file.size() + kObjects * object.size());
    for (uint32_t i = 0; i < kObjects; ++i)
        file.insert(file.end(), object.begin(), object.end());
    WriteBytes(path, file);
    file.clear();
    file.shrink_to_fit();
    EXPECT_TRUE(WithinLimits([&] {
        TWMAfile wma;
        return wma.Analyze(path) && !wma.Valid();
    }));
}
