// Helpers for the player tests: a prompter that records what was shown, the
// one QCoreApplication the posted events need, condition waits that keep
// the event loop running, and small fixture files built in code.
#pragma once

#include "playback/MessagePrompter.h"

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
    const uint32_t dataSize = frames * channels * 2;
    std::vector<uint8_t> bytes;
    auto text = [&](const char* s) { bytes.insert(bytes.end(), s, s + 4); };
    auto le = [&](uint32_t value, int width) {
        for (int i = 0; i < width; ++i)
            bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
    };
    text("RIFF");
    le(36 + dataSize, 4);
    text("WAVE");
    text("fmt ");
    le(16, 4);
    le(1, 2);                         // PCM
    le(channels, 2);
    le(sampleRate, 4);
    le(sampleRate * channels * 2, 4); // bytes per second
    le(channels * 2, 2);              // block align
    le(16, 2);                        // bits per sample
    text("data");
    le(dataSize, 4);
    bytes.resize(bytes.size() + dataSize, 0);
    return bytes;
}

// An ID3v1.1 tag, laid out field by field as the format defines it.
inline std::vector<uint8_t> Id3v1Tag(const std::string& title, const std::string& artist, const std::string& album,
                                     const std::string& year, const std::string& comment, uint8_t track,
                                     uint8_t genre)
{
    std::vector<uint8_t> tag(128, 0);
    auto put = [&](size_t offset, const std::string& value, size_t width) {
        for (size_t i = 0; i < value.size() && i < width; ++i)
            tag[offset + i] = static_cast<uint8_t>(value[i]);
    };
    put(0, "TAG", 3);
    put(3, title, 30);
    put(33, artist, 30);
    put(63, album, 30);
    put(93, year, 4);
    put(97, comment, 28);
    tag[125] = 0;
    tag[126] = track;
    tag[127] = genre;
    return tag;
}

} // namespace playertest
