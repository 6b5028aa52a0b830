#include "FileIdentity.h"

#include <sys/stat.h>

FileIdentity IdentityOfStatus(const struct stat& status)
{
    FileIdentity identity;
    identity.Device = status.st_dev;
    identity.Inode = status.st_ino;
    identity.Size = status.st_size;
    identity.ModifiedNs = int64_t(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec;
    identity.ChangedNs = int64_t(status.st_ctim.tv_sec) * 1000000000 + status.st_ctim.tv_nsec;
    return identity;
}

std::optional<FileIdentity> IdentityOfDescriptor(int descriptor)
{
    struct stat status {};
    if (::fstat(descriptor, &status) != 0)
        return std::nullopt;
    return IdentityOfStatus(status);
}

std::optional<FileIdentity> IdentityOfPath(const std::string& path)
{
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0)
        return std::nullopt;
    return IdentityOfStatus(status);
}

std::string ChangedSinceReadText(const std::string& fileName)
{
    return "\"" + fileName + "\" was changed by another program since it was read; nothing was written. "
           "Read it again to see that change, then repeat yours.";
}
