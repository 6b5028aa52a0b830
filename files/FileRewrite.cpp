#include "FileRewrite.h"

#include "BinaryFile.h"
#include "FileIdentity.h"
#include "StagedFile.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

namespace {

struct FreeDeleter {
    void operator()(char* p) const { std::free(p); }
};

bool Fail(std::string* reason, const std::string& text)
{
    if (reason)
        *reason = text;
    return false;
}

bool CopyOwnerAndPermissions(BinaryFile& file, const struct stat& original, const std::string& path,
                             std::string* reason)
{
    struct stat current {};
    if (::fstat(file.Descriptor(), &current) != 0)
        return Fail(reason, "Cannot create file \"" + path + "\". " + SystemErrorText(errno));
    if (current.st_uid != original.st_uid || current.st_gid != original.st_gid) {
        if (::fchown(file.Descriptor(), original.st_uid, original.st_gid) != 0) {
            // Without the right to give the file away, a file of someone
            // else's would silently become ours: refuse instead. Our own file
            // in a group we are not a member of keeps our group.
            if (original.st_uid != current.st_uid)
                return Fail(reason, "Cannot keep the owner of \"" + path + "\". " + SystemErrorText(errno));
        }
    }
    // Permissions go last: changing the owner may clear set-user-ID bits.
    mode_t mode = (original.st_mode & 07777) | S_IWUSR;
    if (::fchmod(file.Descriptor(), mode) != 0)
        return Fail(reason, "Cannot set the permissions of \"" + path + "\". " + SystemErrorText(errno));
    return true;
}

// Other programs' notes on the file (a tagger's checksum, a desktop's
// rating, where a download came from) stay with it. A note that cannot be
// carried over fails the rewrite rather than being lost without a word.
bool CopyUserAttributes(const std::string& original, BinaryFile& file, const std::string& path, std::string* reason)
{
    auto fail = [&](const std::string& what) {
        return Fail(reason, "Cannot keep the extended attributes of \"" + path + "\"" + what + ". "
                                + SystemErrorText(errno));
    };
    ssize_t listSize = ::listxattr(original.c_str(), nullptr, 0);
    if (listSize < 0)
        return errno == ENOTSUP || fail("");
    std::vector<char> names(static_cast<size_t>(listSize));
    listSize = ::listxattr(original.c_str(), names.data(), names.size());
    if (listSize < 0)
        return fail("");
    const std::string userPrefix = "user.";
    for (size_t at = 0; at < size_t(listSize);) {
        const std::string name(names.data() + at);
        at += name.size() + 1;
        if (name.compare(0, userPrefix.size(), userPrefix) != 0)
            continue;
        ssize_t valueSize = ::getxattr(original.c_str(), name.c_str(), nullptr, 0);
        std::vector<char> value(static_cast<size_t>(std::max<ssize_t>(valueSize, 0)));
        if (valueSize >= 0)
            valueSize = ::getxattr(original.c_str(), name.c_str(), value.data(), value.size());
        if (valueSize < 0 || ::fsetxattr(file.Descriptor(), name.c_str(), value.data(), size_t(valueSize), 0) != 0)
            return fail(" (\"" + name + "\")");
    }
    return true;
}

} // namespace

bool RewriteFile(const std::string& path, const RewriteContentWriter& writeContent, std::string* reason,
                 const std::optional<FileIdentity>& expected)
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
    // The new content takes one name; the other names would go on showing
    // the old content, a split nobody asked for.
    if (originalStat.st_nlink > 1)
        return Fail(reason, "\"" + path + "\" has " + std::to_string(originalStat.st_nlink)
                                + " names (hard links), and rewriting it would give only this one the new content; "
                                  "it is left as it is.");
    const std::optional<FileIdentity> identity = expected ? expected : IdentityOfPath(original);
    if (expected && IdentityOfStatus(originalStat) != *expected)
        return Fail(reason, ChangedSinceReadText(path));

    StagedFile replacement;
    if (!replacement.Create(original, (originalStat.st_mode & 07777) | S_IWUSR))
        return Fail(reason, replacement.LastError());
    if (!CopyOwnerAndPermissions(replacement.File(), originalStat, original, reason)
        || !CopyUserAttributes(original, replacement.File(), path, reason))
        return false;
    if (!writeContent(replacement.File(), original))
        return Fail(reason, "Cannot write file \"" + original + "\". " + replacement.File().LastError());

    bool changedMeanwhile = false;
    auto unchanged = [&] {
        changedMeanwhile = !identity || IdentityOfPath(original) != identity;
        return !changedMeanwhile;
    };
    if (replacement.Commit(original, true, unchanged) != StagedFile::Outcome::Done) {
        if (changedMeanwhile)
            return Fail(reason, "\"" + path + "\" was changed by another program while it was being rewritten; "
                                "that program's version is kept.");
        return Fail(reason, replacement.LastError());
    }
    return true;
}
