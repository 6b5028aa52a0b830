#include "ScriptedPlayer.h"

#include "playback/BASSPlayer.h"

namespace {

PlayerAnswers next;

} // namespace

void SetPlayerAnswers(const PlayerAnswers& answers)
{
    next = answers;
}

struct TBASSPlayer::Private {
    PlayerAnswers answers;
    bool open = false;
    TStreamInfo info;
};

TBASSPlayer::TBASSPlayer(QObject* owner, MessagePrompter*, const std::string&)
    : QObject(owner), d(std::make_unique<Private>())
{
}

TBASSPlayer::~TBASSPlayer() = default;

bool TBASSPlayer::PlayerReady() const
{
    return next.Ready;
}

bool TBASSPlayer::Open(const std::string& fileName)
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

void TBASSPlayer::Close()
{
    d->open = false;
}

uint32_t TBASSPlayer::PlayLength() const
{
    return d->open ? d->answers.LengthMs : 0;
}

const TStreamInfo& TBASSPlayer::StreamInfo() const
{
    return d->info;
}
