// Shared by the cutter and split command tests: a scripted SplitUi that
// records every prompt, message and gauge change in order, the one
// QCoreApplication the player needs, fixtures made by lame, and readers of
// the byte layout of an MP3 file written independently of the code under test.
#pragma once

#include <QCoreApplication>

#include <cstdio>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <optional>
#include <string>
#include <vector>

#include "core/SplitCommands.h"
#include "support/ByteBuilders.h"
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

// Length of an MPEG 1, 2 or 2.5 Layer II or III frame from its header, by
// the standard's tables; 0 for anything else (no sync, Layer I, reserved
// or free-format fields).
inline size_t MpegFrameLength(const uint8_t* header)
{
    if (header[0] != 0xFF || (header[1] & 0xE0) != 0xE0 || ((header[1] >> 1) & 3) == 3)
        return 0;
    const size_t length = bytebuild::MpegFrameLength({header[0], header[1], header[2], header[3]});
    return length > 4 ? length : 0;
}

// The audio of a part after its header frame, which must be there: what a
// part holds of its source.
inline std::vector<uint8_t> AudioAfterHeaderFrame(const std::vector<uint8_t>& bytes)
{
    auto audio = AudioOf(bytes);
    if (!StartsWithFrameSync(audio) || !FirstFrameIsVbrHeader(audio))
        return {};
    size_t header = MpegFrameLength(audio.data());
    return std::vector<uint8_t>(audio.begin() + static_cast<std::ptrdiff_t>(std::min(header, audio.size())), audio.end());
}

// What a part's header frame says, read by the layout LAME writes (the
// LAME extension behind the Xing fields its flags name), and whether its
// LAME extension's CRC-16 (0x8005 reflected, over the frame up to the CRC)
// is right.
struct PartHeaderFrame {
    std::string Id;  // "Xing" or "Info"; empty when the first frame is neither
    uint32_t Frames = 0;
    uint32_t Bytes = 0;
    std::vector<uint8_t> Toc;  // empty without one
    int Delay = 0;
    int Padding = 0;
    uint16_t MusicCrc = 0;
    bool CrcRight = false;
};

