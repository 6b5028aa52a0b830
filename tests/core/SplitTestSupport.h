// Shared by the cutter and split command tests: a scripted SplitUi that
// records every prompt, message and gauge change in order, the one
// QCoreApplication the player needs, fixtures made by lame, and readers of
// the byte layout of an MP3 file written independently of the code under test.
#pragma once

#include <QCoreApplication>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/SplitCommands.h"
#include "support/TestSupport.h"

namespace splittest {

inline void EnsureApplication()
{
    static int argc = 1;
    static char name[] = "corvella-tests";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* application = QCoreApplication::instance() ? nullptr : new QCoreApplication(argc, argv);
    (void)application;
}

class ScriptedUi : public SplitUi {
public:
    std::vector<std::string> Events;
    std::optional<std::string> SaveAnswer;
    std::optional<std::string> FolderAnswer;
    std::function<void(int pumpNumber)> OnPump;  // pumpNumber counts from 1
    int Pumps = 0;

    void ShowMessage(const std::string& caption, const std::string& text, MessageIcon icon) override
    {
        if (caption == "Information" && icon == MessageIcon::Information)
            Events.push_back("message:" + text);
        else
            Events.push_back("box:" + caption + ":" + text);
    }
    std::optional<std::string> AskOpenFileName() override
    {
        Events.push_back("open-dialog");
        return std::nullopt;
    }
    std::optional<std::string> AskSaveFileName(const std::string& proposedName) override
    {
        Events.push_back("save-dialog:" + proposedName);
        return SaveAnswer;
    }
    bool ExecuteFolderPicker(std::string& path) override
    {
        Events.push_back("folder-picker");
        if (!FolderAnswer)
            return false;
        path = *FolderAnswer;
        return true;
    }
    void SetProgressVisible(bool visible) override { Events.push_back(visible ? "gauge-shown" : "gauge-hidden"); }
    void SetProgress(int percent) override { Events.push_back("gauge:" + std::to_string(percent)); }
    void ProcessMessages() override
    {
        Events.push_back("pump");
        ++Pumps;
        if (OnPump)
            OnPump(Pumps);
    }
    void StopPlayerTimer() override { Events.push_back("timer-stopped"); }

    // Only the events of one kind (the prefix before ':'), in order.
    std::vector<std::string> Only(const std::string& kind) const
    {
        std::vector<std::string> result;
        for (const auto& event : Events)
            if (event.compare(0, kind.size(), kind) == 0)
                result.push_back(event);
        return result;
    }
};

// Size of a leading ID3v2 tag (header, frames and footer), 0 without one.
inline size_t Id3v2Length(const std::vector<uint8_t>& bytes)
{
    if (bytes.size() < 10 || bytes[0] != 'I' || bytes[1] != 'D' || bytes[2] != '3')
        return 0;
    size_t size = size_t(bytes[6] & 0x7F) << 21 | size_t(bytes[7] & 0x7F) << 14 | size_t(bytes[8] & 0x7F) << 7
        | size_t(bytes[9] & 0x7F);
    return 10 + size + ((bytes[5] & 0x10) ? 10 : 0);
}

inline bool HasId3v1(const std::vector<uint8_t>& bytes)
{
    size_t n = bytes.size();
    return n >= 128 && bytes[n - 128] == 'T' && bytes[n - 127] == 'A' && bytes[n - 126] == 'G';
}

// The audio of a file: everything between the tags.
inline std::vector<uint8_t> AudioOf(const std::vector<uint8_t>& bytes)
{
    size_t begin = Id3v2Length(bytes);
    size_t end = bytes.size() - (HasId3v1(bytes) ? 128 : 0);
    return std::vector<uint8_t>(bytes.begin() + static_cast<std::ptrdiff_t>(begin),
                                bytes.begin() + static_cast<std::ptrdiff_t>(end));
}

inline bool StartsWithFrameSync(const std::vector<uint8_t>& audio)
{
    return audio.size() >= 4 && audio[0] == 0xFF && (audio[1] & 0xE0) == 0xE0;
}

// The bytes of the first frame's side information where lame puts its
// "Xing" (VBR) or "Info" (CBR) header, for MPEG 1 and MPEG 2 in any mode.
inline bool FirstFrameIsVbrHeader(const std::vector<uint8_t>& audio)
{
    for (size_t offset : {13, 21, 36}) {
        if (audio.size() < offset + 4)
            continue;
        std::string id(audio.begin() + static_cast<std::ptrdiff_t>(offset),
                       audio.begin() + static_cast<std::ptrdiff_t>(offset + 4));
        if (id == "Xing" || id == "Info" || id == "VBRI")
            return true;
    }
    return false;
}

// The LAME encoder delay of an audio stream whose first frame is lame's
// Info or Xing frame (MPEG 1 stereo, where the extension's delay sits 141
// bytes behind the frame's start plus the side information); 0 without one.
inline int64_t LameDelay(const std::vector<uint8_t>& audio)
{
    size_t at = 36 + 120 + 21;
    if (audio.size() < at + 3 || !FirstFrameIsVbrHeader(audio))
        return 0;
    return int64_t(audio[at]) << 4 | audio[at + 1] >> 4;
}

// Length of an MPEG 1 or 2 Layer III frame from its header, as ISO 11172-3
// and 13818-3 define it (for the lame files the tests make).
inline size_t Layer3FrameLength(const uint8_t* header)
{
    static const int mpeg1Rates[] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0};
    static const int mpeg2Rates[] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0};
    static const int sampleRates[4][3] = {{11025, 12000, 8000}, {0, 0, 0}, {22050, 24000, 16000}, {44100, 48000, 32000}};
    int version = (header[1] >> 3) & 3;
    int rate = (version == 3 ? mpeg1Rates : mpeg2Rates)[header[2] >> 4];
    int sampleRate = sampleRates[version][(header[2] >> 2) & 3];
    int coefficient = version == 3 ? 144 : 72;
    return static_cast<size_t>(coefficient * rate * 1000 / sampleRate + ((header[2] >> 1) & 1));
}

// Offsets (within the audio) at which frames start, walking from 0.
inline std::vector<size_t> Layer3FrameStarts(const std::vector<uint8_t>& audio)
{
    std::vector<size_t> starts;
    for (size_t p = 0; p + 4 <= audio.size() && audio[p] == 0xFF; p += Layer3FrameLength(&audio[p]))
        starts.push_back(p);
    return starts;
}

// The audio of a part after its header frame, which must be there: what a
// part holds of its source.
inline std::vector<uint8_t> AudioAfterHeaderFrame(const std::vector<uint8_t>& bytes)
{
    auto audio = AudioOf(bytes);
    if (!StartsWithFrameSync(audio) || !FirstFrameIsVbrHeader(audio))
        return {};
    size_t header = Layer3FrameLength(audio.data());
    return std::vector<uint8_t>(audio.begin() + static_cast<std::ptrdiff_t>(std::min(header, audio.size())), audio.end());
}

} // namespace splittest
