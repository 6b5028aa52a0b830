#include "BASSPlayer.h"

#include "PlayEndWindow.h"
#include "RT_BASSWMA.h"
#include "RT_bass.h"

struct TBASSPlayer::Private {
    PlayEndWindow* window = nullptr; // child of the player
    HSYNC syncHandle = 0;
    int32_t musicVolume = 0;
    int32_t streamVolume = 0;
    TPlayerMode mode = plmStandby;
};

TBASSPlayer::TBASSPlayer(QObject* owner, MessagePrompter* prompter, const std::string& libraryFolder)
    : QObject(owner), TBASSChannel(prompter, libraryFolder), d(std::make_unique<Private>())
{
    d->window = new PlayEndWindow(this);
    connect(d->window, &PlayEndWindow::playEnded, this, [this](DWORD channel) { HandlePlayEnd(channel); });
    if (!PlayerReady())
        return;
    DWORD musicVolume = 0, sampleVolume = 0, streamVolume = 0;
    BASS_GetGlobalVolumes(&musicVolume, &sampleVolume, &streamVolume);
    d->musicVolume = static_cast<int32_t>(musicVolume);
    d->streamVolume = static_cast<int32_t>(streamVolume);
}

TBASSPlayer::~TBASSPlayer()
{
    if (d->mode == plmPlaying)
        Stop();
}

void TBASSPlayer::SetMode(TPlayerMode mode)
{
    if (d->mode == mode)
        return;
    d->mode = mode;
    emit modeChanged(mode);
}

void TBASSPlayer::HandlePlayEnd(uint32_t channel)
{
    // An end posted for a channel that has since been released (the file
    // was closed or another one opened) says nothing about the current one.
    if (ChannelType() == ctUnknown || channel != Channel())
        return;
    SetMode(plmStopped);
}

void TBASSPlayer::ChannelFreed()
{
    d->syncHandle = 0;
    d->window->Disarm();
}

bool TBASSPlayer::Open(const std::string& fileName)
{
    if (!TBASSChannel::Open(fileName))
        return false;
    SetMode(plmReady);
    return true;
}

void TBASSPlayer::Close()
{
    TBASSChannel::Close();
    SetMode(plmStandby);
}

bool TBASSPlayer::StartChannel()
{
    if (ChannelType() == ctStream || ChannelType() == ctWMA)
        return BASS_StreamPlay(Channel(), FALSE, 0) != FALSE;
    if (ChannelType() == ctMusic)
        return BASS_MusicPlay(Channel()) != FALSE;
    return false;
}

void TBASSPlayer::Play()
{
    if (ChannelType() == ctUnknown || d->mode == plmPlaying)
        return;
    if (d->mode == plmPaused) {
        ResumePlay();
        return;
    }
    if (d->mode == plmStopped) {
        SetPosition(0);
        Restart();
        return;
    }
    if (!StartChannel())
        return;
    void* const user = d->window->Arm();
    if (ChannelType() == ctWMA)
        d->syncHandle = BASS_WMA_ChannelSetSync(Channel(), BASS_SYNC_END, 0, &PlayEndWindow::SyncProc, user);
    else
        d->syncHandle = BASS_ChannelSetSync(Channel(), BASS_SYNC_END, 0, &PlayEndWindow::SyncProc, user);
    SetMode(plmPlaying);
}

void TBASSPlayer::Restart()
{
    // The end sync set by the first start stays attached to the channel.
    if (d->mode == plmStopped && StartChannel())
        SetMode(plmPlaying);
}

void TBASSPlayer::PausePlay()
{
    if (d->mode != plmPlaying)
        return;
    BASS_ChannelPause(Channel());
    SetMode(plmPaused);
}

void TBASSPlayer::ResumePlay()
{
    if (d->mode != plmPaused)
        return;
    BASS_ChannelResume(Channel());
    SetMode(plmPlaying);
}

void TBASSPlayer::SetPaused(bool value)
{
    if (value)
        PausePlay();
    else
        ResumePlay();
}

void TBASSPlayer::Stop()
{
    if (d->mode != plmPlaying)
        return;
    BASS_ChannelStop(Channel());
    SetMode(plmStopped);
}

uint32_t TBASSPlayer::Position() const
{
    if (ChannelType() != ctStream && ChannelType() != ctWMA)
        return 0;
    const auto position = static_cast<int64_t>(BASS_ChannelGetPosition(Channel()));
    const uint64_t bytes = position < 0 ? 0 : static_cast<uint64_t>(position);
    return BytesToMs(bytes);
}

void TBASSPlayer::SetPosition(uint32_t ms)
{
    // The analyser's duration bounds a seek, not the library's length.
    if (ChannelType() == ctUnknown || ms > StreamInfo().Duration)
        return;
    const QWORD bytes = BASS_ChannelSeconds2Bytes(Channel(), static_cast<float>(ms / 1000.0));
    if (ChannelType() == ctStream || ChannelType() == ctWMA)
        BASS_ChannelSetPosition(Channel(), bytes);
}

int32_t TBASSPlayer::Volume() const
{
    return ChannelType() == ctMusic ? d->musicVolume : d->streamVolume;
}

void TBASSPlayer::SetVolume(int32_t value)
{
    // -1 passes: the library then keeps its volume as it is.
    if (value > 100)
        value = 100;
    else if (value < -1)
        value = 0;
    // A player that is not ready may hold no library, or one of the wrong
    // version; only the stored value changes then.
    if (ChannelType() == ctMusic) {
        if (PlayerReady())
            BASS_SetGlobalVolumes(value, -1, -1);
        d->musicVolume = value;
    } else {
        if (PlayerReady())
            BASS_SetGlobalVolumes(-1, -1, value);
        d->streamVolume = value;
    }
}

TPlayerMode TBASSPlayer::Mode() const
{
    return d->mode;
}
