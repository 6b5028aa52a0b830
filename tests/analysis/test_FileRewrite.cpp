#include "analysis/BinaryFile.h"
#include "analysis/FileRewrite.h"
#include "analysis/StagedFile.h"

#include "FileCallLog.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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

TEST(FileRewrite, FlushesBeforeTheRenameAndTheFolderAfterIt)
{
    TempDir dir;
    WriteBytes(dir.File("a"), Bytes{1});
    FileCallLog log;
    ASSERT_TRUE(RewriteFile(dir.File("a"), WriteBytesOf({5, 6})));
    auto& calls = FileCallLog::Calls();
    auto at = [&](const std::string& name) { return std::find(calls.begin(), calls.end(), name) - calls.begin(); };
    auto lastWrite = calls.rend() - std::find(calls.rbegin(), calls.rend(), "write");
    ASSERT_LT(at("fsync"), at("rename")) << testing::PrintToString(calls);
    EXPECT_LT(lastWrite, at("fsync") + 1);
    EXPECT_LT(at("rename"), at("fsync-folder"));
    EXPECT_EQ(calls.back(), "fsync-folder");
}

// A new name has no old content to protect, so a split's parts are not
// each flushed; replacing an existing name still is, before the rename.
TEST(FileRewrite, OnlyANameWithContentAtStakeIsFlushed)
{
    TempDir dir;
    WriteBytes(dir.File("old"), Bytes{1});
    for (const char* name : {"new", "old"}) {
        FileCallLog log;
        StagedFile staged;
        ASSERT_TRUE(staged.Create(dir.File(name), 0644));
        ASSERT_TRUE(staged.File().Write("\x05", 1));
        ASSERT_EQ(staged.Commit(dir.File(name), true), StagedFile::Outcome::Done);
        auto& calls = FileCallLog::Calls();
        bool flushed = std::find(calls.begin(), calls.end(), "fsync") != calls.end();
        EXPECT_EQ(flushed, std::string(name) == "old") << name << ": " << testing::PrintToString(calls);
        EXPECT_EQ(ReadBytes(dir.File(name)), Bytes{5});
    }
}

// Every call that changes a file fails once, in turn: the result says so,
// the original keeps its content, and nothing is left beside it. Only the
// folder flush comes after the point of no return.
TEST(FileRewrite, EachFailingCallLeavesTheOriginalAndNothingElse)
{
    for (int unnamed = 0; unnamed < 2; ++unnamed) {
        size_t callCount = 0;
        {
            TempDir dir;
            WriteBytes(dir.File("a"), Bytes{1});
            FileCallLog log;
            if (!unnamed)
                FileCallLog::RefuseUnnamedFiles(EOPNOTSUPP);
            ASSERT_TRUE(RewriteFile(dir.File("a"), WriteBytesOf({5, 6})));
            callCount = FileCallLog::Calls().size();
        }
        for (size_t n = 1; n <= callCount; ++n) {
            TempDir dir;
            WriteBytes(dir.File("a"), Bytes{1});
            FileCallLog log;
            if (!unnamed)
                FileCallLog::RefuseUnnamedFiles(EOPNOTSUPP);
            FileCallLog::FailCall(int(n));
            std::string reason;
            bool done = RewriteFile(dir.File("a"), WriteBytesOf({5, 6}), &reason);
            const std::string failed = FileCallLog::Calls()[n - 1];
            SCOPED_TRACE(failed + " #" + std::to_string(n) + (unnamed ? " unnamed" : " named"));
            EXPECT_EQ(EntryCount(dir), 1u);
            if (failed == "fsync-folder" || failed == "unlink") {
                EXPECT_TRUE(done);
                EXPECT_EQ(ReadBytes(dir.File("a")), (Bytes{5, 6}));
            } else {
                EXPECT_FALSE(done);
                EXPECT_NE(reason.find(strerror(EIO)), std::string::npos) << reason;
                EXPECT_EQ(ReadBytes(dir.File("a")), Bytes{1});
            }
        }
    }
}

TEST(FileRewrite, ChangesByAnotherProgramDuringTheCopyAreKept)
{
    TempDir dir;
    const std::string path = dir.File("a");
    struct Case {
        const char* what;
        std::function<void()> meddle;
        std::optional<Bytes> expected;  // empty: the file must stay deleted
    };
    const std::vector<Case> cases = {
        {"deleted", [&] { fs::remove(path); }, std::nullopt},
        {"appended",
         [&] {
             Bytes grown = ReadBytes(path);
             grown.push_back(7);
             WriteBytes(path, grown);
         },
         Bytes{1, 2, 7}},
        {"saved by another editor",
         [&] {
             WriteBytes(path + ".other", Bytes{9, 9});
             fs::rename(path + ".other", path);
         },
         Bytes{9, 9}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteBytes(path, Bytes{1, 2});
        std::string reason;
        bool done = RewriteFile(
            path,
            [&](BinaryFile& replacement, const std::string&) {
                Bytes content{5, 6};
                c.meddle();
                return replacement.Write(content.data(), content.size());
            },
            &reason);
        EXPECT_FALSE(done);
        EXPECT_NE(reason.find("another program"), std::string::npos) << reason;
        if (c.expected) {
            EXPECT_EQ(ReadBytes(path), *c.expected);
            EXPECT_EQ(EntryCount(dir), 1u);
        } else {
            EXPECT_FALSE(fs::exists(path));
            EXPECT_EQ(EntryCount(dir), 0u);
        }
    }
}

// The new content has the original's permissions before any byte is in it,
// whether it sits in an unnamed file or in the named one of the fallback.
TEST(FileRewrite, ContentIsNeverReadableBeyondTheOriginalsPermissions)
{
    for (int unnamed = 0; unnamed < 2; ++unnamed) {
        TempDir dir;
        WriteBytes(dir.File("a"), Bytes{1});
        ASSERT_EQ(::chmod(dir.File("a").c_str(), 0600), 0);
        FileCallLog log;
        if (!unnamed)
            FileCallLog::RefuseUnnamedFiles(EOPNOTSUPP);
        mode_t modeBeforeData = 0;
        size_t namesDuringWrite = 0;
        ASSERT_TRUE(RewriteFile(dir.File("a"), [&](BinaryFile& replacement, const std::string&) {
            struct stat st {};
            ::fstat(replacement.Descriptor(), &st);
            modeBeforeData = st.st_mode & 07777;
            namesDuringWrite = EntryCount(dir);
            return replacement.Write("x", 1);
        }));
        EXPECT_EQ(modeBeforeData, 0600u) << unnamed;
        EXPECT_EQ(namesDuringWrite, unnamed ? 1u : 2u);
        struct stat st {};
        ASSERT_EQ(::stat(dir.File("a").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0600u);
    }
}

TEST(FileRewrite, AKilledRewriteLeavesNothingBehind)
{
    TempDir dir;
    WriteBytes(dir.File("a"), Bytes{1});
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        RewriteFile(dir.File("a"), [](BinaryFile& replacement, const std::string&) {
            replacement.Write("partial", 7);
            ::raise(SIGKILL);
            return true;
        });
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(ReadBytes(dir.File("a")), Bytes{1});
    EXPECT_EQ(EntryCount(dir), 1u);
}
