#include "BinaryFile.h"

#include "FileCalls.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

std::string SystemErrorText(int errorNumber)
{
    // strerror's text may sit in a buffer that every thread shares, and
    // files are read and written on several threads at once.
    char buffer[256];
    return ::strerror_r(errorNumber, buffer, sizeof buffer);
}

BinaryFile::~BinaryFile()
{
    Close();
}

BinaryFile::BinaryFile(BinaryFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), lastError_(std::move(other.lastError_))
{
}

BinaryFile& BinaryFile::operator=(BinaryFile&& other) noexcept
{
    if (this != &other) {
        Close();
        fd_ = std::exchange(other.fd_, -1);
        lastError_ = std::move(other.lastError_);
    }
    return *this;
}

bool BinaryFile::Open(const std::string& path, Mode mode)
{
    Close();
    int flags = O_CLOEXEC;
    switch (mode) {
    case Mode::Read: flags |= O_RDONLY; break;
    case Mode::ReadWrite: flags |= O_RDWR; break;
    case Mode::CreateNew: flags |= O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW; break;
    case Mode::CreateTruncate: flags |= O_RDWR | O_CREAT | O_TRUNC; break;
    }
    return Open(path, flags, 0666);
}

bool BinaryFile::Open(const std::string& path, int flags, mode_t mode)
{
    Close();
    do {
        fd_ = SystemFileCalls().open(path.c_str(), flags | O_CLOEXEC, mode);
    } while (fd_ < 0 && errno == EINTR);
    if (fd_ < 0) {
        RememberError();
        return false;
    }
    return true;
}

bool BinaryFile::OpenSameFileAs(const BinaryFile& other)
{
    return Open("/proc/self/fd/" + std::to_string(other.Descriptor()), Mode::Read);
}

void BinaryFile::Close()
{
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

int64_t BinaryFile::Size()
{
    struct stat st {};
    if (fd_ < 0 || ::fstat(fd_, &st) != 0) {
        RememberError();
        return -1;
    }
    return static_cast<int64_t>(st.st_size);
}

bool BinaryFile::Seek(int64_t position)
{
    if (position < 0) {
        lastError_ = SystemErrorText(EINVAL);
        return false;
    }
    if (fd_ < 0 || ::lseek(fd_, static_cast<off_t>(position), SEEK_SET) < 0) {
        RememberError();
        return false;
    }
    return true;
}

int64_t BinaryFile::Position()
{
    off_t position = fd_ < 0 ? -1 : ::lseek(fd_, 0, SEEK_CUR);
    if (position < 0) {
        RememberError();
        return -1;
    }
    return static_cast<int64_t>(position);
}

size_t BinaryFile::Read(void* buffer, size_t count)
{
    auto* out = static_cast<unsigned char*>(buffer);
    size_t done = 0;
    while (done < count) {
        ssize_t n = fd_ < 0 ? -1 : SystemFileCalls().read(fd_, out + done, count - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            RememberError();
            break;
        }
        if (n == 0)
            break;
        done += static_cast<size_t>(n);
    }
    return done;
}

bool BinaryFile::ReadExact(void* buffer, size_t count)
{
    return Read(buffer, count) == count;
}

template <typename WriteSome>
bool BinaryFile::WriteWhole(const void* buffer, size_t count, WriteSome writeSome)
{
    const auto* in = static_cast<const unsigned char*>(buffer);
    size_t done = 0;
    while (done < count) {
        const ssize_t n = writeSome(in + done, count - done, done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            RememberError();
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

bool BinaryFile::Write(const void* buffer, size_t count)
{
    return WriteWhole(buffer, count, [this](const unsigned char* at, size_t left, size_t) {
        return fd_ < 0 ? ssize_t(-1) : SystemFileCalls().write(fd_, at, left);
    });
}

bool BinaryFile::WriteAt(int64_t position, const void* buffer, size_t count)
{
    return WriteWhole(buffer, count, [this, position](const unsigned char* at, size_t left, size_t done) {
        return fd_ < 0 || position < 0
            ? ssize_t(-1)
            : SystemFileCalls().pwrite(fd_, at, left, static_cast<off_t>(position) + off_t(done));
    });
}

bool BinaryFile::Truncate(int64_t size)
{
    if (fd_ < 0 || size < 0 || SystemFileCalls().ftruncate(fd_, static_cast<off_t>(size)) != 0) {
        RememberError();
        return false;
    }
    return true;
}

bool BinaryFile::SyncToDisk()
{
    if (fd_ < 0 || SystemFileCalls().fsync(fd_) != 0) {
        RememberError();
        return false;
    }
    return true;
}

void BinaryFile::RememberError()
{
    lastError_ = SystemErrorText(errno ? errno : EBADF);
}
