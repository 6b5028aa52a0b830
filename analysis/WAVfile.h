// TWAVfile: the stream parameters of a WAV file, taken from its 44-byte
// canonical RIFF/WAVE header without reading the audio. The header passes
// when it starts "RIFF", has "WAVE" and "fmt " in place and 1 or 2 channels;
// nothing else is tested, so chunks between the format chunk and the data
// are counted as audio by Duration.
//
// Units: bytes, Hz, seconds. One object is used by one thread at a time; no
// file stays open between calls.
#pragma once

#include <cstdint>
#include <string>

class TWAVfile {
public:
    static constexpr int64_t kHeaderSize = 44;

    TWAVfile();

    void Reset();
    // False when the file cannot be opened or holds fewer than 44 bytes;
    // true otherwise, Valid telling whether the header passed.
    bool Analyze(const std::string& fileName);

    bool Valid() const { return valid_; }
    uint8_t Channels() const { return channels_; }            // 1 or 2 when Valid
    // Hz. The header's full 32-bit value, so 88.2 and 96 kHz files describe correctly.
    uint32_t SampleRate() const { return sampleRate_; }
    uint8_t BitsPerSample() const { return bitsPerSample_; }  // low byte of the header's field
    int64_t FileSize() const { return fileSize_; }            // RIFF chunk size + 8
    // Seconds of everything after the 44-byte header; 0 when not Valid, when
    // the rate or the sample width is unusable, or when the RIFF size is
    // smaller than the header.
    double Duration() const;

private:
    bool valid_ = false;
    uint8_t channels_ = 0;
    uint32_t sampleRate_ = 0;
    uint8_t bitsPerSample_ = 0;
    int64_t fileSize_ = 0;
};
