#include "FileCalls.h"

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

int OpenFile(const char* path, int flags, mode_t mode)
{
    return ::open(path, flags, mode);
}

const FileCalls kPlain = {OpenFile, ::read, ::write, ::pwrite, ::fsync, ::ftruncate, ::rename, ::linkat, ::unlink};

FileCalls current = kPlain;

} // namespace

FileCalls& SystemFileCalls()
{
    return current;
}

const FileCalls& PlainFileCalls()
{
    return kPlain;
}
