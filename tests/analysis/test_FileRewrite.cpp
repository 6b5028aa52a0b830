#include "analysis/BinaryFile.h"
#include "analysis/FileRewrite.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;
using testsupport::ReadBytes;
using testsupport::TempDir;
using testsupport::WriteBytes;
using Bytes = std::vector<uint8_t>;

namespace {

RewriteContentWriter WriteBytesOf(const Bytes& content)
{
    return [content](BinaryFile& replacement, const std::string&) {
        return replacement.Write(content.data(), content.size());
    };
}

size_t EntryCount(const TempDir& dir)
{
    return static_cast<size_t>(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()));
}

} // namespace

TEST(FileRewrite, ReplacesTheContentAndReadsFromTheResolvedOriginal)
{
    TempDir dir;
    WriteBytes(dir.File("real"), Bytes{1, 2, 3});
    fs::create_symlink("real", dir.File("link"));
    std::string seenOriginal;
    bool done = RewriteFile(dir.File("link"), [&](BinaryFile& replacement, const std::string& original) {
        seenOriginal = original;
        Bytes old = ReadBytes(original);
        old.push_back(4);
        return replacement.Write(old.data(), old.size());
    });
    ASSERT_TRUE(done);
    EXPECT_EQ(seenOriginal, fs::canonical(dir.File("real")).string());
    EXPECT_EQ(ReadBytes(dir.File("real")), (Bytes{1, 2, 3, 4}));
    EXPECT_TRUE(fs::is_symlink(dir.File("link")));
    EXPECT_EQ(EntryCount(dir), 2u);
}

TEST(FileRewrite, AFailingWriterLeavesNothingBehind)
{
    TempDir dir;
    const Bytes original{9, 8, 7};
    WriteBytes(dir.File("a"), original);
    std::string reason;
    bool done = RewriteFile(
        dir.File("a"),
        [](BinaryFile& replacement, const std::string&) {
            Bytes half{1, 2};
            replacement.Write(half.data(), half.size());
            return false;
        },
        &reason);
    EXPECT_FALSE(done);
    EXPECT_FALSE(reason.empty());
    EXPECT_EQ(ReadBytes(dir.File("a")), original);
    EXPECT_EQ(EntryCount(dir), 1u);
}

TEST(FileRewrite, RefusesWhatIsNotAnExistingRegularFile)
{
    TempDir dir;
    std::string reason;
    EXPECT_FALSE(RewriteFile(dir.File("missing"), WriteBytesOf({1}), &reason));
    EXPECT_NE(reason.find("missing"), std::string::npos);
    fs::create_symlink("nowhere", dir.File("dangling"));
    EXPECT_FALSE(RewriteFile(dir.File("dangling"), WriteBytesOf({1})));
    EXPECT_FALSE(fs::exists(dir.File("nowhere")));
    fs::create_directory(dir.File("folder"));
    EXPECT_FALSE(RewriteFile(dir.File("folder"), WriteBytesOf({1})));
    EXPECT_EQ(EntryCount(dir), 2u);
}

TEST(FileRewrite, TakenTemporaryNamesAreSkippedNotReused)
{
    TempDir dir;
    WriteBytes(dir.File("a"), Bytes{1});
    for (const char* taken : {"a~", "a~1", "a~2"})
        WriteBytes(dir.File(taken), Bytes{0xEE});
    ASSERT_TRUE(RewriteFile(dir.File("a"), WriteBytesOf({5, 6})));
    EXPECT_EQ(ReadBytes(dir.File("a")), (Bytes{5, 6}));
    for (const char* taken : {"a~", "a~1", "a~2"})
        EXPECT_EQ(ReadBytes(dir.File(taken)), Bytes{0xEE}) << taken;
    EXPECT_EQ(EntryCount(dir), 4u);
}
