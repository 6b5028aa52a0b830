// Helpers for the player tests: a prompter that records what was shown, the
// one QCoreApplication the posted events need, condition waits that keep
// the event loop running, and small fixture files built in code.
#pragma once

#include "playback/MessagePrompter.h"
#include "support/ByteBuilders.h"

#include <QCoreApplication>
#include <QThread>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace playertest {

struct ShownMessage {
    std::string caption;
    std::string text;
    MessageIcon icon;
    bool operator==(const ShownMessage&) const = default;
};

class RecordingPrompter : public MessagePrompter {
public:
    void ShowMessage(const std::string& caption, const std::string& text, MessageIcon icon) override
    {
        shown.push_back({caption, text, icon});
    }
    std::vector<ShownMessage> shown;
};

inline void EnsureApplication()
{
    static int argc = 1;
    static char name[] = "playback-tests";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance())
        static QCoreApplication application(argc, argv);
}

// Runs the event loop until done() holds; false when limit passed first.
template <typename Predicate>
bool WaitFor(Predicate done, std::chrono::milliseconds limit = std::chrono::seconds(30))
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
    return true;
}

// Delivers whatever has been posted so far.
inline void DeliverPostedEvents()
{
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
}

// A canonical 44-byte-header WAV of silence: 16-bit, the given rate and channels.
inline std::vector<uint8_t> SilentWav(uint32_t sampleRate, uint16_t channels, uint32_t frames)
{
    return bytebuild::PcmWav(channels, sampleRate, 16, frames * channels * 2);
}

// An ID3v1.1 tag.
inline std::vector<uint8_t> Id3v1Tag(const std::string& title, const std::string& artist, const std::string& album,
                                     const std::string& year, const std::string& comment, uint8_t track,
                                     uint8_t genre)
{
    return bytebuild::Id3v1Block({title, artist, album, year, comment, track, genre});
}

// A four-channel ProTracker module (one sample, one note, 16 rows: 1.92 s)
// whose title and first sample name spell a WAV header with a format tag no
// WAV decoder knows. The WAV reader accepts it (it tests only the header's
// identifiers and channel count), the library's stream decoders refuse it,
// and module music plays it: the one way a file reaches the module player.
inline std::vector<uint8_t> ModuleDressedAsWav()
{
    constexpr size_t kSampleBytes = 4096;
    std::vector<uint8_t> bytes(1084 + 1024 + kSampleBytes, 0);
    auto text = [&](size_t offset, const char* s) {
        for (size_t i = 0; s[i]; ++i)
            bytes[offset + i] = static_cast<uint8_t>(s[i]);
    };
    auto le = [&](size_t offset, uint32_t value, int width) {
        for (int i = 0; i < width; ++i)
            bytes[offset + i] = static_cast<uint8_t>(value >> (8 * i));
    };
    // Bytes 0-19, the module's title.
    text(0, "RIFF");
    le(4, static_cast<uint32_t>(bytes.size() - 8), 4);
    text(8, "WAVE");
    text(12, "fmt ");
    le(16, 16, 4);
    // Bytes 20-41, the first sample's name.
    le(20, 0x7777, 2); // format tag
    le(22, 1, 2);      // channels
    le(24, 8000, 4);   // sample rate
    le(28, 16000, 4);  // bytes per second
    le(32, 2, 2);      // block align
    le(34, 16, 2);     // bits per sample
    text(36, "data");
    // Bytes 42-49, the rest of the first sample's header (big-endian words).
    bytes[42] = static_cast<uint8_t>((kSampleBytes / 2) >> 8);
    bytes[43] = static_cast<uint8_t>((kSampleBytes / 2) & 0xFF);
    bytes[45] = 64; // volume
    bytes[49] = 1;  // no loop
    for (size_t sample = 1; sample < 31; ++sample)
        bytes[20 + sample * 30 + 29] = 1; // empty samples, no loop
    bytes[950] = 1;   // song length: one pattern
    bytes[951] = 127;
    text(1080, "M.K.");
    const size_t pattern = 1084;
    // Row 0, channel 0: sample 1 at period 428 (C-3).
    bytes[pattern + 0] = 0x01;
    bytes[pattern + 1] = 0xAC;
    bytes[pattern + 2] = 0x10;
    // Row 15, channel 1: pattern break, so the song ends after 16 rows.
    bytes[pattern + 15 * 16 + 4 + 2] = 0x0D;
    // The sample: a square wave.
    for (size_t i = 0; i < kSampleBytes; ++i)
        bytes[1084 + 1024 + i] = (i / 16) % 2 ? 0x40 : 0xC0;
    return bytes;
}

} // namespace playertest
