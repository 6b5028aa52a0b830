#include "files/BinaryFile.h"
#include "files/FileIdentity.h"
#include "files/FileRewrite.h"
#include "files/StagedFile.h"

#include "support/FileCallLog.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <csignal>
#include <filesystem>
#include <sys/stat.h>
#include <sys/xattr.h>
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

// A cut section or a split part reported written must survive a power
// loss as much as a replaced file: both are flushed before their name
// changes, and their folder after it, before Commit reports them done.
TEST(FileRewrite, NewNamesAreFlushedWithTheirFolderLikeReplacedOnes)
{
    TempDir dir;
    WriteBytes(dir.File("old"), Bytes{1});
    struct Case {
        const char* name;
        bool replace;
    };
    for (const Case& c : {Case{"new", false}, Case{"new-replaceable", true}, Case{"old", true}}) {
        FileCallLog log;
        StagedFile staged;
        ASSERT_TRUE(staged.Create(dir.File(c.name), 0644));
        ASSERT_TRUE(staged.File().Write("\x05", 1));
        ASSERT_EQ(staged.Commit(dir.File(c.name), c.replace), StagedFile::Outcome::Done);
        auto& calls = FileCallLog::Calls();
        SCOPED_TRACE(std::string(c.name) + ": " + testing::PrintToString(calls));
        const auto naming = std::find_if(calls.begin(), calls.end(),
                                         [](const std::string& call) { return call == "link" || call == "rename"; });
        ASSERT_NE(naming, calls.end());
        EXPECT_NE(std::find(calls.begin(), naming, "fsync"), naming);
        EXPECT_EQ(calls.back(), "fsync-folder");
        EXPECT_EQ(ReadBytes(dir.File(c.name)), Bytes{5});
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

// Another program's same-size change in the same second as the read shows
// only in the nanoseconds of the file's times.
TEST(FileIdentity, TimesAreComparedToTheNanosecond)
{
    struct stat read {};
    read.st_mtim = {1700000000, 100};
    read.st_ctim = {1700000000, 100};
    struct stat modified = read;
    modified.st_mtim.tv_nsec = 200;
    struct stat changed = read;
    changed.st_ctim.tv_nsec = 200;
    EXPECT_FALSE(IdentityOfStatus(modified) == IdentityOfStatus(read));
    EXPECT_FALSE(IdentityOfStatus(changed) == IdentityOfStatus(read));
}

TEST(FileRewrite, UserExtendedAttributesAreKept)
{
    TempDir dir;
    const std::string path = dir.File("a");
    WriteBytes(path, Bytes{1});
    if (::setxattr(path.c_str(), "user.rating", "5", 1, 0) != 0)
        GTEST_SKIP() << "no user attributes on this file system: " << std::strerror(errno);
    std::string reason;
    ASSERT_TRUE(RewriteFile(path, WriteBytesOf({5, 6}), &reason)) << reason;
    char value[8] = {};
    EXPECT_EQ(::getxattr(path.c_str(), "user.rating", value, sizeof value), 1);
    EXPECT_EQ(value[0], '5');
    EXPECT_EQ(ReadBytes(path), (Bytes{5, 6}));
}

// A new inode under one name would leave the other names with the old
// content: refused, both names as they were.
TEST(FileRewrite, AFileWithOtherNamesIsRefusedRatherThanSplit)
{
    TempDir dir;
    WriteBytes(dir.File("a"), Bytes{1});
    fs::create_hard_link(dir.File("a"), dir.File("b"));
    std::string reason;
    EXPECT_FALSE(RewriteFile(dir.File("a"), WriteBytesOf({5, 6}), &reason));
    EXPECT_NE(reason.find("hard links"), std::string::npos) << reason;
    EXPECT_EQ(ReadBytes(dir.File("a")), Bytes{1});
    EXPECT_EQ(fs::hard_link_count(dir.File("b")), 2u);
    EXPECT_EQ(EntryCount(dir), 2u);
}

TEST(FileRewrite, TheNamedFallbackNeverTakesAnExistingNameItMayNotReplace)
{
    TempDir dir;
    WriteBytes(dir.File("a"), Bytes{1});
    FileCallLog log;
    FileCallLog::RefuseUnnamedFiles(EOPNOTSUPP);
    StagedFile staged;
    ASSERT_TRUE(staged.Create(dir.File("a"), 0644));
    ASSERT_TRUE(staged.IsNamed());
    ASSERT_TRUE(staged.File().Write("\x05", 1));
    EXPECT_EQ(staged.Commit(dir.File("a"), false), StagedFile::Outcome::NameTaken);
    EXPECT_EQ(ReadBytes(dir.File("a")), Bytes{1});
}

// A name of 248 bytes is legal; the names beside it for journals, staging
// links and the named fallback must be too. Ordinary names keep their
// suffixes as they were, so that what an older write left is still found.
TEST(FileRewrite, NamesBesideALongNameStayWithinTheLimit)
{
    TempDir dir;
    std::string longName;
    while (longName.size() < 248)
        longName += "\xC3\xA9";  // é: a cut must not split it
    const std::string path = dir.File(longName);
    std::string otherName = longName;
    otherName.back() = '\xA8';  // è
    for (const std::string suffix : {".tagjournal", ".corvella-staging", "~0123456789ab"}) {
        SCOPED_TRACE(suffix);
        const std::string name = fs::path(SiblingPathOf(path, suffix)).filename().string();
        EXPECT_LE(name.size(), size_t(NAME_MAX));
        EXPECT_EQ(name.substr(name.size() - suffix.size()), suffix);
        EXPECT_EQ(name.substr(0, 2), "\xC3\xA9");
        EXPECT_EQ(name.find("\xC3\xA9~"), name.find('~') - 2) << "a character cut in two";
        EXPECT_NE(SiblingPathOf(path, suffix), SiblingPathOf(dir.File(otherName), suffix));
        EXPECT_EQ(SiblingPathOf(dir.File("a.mp3"), suffix), dir.File("a.mp3" + suffix));
    }
    WriteBytes(path, Bytes{1});
    for (int unnamed = 0; unnamed < 2; ++unnamed) {
        FileCallLog log;
        if (!unnamed)
            FileCallLog::RefuseUnnamedFiles(EOPNOTSUPP);
        std::string reason;
        EXPECT_TRUE(RewriteFile(path, WriteBytesOf({5, uint8_t(unnamed)}), &reason)) << reason;
        EXPECT_EQ(ReadBytes(path), (Bytes{5, uint8_t(unnamed)}));
        EXPECT_EQ(EntryCount(dir), 1u);
    }
}
