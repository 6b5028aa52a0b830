#include "FileRewrite.h"

#include "BinaryFile.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Enough variants to get past leftovers of earlier runs, few enough that a
// folder full of such names cannot keep the loop busy.
constexpr int kMaxNameVariants = 1000;

struct FreeDeleter {
    void operator()(char* p) const { std::free(p); }
};

// Removes the replacement file unless the rename has made it the original.
class PendingReplacement {
public:
    PendingReplacement() = default;
    ~PendingReplacement()
    {
        if (!path_.empty() && !committed_)
            ::unlink(path_.c_str());
    }
    PendingReplacement(const PendingReplacement&) = delete;
    PendingReplacement& operator=(const PendingReplacement&) = delete;

    void Adopt(std::string path) { path_ = std::move(path); }
    const std::string& Path() const { return path_; }
    void Commit() { committed_ = true; }

private:
    std::string path_;
    bool committed_ = false;
};

bool Fail(std::string* reason, const std::string& text)
{
    if (reason)
        *reason = text;
    return false;
}

std::string FolderOf(const std::string& path)
{
    auto slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Makes the rename itself durable; a failure here cannot be undone and the
// new content is already in place, so it is not reported.
void SyncFolder(const std::string& folder)
{
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

bool CreateReplacement(const std::string& original, BinaryFile& file, PendingReplacement& pending, std::string* reason)
{
    for (int variant = 0; variant < kMaxNameVariants; ++variant) {
        std::string candidate = original + "~" + (variant == 0 ? std::string() : std::to_string(variant));
        if (file.Open(candidate, BinaryFile::Mode::CreateNew)) {
            pending.Adopt(candidate);
            return true;
        }
        // Only a name that is taken justifies trying the next one; anything
        // else (no write permission on the folder, disk full) will not change.
        struct stat existing {};
        if (::lstat(candidate.c_str(), &existing) != 0)
            return Fail(reason, "Cannot create file \"" + candidate + "\". " + file.LastError());
    }
    return Fail(reason, "No free name for a temporary file beside \"" + original + "\".");
}

bool CopyOwnerAndPermissions(BinaryFile& file, const struct stat& original, std::string* reason)
{
    struct stat current {};
    if (::fstat(file.Descriptor(), &current) != 0)
        return Fail(reason, SystemErrorText(errno));
    if (current.st_uid != original.st_uid || current.st_gid != original.st_gid) {
        if (::fchown(file.Descriptor(), original.st_uid, original.st_gid) != 0) {
            // Without the right to give the file away, a file of someone
            // else's would silently become ours: refuse instead. Our own file
            // in a group we are not a member of keeps our group.
            if (original.st_uid != current.st_uid)
                return Fail(reason, "Cannot keep the file's owner. " + SystemErrorText(errno));
        }
    }
    // Permissions go last: changing the owner may clear set-user-ID bits.
    mode_t mode = (original.st_mode & 07777) | S_IWUSR;
    if (::fchmod(file.Descriptor(), mode) != 0)
        return Fail(reason, "Cannot set the file's permissions. " + SystemErrorText(errno));
    return true;
}

} // namespace

bool RewriteFile(const std::string& path, const RewriteContentWriter& writeContent, std::string* reason)
{
    std::unique_ptr<char, FreeDeleter> resolved(::realpath(path.c_str(), nullptr));
    if (!resolved)
        return Fail(reason, "Cannot open file \"" + path + "\". " + SystemErrorText(errno));
    const std::string original = resolved.get();

    struct stat originalStat {};
    if (::stat(original.c_str(), &originalStat) != 0)
        return Fail(reason, "Cannot open file \"" + path + "\". " + SystemErrorText(errno));
    if (!S_ISREG(originalStat.st_mode))
        return Fail(reason, "\"" + path + "\" is not a regular file.");

    BinaryFile replacement;
    PendingReplacement pending;
    if (!CreateReplacement(original, replacement, pending, reason))
        return false;
    if (!writeContent(replacement, original))
        return Fail(reason, "Cannot write file \"" + pending.Path() + "\". " + replacement.LastError());
    if (!CopyOwnerAndPermissions(replacement, originalStat, reason))
        return false;
    if (!replacement.SyncToDisk())
        return Fail(reason, "Cannot write file \"" + pending.Path() + "\". " + replacement.LastError());
    replacement.Close();
    if (::rename(pending.Path().c_str(), original.c_str()) != 0)
        return Fail(reason, "Cannot replace file \"" + original + "\". " + SystemErrorText(errno));
    pending.Commit();
    SyncFolder(FolderOf(original));
    return true;
}
