// TBASSChannel: the audio library bound at run time, and one file opened in
// it as a channel; describes files through DescribeFile. This is
// all the cutter and the command-line companion ask of a player (a length
// and a bit rate), and it needs no event loop: TBASSPlayer adds playing
// and its mode on top, for the window.
//
// The library (libbass.so) is bound from libraryFolder by the first
// player, and the add-on (libbasswma.so, when present) from the same
// folder when it is first needed; the binding and the output are
// process-wide and shared by every player alive (on any threads: one
// player belongs to one thread at a time), and freed with the last. A player whose library is missing, of
// another version or without a device stays usable but not ready: Open then
// only answers "Player is not ready !". Times are milliseconds, bit rates
// kbit/s.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "MessagePrompter.h"
#include "ProgramFolder.h"

// Where a player's sound goes: the default sound device (the window), or
// the library's silent output, for programs that never play (the command
// line), so that no sound device is ever probed.
enum class PlayerOutput { SoundDevice, Silent };

enum TChannelType : uint8_t { ctUnknown = 0, ctStream = 1, ctWMA = 2, ctMusic = 3 };

// The description of an opened file. Texts are UTF-8.
struct TStreamInfo {
    std::string FileName;
    int64_t FileSize = 0;   // bytes
    uint32_t SampleRate = 0; // Hz
    int32_t BitRate = 0;    // kbit/s
    uint32_t Duration = 0;  // ms
    uint16_t Channels = 0;
    std::string Title;
    std::string Artist;
    std::string Album;
    std::string Year;
    std::string Genre;
    uint8_t GenreID = 0;
    uint8_t Track = 0;
    std::string Comment;
};

class TBASSChannel {
public:
    // Binds libbass.so (and libbasswma.so) from libraryFolder and prepares
    // the output; never throws on a missing or wrong library. Messages go to
    // prompter, or to stderr when it is null.
    explicit TBASSChannel(MessagePrompter* prompter = nullptr, const std::string& libraryFolder = ProgramFolder());
    virtual ~TBASSChannel();
    TBASSChannel(const TBASSChannel&) = delete;
    TBASSChannel& operator=(const TBASSChannel&) = delete;

    void SetPrompter(MessagePrompter* prompter);
    // The output of players created from now on (SoundDevice at first).
    static void SetOutputOfNewPlayers(PlayerOutput output);

    // Describes the file by its extension and loads it as a library stream,
    // a WMA stream or module music, in that order; module music (".mod",
    // ".xm", ".s3m", ".it") is loaded as music only, and described from it. Shows every failure
    // through the prompter.
    virtual bool Open(const std::string& fileName);
    virtual void Close();
    // True when DescribeFile finds the file valid (a reader for ".mp3",
    // ".ogg", ".wma" or ".wav", any case, accepts it); info is cleared first
    // in every case.
    bool GetStreamInfo(const std::string& fileName, TStreamInfo& info);
    // Milliseconds of the opened channel as the library decodes it; 0 when
    // nothing is open.
    uint32_t PlayLength() const;

    TChannelType ChannelType() const;
    bool PlayerReady() const;
    // Whether the WMA add-on is bound. It is bound when first needed (a file
    // the library's own streams refuse, or this question), not with the
    // player: it brings in FFmpeg, which nothing else needs.
    bool WMAReady() const;
    std::string Version() const;     // always "1.2"
    std::string BASSDLLVer() const;  // "1.8", empty when the library was not bound
    bool DX8EffectReady() const;
    const std::string& StreamName() const;
    const TStreamInfo& StreamInfo() const;

protected:
    void ShowError(const std::string& text);
    void ShowMessage(const std::string& caption, const std::string& text, MessageIcon icon);
    // The library's handle of the opened channel; 0 when nothing is open.
    uint32_t Channel() const;
    // Milliseconds of the opened channel's decoded bytes, rounded.
    uint32_t BytesToMs(uint64_t bytes) const;
    // Called whenever the channel is released (closed, or replaced by the
    // next file), before the next one is made.
    virtual void ChannelFreed() {}

private:
    void FreeChannel();
    // The opened music's description: no reader knows modules.
    TStreamInfo DescribeMusic(const std::string& fileName) const;
    // Binds and starts the library for the first player.
    void StartLibrary();
    // Binds the add-on once a ready player first needs it.
    bool BindWmaAddOn() const;

    struct Private;
    std::unique_ptr<Private> d;
};
