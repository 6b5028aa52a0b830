#include "FileRewrite.h"

#include "BinaryFile.h"
#include "FileIdentity.h"
#include "StagedFile.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

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
    const auto identity = IdentityOfPath(original);

    StagedFile replacement;
    if (!replacement.Create(original, (originalStat.st_mode & 07777) | S_IWUSR))
        return Fail(reason, replacement.LastError());
    if (!CopyOwnerAndPermissions(replacement.File(), originalStat, original, reason))
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
