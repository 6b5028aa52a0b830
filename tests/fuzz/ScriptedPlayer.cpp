#include "ScriptedPlayer.h"

#include "playback/BASSChannel.h"

namespace {

PlayerAnswers next;

} // namespace

void SetPlayerAnswers(const PlayerAnswers& answers)
{
    next = answers;
}

struct TBASSChannel::Private {
    PlayerAnswers answers;
    bool open = false;
    TStreamInfo info;
};

TBASSChannel::TBASSChannel(MessagePrompter*, const std::string&) : d(std::make_unique<Private>()) {}

TBASSChannel::~TBASSChannel() = default;

bool TBASSChannel::PlayerReady() const
{
    return next.Ready;
}

bool TBASSChannel::Open(const std::string& fileName)
{
    d->answers = next;
    d->open = d->answers.Opens;
    d->info = TStreamInfo{};
    if (d->open) {
        d->info.FileName = fileName;
        d->info.BitRate = d->answers.BitRate;
        d->info.Duration = d->answers.LengthMs;
    }
    return d->open;
}

void TBASSChannel::Close()
{
    d->open = false;
}

uint32_t TBASSChannel::PlayLength() const
{
    return d->open ? d->answers.LengthMs : 0;
}

const TStreamInfo& TBASSChannel::StreamInfo() const
{
    return d->info;
}
