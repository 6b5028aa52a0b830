#include "StagedFile.h"

#include "FileCalls.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <random>
#include <string_view>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Random suffixes to try before giving up on a folder full of taken names.
constexpr int kNameAttempts = 100;

std::string RandomSuffix()
{
    // One per thread: parts of a split are put in place from two threads.
    thread_local std::mt19937_64 generator{std::random_device{}()};
    char suffix[24];
    std::snprintf(suffix, sizeof suffix, "%012llx", static_cast<unsigned long long>(generator() & 0xFFFFFFFFFFFFULL));
    return suffix;
}

std::string DescriptorPath(int descriptor)
{
    return "/proc/self/fd/" + std::to_string(descriptor);
}

// FNV-1a of the whole name: keeps shortened names of different files apart.
uint64_t NameHash(std::string_view name)
{
    uint64_t hash = 0xCBF29CE484222325ULL;
    for (char c : name)
        hash = (hash ^ uint8_t(c)) * 0x100000001B3ULL;
    return hash;
}

// Only a writer that owns it may take a leftover away: another user's file
// of that name is none of ours, whatever it holds.
bool OwnedByUs(const struct stat& status)
{
    return status.st_uid == ::geteuid();
}

} // namespace

std::string FolderOf(const std::string& path)
{
    auto slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool SyncFolder(const std::string& folder)
{
    const FileCalls& calls = SystemFileCalls();
    int fd = calls.open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
    if (fd < 0)
        return false;
    bool synced = calls.fsync(fd) == 0;
    ::close(fd);
    return synced;
}

std::string SiblingPathOf(const std::string& path, const std::string& suffix)
{
    const size_t slash = path.find_last_of('/');
    const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const std::string_view name(path.data() + nameStart, path.size() - nameStart);
    if (name.size() + suffix.size() <= NAME_MAX)
        return path + suffix;
    char hash[24];
    std::snprintf(hash, sizeof hash, "~%016llx", static_cast<unsigned long long>(NameHash(name)));
    const std::string_view hashText(hash);
    if (suffix.size() + hashText.size() >= NAME_MAX)
        return path + suffix;  // no room for any of the name: the system says so
    size_t keep = NAME_MAX - suffix.size() - hashText.size();
    // A character of several bytes is kept whole or not at all.
    while (keep > 0 && (uint8_t(name[keep]) & 0xC0) == 0x80)
        --keep;
    return path.substr(0, nameStart).append(name.substr(0, keep)).append(hashText).append(suffix);
}

std::string StagingLinkPathOf(const std::string& target)
{
    return SiblingPathOf(target, ".corvella-staging");
}

bool RemoveLeftoverStagingLink(const std::string& target)
{
    const std::string staging = StagingLinkPathOf(target);
    BinaryFile link;
    if (!link.Open(staging, O_RDONLY | O_NOFOLLOW | O_NONBLOCK, 0))
        return errno == ENOENT;
    struct stat opened {};
    struct stat named {};
    // Its writer holds the lock until the rename: a link that can be locked
    // has no writer left, and is still the same file under that name.
    if (::fstat(link.Descriptor(), &opened) != 0 || !S_ISREG(opened.st_mode) || !OwnedByUs(opened)
        || ::flock(link.Descriptor(), LOCK_EX | LOCK_NB) != 0 || ::lstat(staging.c_str(), &named) != 0
        || named.st_dev != opened.st_dev || named.st_ino != opened.st_ino)
        return false;
    return SystemFileCalls().unlink(staging.c_str()) == 0;
}

StagedFile::~StagedFile()
{
    file_.Close();
    if (!namedPath_.empty())
        SystemFileCalls().unlink(namedPath_.c_str());
}

bool StagedFile::Fail(const std::string& what, const std::string& path, int error)
{
    lastError_ = what + " \"" + path + "\". " + SystemErrorText(error);
    return false;
}

bool StagedFile::Create(const std::string& target, mode_t mode, bool exactMode)
{
    folder_ = FolderOf(target);
    mode &= 07777;
    // The bits are set again after the open: the umask must not narrow them.
    if (file_.Open(folder_, O_TMPFILE | O_RDWR, mode)) {
        if (::access("/proc/self/fd", X_OK) == 0) {
            if (exactMode && ::fchmod(file_.Descriptor(), mode) != 0)
                return Fail("Cannot create file", target, errno);
            return true;
        }
        file_.Close();  // no way to give the file a name later
    } else if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
        return Fail("Cannot create file", target, errno);
    }

    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        std::string candidate = SiblingPathOf(target, "~" + (attempt == 0 ? std::string() : RandomSuffix()));
        if (file_.Open(candidate, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW, mode)) {
            namedPath_ = candidate;
            if (exactMode && ::fchmod(file_.Descriptor(), mode) != 0)
                return Fail("Cannot create file", target, errno);
            return true;
        }
        if (errno != EEXIST)
            return Fail("Cannot create file", target, errno);
    }
    return Fail("Cannot create file", target, EEXIST);
}

