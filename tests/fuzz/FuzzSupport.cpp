#include "FuzzSupport.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <sys/mman.h>
#include <unistd.h>

namespace fuzz {

MemoryFile::MemoryFile(const char* name)
{
    fd_ = ::memfd_create(name, MFD_CLOEXEC);
    if (fd_ < 0)
        throw std::runtime_error("memfd_create failed");
    path_ = "/proc/self/fd/" + std::to_string(fd_);
}

MemoryFile::~MemoryFile()
{
    ::close(fd_);
}

void MemoryFile::Assign(const uint8_t* data, size_t size)
{
    if (::ftruncate(fd_, 0) != 0)
        Fail(__FILE__, __LINE__, "ftruncate", "cannot empty the in-memory file");
    size_t done = 0;
    while (done < size) {
        ssize_t written = ::pwrite(fd_, data + done, size - done, off_t(done));
        if (written <= 0)
            Fail(__FILE__, __LINE__, "pwrite", "cannot fill the in-memory file");
        done += size_t(written);
    }
}

namespace {

class Scratch {
public:
    Scratch()
    {
        std::error_code error;
        std::string base = std::filesystem::is_directory("/dev/shm", error) ? "/dev/shm" : "/tmp";
        std::string pattern = base + "/corvella-fuzz-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~Scratch()
    {
        std::error_code error;
        std::filesystem::remove_all(path_, error);
    }
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

} // namespace

const std::string& ScratchFolder()
{
    static Scratch scratch;
    return scratch.Path();
}

Bytes ReadWholeFile(const std::string& path)
{
    // One read of the known size: a byte-wise stream iterator was half of
    // what the cutter and round-trip targets spent per input.
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in)
        return {};
    Bytes bytes(size_t(in.tellg()));
    in.seekg(0);
    in.read(reinterpret_cast<char*>(bytes.data()), std::streamsize(bytes.size()));
    bytes.resize(size_t(in.gcount()));
    return bytes;
}

Bytes ByteSource::Take(size_t count)
{
    size_t n = std::min(count, size_ - std::min(at_, size_));
    Bytes out(data_ + at_, data_ + at_ + n);
    at_ += n;
    return out;
}

bool IsUtf8(std::string_view text)
{
    for (size_t i = 0; i < text.size();) {
        const auto lead = uint8_t(text[i]);
        size_t extra = lead < 0x80 ? 0 : (lead & 0xE0) == 0xC0 ? 1 : (lead & 0xF0) == 0xE0 ? 2 : (lead & 0xF8) == 0xF0 ? 3 : 9;
        if (extra == 9 || i + extra >= text.size())
            return false;
        uint32_t code = extra == 0 ? lead : lead & (0x3F >> extra);
        for (size_t k = 1; k <= extra; ++k) {
            if ((uint8_t(text[i + k]) & 0xC0) != 0x80)
                return false;
            code = code << 6 | (uint8_t(text[i + k]) & 0x3F);
        }
        static constexpr uint32_t kShortestOfLength[] = {0, 0x80, 0x800, 0x10000};
        if (code < kShortestOfLength[extra] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return false;  // overlong, beyond Unicode, or a surrogate
        i += extra + 1;
    }
    return true;
}

void Fail(const char* file, int line, const char* condition, const std::string& detail)
{
    // Texts from hostile files hold anything: NULs, control bytes, broken UTF-8.
    std::string shown;
    for (char c : detail) {
        if (c == '\n' || (c >= 0x20 && c < 0x7F)) {
            shown += c;
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", unsigned(uint8_t(c)));
            shown += escaped;
        }
    }
    std::fprintf(stderr, "%s:%d: check failed: %s\n  %s\n", file, line, condition, shown.c_str());
    std::fflush(stderr);
    std::abort();
}

} // namespace fuzz
