// BinaryFile: one open file, closed by its destructor. Positions and sizes
// are 64-bit byte counts. No operation throws: each reports failure by its
// result and keeps the system's reason in LastError(); callers that must
// end a command on an error turn it into a CorvellaError themselves.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/types.h>

class BinaryFile {
public:
    enum class Mode {
        Read,            // existing file, reading only
        ReadWrite,       // existing file, reading and writing
        CreateNew,       // a new file; fails when the name exists (also as a link)
        CreateTruncate,  // created or emptied
    };

    BinaryFile() = default;
    ~BinaryFile();
    BinaryFile(const BinaryFile&) = delete;
    BinaryFile& operator=(const BinaryFile&) = delete;
    BinaryFile(BinaryFile&& other) noexcept;
    BinaryFile& operator=(BinaryFile&& other) noexcept;

    // Closes any file held before. New files get the permissions 0666 less the umask.
    bool Open(const std::string& path, Mode mode);
    // Opens with open(2) flags and the mode a created file gets (less the
    // umask); close-on-exec is always added.
    bool Open(const std::string& path, int flags, mode_t mode);
    // Opens for reading the file that other holds open: not the name it was
    // opened by, which may meanwhile name another file. The two descriptors
    // keep file positions of their own, so two threads can read one file.
    bool OpenSameFileAs(const BinaryFile& other);
    bool IsOpen() const { return fd_ >= 0; }
    void Close();

    int64_t Size();                    // -1 on failure
    bool Seek(int64_t position);       // absolute; fails for a negative position
    int64_t Position();                // -1 on failure
    // Reads up to count bytes; fewer only at the end of the file or on an
    // error (then LastError() is set). Returns the number read.
    size_t Read(void* buffer, size_t count);
    bool ReadExact(void* buffer, size_t count);
    bool Write(const void* buffer, size_t count);
    // Writes at position without moving the file position.
    bool WriteAt(int64_t position, const void* buffer, size_t count);
    bool Truncate(int64_t size);
    bool SyncToDisk();

    int Descriptor() const { return fd_; }
    const std::string& LastError() const { return lastError_; }

private:
    void RememberError();
    // Calls writeSome(at, left, done) until count bytes are written, again
    // after an interrupted call; false, the error remembered, when a call
    // fails or writes nothing.
    template <typename WriteSome>
    bool WriteWhole(const void* buffer, size_t count, WriteSome writeSome);

    int fd_ = -1;
    std::string lastError_;
};

// The system's text for an errno value, as the user should read it.
std::string SystemErrorText(int errorNumber);
