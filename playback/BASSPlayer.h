// TBASSPlayer: plays one audio file at a time through the run-time bound
// audio library, and describes files through the four format readers.
// Lives on the main thread; its owner (the main window, a test, the
// command-line companion) destroys it. Times are milliseconds, bit rates
// kbit/s, volumes 0..100 (-1: leave the library's volume as it is).
//
// The library (libbass.so) is bound from libraryFolder once, in the
// constructor, and the add-on (libbasswma.so, when present) from the same
// folder when it is first needed; the binding is process-wide, so only one
// player should exist at a time. A player whose library is
// missing, of another version or without a device stays usable but not
// ready: Open then only answers "Player is not ready !".
//
// The end of a channel is noticed on the library's thread, which only posts
// an event; Mode becomes plmStopped (and modeChanged is emitted) when the
// main thread's event loop delivers it. modeChanged is emitted whenever
// Mode takes a new value.
#pragma once

#include <QObject>

#include <cstdint>
#include <memory>
#include <string>

#include "MessagePrompter.h"
#include "ProgramFolder.h"

class TMPEGaudio;
class TOggVorbis;
class TWMAfile;
class TWAVfile;

// Where a player's sound goes: the default sound device (the window), or
// the library's silent output, for programs that never play (the command
// line), so that no sound device is ever probed.
enum class PlayerOutput { SoundDevice, Silent };

enum TPlayerMode : uint8_t { plmStandby = 0, plmReady = 1, plmStopped = 2, plmPlaying = 3, plmPaused = 4 };
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

class TBASSPlayer : public QObject {
    Q_OBJECT

public:
    // Binds libbass.so (and libbasswma.so) from libraryFolder and prepares
    // the output; never throws on a missing or wrong library. Messages go to
    // prompter, or to stderr when it is null.
    explicit TBASSPlayer(QObject* owner, MessagePrompter* prompter = nullptr,
                         const std::string& libraryFolder = ProgramFolder());
    ~TBASSPlayer() override;

    void SetPrompter(MessagePrompter* prompter);
    // The output of players created from now on (SoundDevice at first).
    static void SetOutputOfNewPlayers(PlayerOutput output);

    // Describes the file by its extension and loads it as a library stream,
    // a WMA stream or module music, in that order. Shows every failure
    // through the prompter. Like GetStreamInfo, lets the Ogg reader's
    // CorvellaError through when an ".ogg" file cannot be opened.
    bool Open(const std::string& fileName);
    void Close();
    // True when the reader for the file's extension (".mp3", ".ogg", ".wma",
    // ".wav", any case) accepts it; info is cleared first in every case.
    bool GetStreamInfo(const std::string& fileName, TStreamInfo& info);
    // Milliseconds of the opened channel as the library decodes it; 0 when
    // nothing is open.
    uint32_t PlayLength() const;

    void Play();
    void PausePlay();
    void ResumePlay();
    void SetPaused(bool value);
    void Stop();

    uint32_t Position() const;
    void SetPosition(uint32_t ms);
    int32_t Volume() const;
    void SetVolume(int32_t value);

    TPlayerMode Mode() const;
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

signals:
    void modeChanged(TPlayerMode mode);

protected:
    void ShowError(const std::string& text);

private:
    void ShowMessage(const std::string& caption, const std::string& text, MessageIcon icon);
    void SetMode(TPlayerMode mode);
    // The posted end of a channel, on the main thread.
    void HandlePlayEnd(uint32_t channel);
    void FreeChannel();
    bool StartChannel();
    // Binds the add-on once a ready player first needs it.
    bool BindWmaAddOn() const;
    // Starts again from plmStopped.
    void Restart();

    struct Private;
    std::unique_ptr<Private> d;
};
