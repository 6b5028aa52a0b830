#include "WAVfile.h"

#include <array>

#include "ByteReader.h"
#include "files/BinaryFile.h"

TWAVfile::TWAVfile()
{
    Reset();
}

void TWAVfile::Reset()
{
    valid_ = false;
    channels_ = 0;
    sampleRate_ = 0;
    bitsPerSample_ = 0;
    fileSize_ = 0;
}

bool TWAVfile::Analyze(const std::string& fileName)
{
    Reset();
    std::array<uint8_t, kHeaderSize> header{};
    {
        BinaryFile file;
        if (!file.Open(fileName, BinaryFile::Mode::Read) || !file.ReadExact(header.data(), header.size()))
            return false;
    }
    const ByteReader bytes(header.data(), header.size());
    const uint16_t channels = bytes.LE16(22);
    if (!bytes.Matches(0, "RIFF") || !bytes.Matches(8, "WAVE") || !bytes.Matches(12, "fmt ")
        || (channels != 1 && channels != 2))
        return true;

    valid_ = true;
    fileSize_ = int64_t(bytes.LE32(4)) + 8;
    channels_ = static_cast<uint8_t>(channels);
    sampleRate_ = bytes.LE32(24);
    bitsPerSample_ = static_cast<uint8_t>(bytes.LE16(34) & 0xFF);
    return true;
}

double TWAVfile::Duration() const
{
    // A rate that is a multiple of 65536 (0 included) is no real rate; it
    // and a zero sample width leave the duration undefined, reported as 0.
    if (!valid_ || (sampleRate_ & 0xFFFF) == 0 || bitsPerSample_ == 0 || channels_ == 0)
        return 0;
    const int64_t audioBytes = fileSize_ - kHeaderSize;
    if (audioBytes <= 0)
        return 0;
    return double(audioBytes) * 8 / sampleRate_ / bitsPerSample_ / channels_;
}
