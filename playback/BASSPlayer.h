// TBASSPlayer: plays one audio file at a time through the run-time bound
// audio library (TBASSChannel: binding, opening, describing). Lives on the
// main thread; its owner (the main window, a test) destroys it. Times are
// milliseconds, volumes 0..100 (-1: leave the library's volume as it is).
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

#include "BASSChannel.h"

enum TPlayerMode : uint8_t { plmStandby = 0, plmReady = 1, plmStopped = 2, plmPlaying = 3, plmPaused = 4 };

class TBASSPlayer : public QObject, public TBASSChannel {
    Q_OBJECT

public:
    // Binds the library as TBASSChannel does.
    explicit TBASSPlayer(QObject* owner, MessagePrompter* prompter = nullptr,
                         const std::string& libraryFolder = ProgramFolder());
    ~TBASSPlayer() override;

    // As TBASSChannel's, and Mode becomes plmReady, or plmStandby.
    bool Open(const std::string& fileName) override;
    void Close() override;

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

signals:
    void modeChanged(TPlayerMode mode);

protected:
    void ChannelFreed() override;

private:
    void SetMode(TPlayerMode mode);
    // The posted end of a channel, on the main thread.
    void HandlePlayEnd(uint32_t channel);
    bool StartChannel();
    // Starts again from plmStopped.
    void Restart();

    struct Private;
    std::unique_ptr<Private> d;
};
