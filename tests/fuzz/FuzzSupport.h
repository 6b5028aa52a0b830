// What every fuzz target shares: the input as a file, the failure report,
// and the checks on texts.
//
// The readers open files by name, so each input is put into an in-memory
// file (memfd) and handed over by its /proc/self/fd name: the same open,
// seek and read calls a file on disk goes through, without touching a disk.
//
// A target is one LLVMFuzzerTestOneInput. libFuzzer drives it in the
// sanitizer build; ReplayMain drives it in every build over the corpus and
// the inputs that once failed (regressions/<target>/).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace fuzz {

using Bytes = std::vector<uint8_t>;

class MemoryFile {
public:
    explicit MemoryFile(const char* name);
    ~MemoryFile();
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;

    // Replaces the whole content.
    void Assign(const uint8_t* data, size_t size);
    void Assign(const Bytes& bytes) { Assign(bytes.data(), bytes.size()); }
    const std::string& Path() const { return path_; }

private:
    int fd_ = -1;
    std::string path_;
};

// A folder of this process on a memory file system (/dev/shm when there is
// one), for targets that must write real files; removed at exit.
const std::string& ScratchFolder();

Bytes ReadWholeFile(const std::string& path);

// Reads the parameters a target takes from the front of its input; past the
// end it gives zeros, so every input is a valid one.
class ByteSource {
public:
    ByteSource(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool Empty() const { return at_ >= size_; }
    uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
    uint32_t Word(int bytes)
    {
        uint32_t value = 0;
        for (int k = 0; k < bytes; ++k)
            value |= uint32_t(Byte()) << (8 * k);
        return value;
    }
    // Up to count bytes, fewer at the end of the input.
    Bytes Take(size_t count);

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

bool IsUtf8(std::string_view text);

// Reports a broken property on stderr and aborts, which libFuzzer records
// as a crash with the input that caused it.
[[noreturn]] void Fail(const char* file, int line, const char* condition, const std::string& detail);

} // namespace fuzz

#define FUZZ_CHECK(condition, detail) \
    do { \
        if (!(condition)) \
            ::fuzz::Fail(__FILE__, __LINE__, #condition, (detail)); \
    } while (0)

#define FUZZ_CHECK_UTF8(text) FUZZ_CHECK(::fuzz::IsUtf8(text), #text " is not UTF-8: " + (text))