inline uint16_t ReflectedCrc16(const uint8_t* bytes, size_t count)
{
    uint16_t crc = 0;
    for (size_t i = 0; i < count; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<uint16_t>((crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1);
    }
    return crc;
}

inline PartHeaderFrame ReadPartHeaderFrame(const std::vector<uint8_t>& audio)
{
    PartHeaderFrame header;
    if (audio.size() < 4)
        return header;
    bool mpeg1 = ((audio[1] >> 3) & 3) == 3;
    bool mono = (audio[3] >> 6) == 3;
    size_t at = mpeg1 ? (mono ? 21 : 36) : (mono ? 13 : 21);
    if (audio.size() < at + 56)
        return header;
    auto word = [&](size_t offset) {
        return uint32_t(audio[offset]) << 24 | uint32_t(audio[offset + 1]) << 16 | uint32_t(audio[offset + 2]) << 8
            | audio[offset + 3];
    };
    header.Id.assign(audio.begin() + static_cast<std::ptrdiff_t>(at), audio.begin() + static_cast<std::ptrdiff_t>(at + 4));
    if (header.Id != "Xing" && header.Id != "Info") {
        header.Id.clear();
        return header;
    }
    const uint32_t flags = word(at + 4);
    if (flags != 0x0F && flags != 0x0B)
        return header;
    const bool toc = flags == 0x0F;
    size_t lame = at + (toc ? 120 : 20);
    if (audio.size() < lame + 36)
        return header;
    header.Frames = word(at + 8);
    header.Bytes = word(at + 12);
    if (toc)
        header.Toc.assign(audio.begin() + static_cast<std::ptrdiff_t>(at + 16), audio.begin() + static_cast<std::ptrdiff_t>(at + 116));
    header.Delay = audio[lame + 21] << 4 | audio[lame + 22] >> 4;
    header.Padding = (audio[lame + 22] & 0x0F) << 8 | audio[lame + 23];
    header.MusicCrc = static_cast<uint16_t>(audio[lame + 32] << 8 | audio[lame + 33]);
    header.CrcRight = ReflectedCrc16(audio.data(), lame + 34) == (audio[lame + 34] << 8 | audio[lame + 35]);
    return header;
}

// Frame starts of an audio stream (Layers II and III), walking from 0.
inline std::vector<size_t> MpegFrameStarts(const std::vector<uint8_t>& audio)
{
    std::vector<size_t> starts;
    for (size_t p = 0; p + 4 <= audio.size();) {
        size_t length = MpegFrameLength(&audio[p]);
        if (length == 0)
            break;
        starts.push_back(p);
        p += length;
    }
    return starts;
}

// The files the decoding tests cut, made once from one recording: two
// seconds of a quiet chord, then two of loud noise, so that a VBR encoder
// moves between its lowest and highest rates and the bit reservoir is
// busy around the change.
struct EncodedFixture {
    std::string Name;
    int SampleRate = 44100;
    int Channels = 2;
    int SamplesPerFrame = 1152;
    bool Layer3 = true;
    bool Variable = false;
};

inline const std::vector<EncodedFixture>& EncodedFixtures()
{
    static const std::vector<EncodedFixture> fixtures = {
        {"cbr.mp3", 44100, 2, 1152, true, false},   {"vbr.mp3", 44100, 2, 1152, true, true},
        {"mono.mp3", 44100, 1, 1152, true, false},  {"mpeg2.mp3", 22050, 2, 576, true, false},
        {"layer2.mp3", 44100, 2, 1152, false, false}};
    return fixtures;
}

inline void MakeEncodedFixtures(const testsupport::TempDir& folder)
{
    const std::vector<std::string> commands = {
        "sox -R -n -r 44100 -c 2 -b 16 quiet.wav synth 2 sine 300 sine 500 vol 0.05",
        "sox -R -n -r 44100 -c 2 -b 16 loud.wav synth 2 pinknoise vol 0.8",
        "sox quiet.wav loud.wav mix.wav",
        "lame --quiet -b 128 mix.wav cbr.mp3",
        "lame --quiet -V0 mix.wav vbr.mp3",
        "lame --quiet -m m -b 64 mix.wav mono.mp3",
        "lame --quiet --resample 22.05 -b 64 mix.wav mpeg2.mp3",
        "ffmpeg -v error -i mix.wav -c:a mp2 -b:a 192k -f mp2 layer2.mp3"};
    const std::vector<std::string> files = {"quiet.wav", "loud.wav", "mix.wav", "cbr.mp3",
                                            "vbr.mp3", "mono.mp3", "mpeg2.mp3", "layer2.mp3"};
    testsupport::CopyFixtures(testsupport::CachedFixtures(commands, files), files, folder.Path().string());
}

// 16-bit samples (channels interleaved) as ffmpeg or mpg123 decode a file;
// both drop what a LAME extension's delay and padding tell them to.
inline std::vector<int16_t> DecodeWith(const std::string& decoder, const std::string& file)
{
    using testsupport::Quote;
    std::string pcm = file + "." + decoder.substr(0, decoder.find(' ')) + ".pcm";
    std::string command = decoder.rfind("mpg123", 0) == 0 ? decoder + " -q -s " + Quote(file) + " > " + Quote(pcm)
                                                           : decoder + " -y -v error -i " + Quote(file) + " -f s16le "
                                                                 + Quote(pcm);
    auto result = testsupport::Run(command + " 2>/dev/null");
    std::vector<int16_t> samples;
    if (result.exitCode != 0)
        return samples;
    auto bytes = testsupport::ReadBytes(pcm);
    samples.resize(bytes.size() / 2);
    std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
    std::remove(pcm.c_str());
    return samples;
}

} // namespace splittest