bool StagedFile::LinkUnnamed(const std::string& name)
{
    return SystemFileCalls().linkat(AT_FDCWD, DescriptorPath(file_.Descriptor()).c_str(), AT_FDCWD, name.c_str(),
                                    AT_SYMLINK_FOLLOW)
        == 0;
}

StagedFile::Outcome StagedFile::LinkUnnamedAs(const std::string& target)
{
    if (LinkUnnamed(target))
        return Outcome::Done;
    if (errno == EEXIST)
        return Outcome::NameTaken;
    Fail("Cannot create file", target, errno);
    return Outcome::Failed;
}

bool StagedFile::NameBeforeReplacing(const std::string& target)
{
    // An unnamed file cannot replace a name in one step: it gets a
    // name of its own first, which the rename then takes away. That
    // name is fixed, and the file is locked while it has it, so that
    // the next write knows a link that a killed writer left
    // between the two steps for what it is and removes it.
    ::flock(file_.Descriptor(), LOCK_EX | LOCK_NB);
    const std::string staging = StagingLinkPathOf(target);
    bool linked = LinkUnnamed(staging);
    const int error = linked ? 0 : errno;
    if (!linked && error == EEXIST && RemoveLeftoverStagingLink(target))
        linked = LinkUnnamed(staging);
    if (linked) {
        namedPath_ = staging;
        return true;
    }
    if (error != EEXIST)
        return Fail("Cannot create file", staging, error);
    // Taken by a write under way: a name of chance instead.
    for (int attempt = 0; !IsNamed(); ++attempt) {
        std::string candidate = SiblingPathOf(target, "~" + RandomSuffix());
        if (LinkUnnamed(candidate))
            namedPath_ = candidate;
        else if (errno != EEXIST || attempt + 1 == kNameAttempts)
            return Fail("Cannot create file", candidate, errno);
    }
    return true;
}

StagedFile::Outcome StagedFile::RenameNamedOnto(const std::string& target, bool replace)
{
    const FileCalls& calls = SystemFileCalls();
    int result = replace ? calls.rename(namedPath_.c_str(), target.c_str())
                         : ::renameat2(AT_FDCWD, namedPath_.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE);
    if (result != 0 && !replace && (errno == EINVAL || errno == ENOSYS)) {
        // Without the no-replace rename, a hard link fails just as
        // atomically on an existing name.
        result = calls.linkat(AT_FDCWD, namedPath_.c_str(), AT_FDCWD, target.c_str(), 0);
        if (result == 0)
            calls.unlink(namedPath_.c_str());
    }
    if (result != 0) {
        if (!replace && errno == EEXIST)
            return Outcome::NameTaken;
        Fail("Cannot create file", target, errno);
        return Outcome::Failed;
    }
    namedPath_.clear();
    return Outcome::Done;
}

StagedFile::Outcome StagedFile::Commit(const std::string& target, bool replace,
                                       const std::function<bool()>& stillValid)
{
    if (!file_.IsOpen()) {
        Fail("Cannot write file", target, EBADF);
        return Outcome::Failed;
    }
    // Flushing is what keeps an existing file's old content safe from a
    // crash between the rename and the write-back, and what makes a new
    // file (a cut section, a part of a split) that was reported written
    // still be there, whole, after a power loss.
    if (!file_.SyncToDisk()) {
        lastError_ = "Cannot write file \"" + target + "\". " + file_.LastError();
        return Outcome::Failed;
    }
    Outcome placed = Outcome::Failed;
    if (!IsNamed() && !replace) {
        if (stillValid && !stillValid())
            return Outcome::Failed;
        placed = LinkUnnamedAs(target);
    } else {
        if (!IsNamed() && !NameBeforeReplacing(target))
            return Outcome::Failed;
        if (stillValid && !stillValid())
            return Outcome::Failed;
        placed = RenameNamedOnto(target, replace);
    }
    if (placed != Outcome::Done)
        return placed;
    file_.Close();
    // The content is in place; a folder that cannot be flushed changes
    // nothing that could still be undone.
    SyncFolder(folder_);
    return Outcome::Done;
}
