#include "Channel.h"

#include "EngineError.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace engine {

namespace {
constexpr int64_t kDecodeChunkFrames = 2048;
}

Channel::Channel(DWORD handle, ChannelKind kind, std::unique_ptr<Decoder> decoder, bool decodeOnly)
    : handle_(handle), kind_(kind), decodeOnly_(decodeOnly), decoder_(std::move(decoder)) {
    rate_ = decoder_->SampleRate();
    channels_ = decoder_->Channels();
    lengthFrames_ = decoder_->LengthFrames();
    // Every source, 8-bit ones included, is decoded to 16-bit samples, and
    // the flags describe the channel's own samples.
    flags_ = channels_ == 1 ? BASS_SAMPLE_MONO : 0;
}

bool Channel::Play() {
    std::lock_guard lock(stateMutex_);
    if (state_ == State::Playing)
        return false;
    state_ = State::Playing;
    return true;
}

void Channel::Pause(int64_t heardEnd) {
    std::lock_guard lock(stateMutex_);
    if (state_ != State::Playing)
        Fail(BASS_ERROR_NOPLAY);
    HaltLocked(heardEnd, State::Paused);
}

void Channel::Resume() {
    std::lock_guard lock(stateMutex_);
    if (state_ != State::Paused)
        Fail(BASS_ERROR_NOPAUSE);
    state_ = State::Playing;
}

void Channel::Stop(int64_t heardEnd) {
    std::lock_guard lock(stateMutex_);
    if (state_ == State::Playing)
        HaltLocked(heardEnd, State::Stopped);
    else
        state_ = State::Stopped;
}

void Channel::SetPosition(int64_t frame) {
    if (frame < 0 || (lengthFrames_ >= 0 && frame > lengthFrames_))
        Fail(BASS_ERROR_POSITION);
    std::lock_guard lock(stateMutex_);
    held_ = frame;
    pendingSeek_ = frame;
    marks_.clear();
    ending_ = false;
    ++generation_;
}

int64_t Channel::Position(int64_t playedOut) const {
    std::lock_guard lock(stateMutex_);
    return PositionLocked(playedOut);
}

DWORD Channel::Activity() const {
    std::lock_guard lock(stateMutex_);
    switch (state_) {
    case State::Playing:
        return BASS_ACTIVE_PLAYING;
    case State::Paused:
        return BASS_ACTIVE_PAUSED;
    case State::Stopped:
        break;
    }
    return BASS_ACTIVE_STOPPED;
}

void Channel::MarkFreed() {
    std::lock_guard lock(stateMutex_);
    freed_ = true;
}

void Channel::CutAt(int64_t cut) {
    std::lock_guard lock(stateMutex_);
    if (state_ != State::Playing || (ending_ && endOut_ <= cut))
        return;  // nothing rendered beyond the cut
    const int64_t at = PositionLocked(cut);
    while (!marks_.empty() && marks_.back().outStart >= cut)
        marks_.pop_back();
    if (!marks_.empty() && marks_.back().outEnd > cut) {
        marks_.back().outEnd = cut;
        marks_.back().srcEnd = at;
    }
    held_ = at;
    pendingSeek_ = at;
    ending_ = false;
    ++generation_;
}

void Channel::AddSync(HSYNC sync, SYNCPROC* proc, void* user) {
    std::lock_guard lock(stateMutex_);
    syncs_.push_back({sync, proc, user});
}

bool Channel::RemoveSync(HSYNC sync) {
    std::lock_guard lock(stateMutex_);
    const auto found = std::find_if(syncs_.begin(), syncs_.end(), [&](const Sync& s) { return s.sync == sync; });
    if (found == syncs_.end())
        return false;
    syncs_.erase(found);
    return true;
}

int64_t Channel::ReadDecoded(int16_t* out, int64_t frames) {
    std::optional<int64_t> seek;
    {
        std::lock_guard lock(stateMutex_);
        seek = std::exchange(pendingSeek_, std::nullopt);
    }
    std::lock_guard decodeLock(decodeMutex_);
    if (seek)
        SeekDecoderLocked(*seek);
    int64_t got = 0;
    if (!decoderDone_) {
        try {
            got = decoder_->Read(out, frames);
        } catch (...) {
            got = 0;  // a damaged stream ends where decoding stopped
        }
        if (got <= 0)
            decoderDone_ = true;
    }
    sourcePosition_ += std::max<int64_t>(got, 0);
    std::lock_guard lock(stateMutex_);
    if (!pendingSeek_)
        held_ = sourcePosition_;
    return std::max<int64_t>(got, 0);
}

int64_t Channel::PositionLocked(int64_t playedOut) const {
    if (state_ != State::Playing || marks_.empty())
        return held_;
    for (const Mark& mark : marks_) {
        if (playedOut < mark.outStart)
            return mark.srcStart;
        if (playedOut < mark.outEnd)
            return mark.srcStart +
                   (playedOut - mark.outStart) * (mark.srcEnd - mark.srcStart) / (mark.outEnd - mark.outStart);
    }
    return marks_.back().srcEnd;
}

void Channel::HaltLocked(int64_t heardEnd, State next) {
    // The decoder has run ahead of what will be heard; it is brought back to
    // there before the channel plays again, so nothing is heard twice.
    held_ = PositionLocked(heardEnd);
    pendingSeek_ = held_;
    marks_.clear();
    ending_ = false;
    ++generation_;
    state_ = next;
}

void Channel::PrepareForMix() {
    std::optional<int64_t> seek;
    {
        std::lock_guard lock(stateMutex_);
        if (state_ != State::Playing || ending_ || freed_)
            return;
        seek = std::exchange(pendingSeek_, std::nullopt);
    }
    if (seek) {
        std::lock_guard decodeLock(decodeMutex_);
        SeekDecoderLocked(*seek);
    }
}

void Channel::MixInto(float* mix, int64_t frames, int outRate, int64_t outStart, float gain) {
    uint64_t generation = 0;
    std::optional<int64_t> seek;
    {
        std::lock_guard lock(stateMutex_);
        if (state_ != State::Playing || ending_ || freed_)
            return;
        generation = generation_;
        seek = std::exchange(pendingSeek_, std::nullopt);
    }
    std::lock_guard decodeLock(decodeMutex_);
    if (seek)
        SeekDecoderLocked(*seek);
    const int64_t srcStart = sourcePosition_;
    const int64_t produced = RenderLocked(frames, outRate);
    {
        // Lock order is decode, then state; API calls never take decode.
        std::lock_guard lock(stateMutex_);
        if (generation != generation_ || state_ != State::Playing || freed_)
            return;  // paused, stopped or moved meanwhile: this audio is void
        if (produced > 0)
            marks_.push_back({outStart, outStart + produced, srcStart, sourcePosition_});
        if (produced < frames) {
            ending_ = true;
            endOut_ = outStart + produced;
        }
    }
    for (int64_t i = 0; i < produced * 2; ++i)
        mix[i] += rendered_[static_cast<size_t>(i)] * gain;
}

std::vector<SyncCall> Channel::TakeEndSyncs(int64_t playedOut) {
    std::lock_guard lock(stateMutex_);
    if (state_ != State::Playing || !ending_ || playedOut < endOut_)
        return {};
    if (!marks_.empty())
        held_ = marks_.back().srcEnd;
    marks_.clear();
    ending_ = false;
    state_ = State::Stopped;
    std::vector<SyncCall> calls;
    if (freed_)
        return calls;
    calls.reserve(syncs_.size());
    for (const Sync& sync : syncs_)
        calls.push_back({sync.sync, handle_, sync.proc, sync.user});
    return calls;
}

void Channel::ForgetPlayed(int64_t playedOut) {
    std::lock_guard lock(stateMutex_);
    while (marks_.size() > 1 && marks_.front().outEnd <= playedOut)
        marks_.pop_front();
}

void Channel::SeekDecoderLocked(int64_t frame) {
    sourceFrames_ = 0;
    sourceIndex_ = 0;
    phase_ = 0.0;
    sourcePosition_ = frame;
    try {
        decoder_->Seek(frame);
        decoderDone_ = false;
    } catch (...) {
        // A seek the decoder cannot make leaves nothing sensible to play:
        // the channel ends instead of playing from a wrong place.
        decoderDone_ = true;
    }
}

bool Channel::FillSourceLocked() {
    const size_t width = static_cast<size_t>(channels_);
    while (sourceFrames_ - sourceIndex_ < 2 && !decoderDone_) {
        const int64_t left = sourceFrames_ - sourceIndex_;
        if (left > 0)
            std::memmove(source_.data(), source_.data() + sourceIndex_ * width, static_cast<size_t>(left) * width * 2);
        sourceFrames_ = left;
        sourceIndex_ = 0;
        source_.resize(static_cast<size_t>(left + kDecodeChunkFrames) * width);
        int64_t got = 0;
        try {
            got = decoder_->Read(source_.data() + left * width, kDecodeChunkFrames);
        } catch (...) {
            got = 0;
        }
        if (got <= 0)
            decoderDone_ = true;
        else
            sourceFrames_ += got;
    }
    return sourceFrames_ - sourceIndex_ > 0;
}

int64_t Channel::RenderLocked(int64_t frames, int outRate) {
    rendered_.assign(static_cast<size_t>(frames) * 2, 0.0f);
    const double step = static_cast<double>(rate_) / outRate;
    const size_t width = static_cast<size_t>(channels_);
    constexpr float kScale = 1.0f / 32768.0f;
    int64_t produced = 0;
    while (produced < frames && FillSourceLocked()) {
        const int16_t* a = source_.data() + sourceIndex_ * width;
        const int16_t* b = sourceFrames_ - sourceIndex_ >= 2 ? a + width : a;
        const float t = static_cast<float>(phase_);
        const float leftA = a[0], rightA = width > 1 ? a[1] : a[0];
        const float leftB = b[0], rightB = width > 1 ? b[1] : b[0];
        rendered_[static_cast<size_t>(produced) * 2] = (leftA + (leftB - leftA) * t) * kScale;
        rendered_[static_cast<size_t>(produced) * 2 + 1] = (rightA + (rightB - rightA) * t) * kScale;
        ++produced;
        // Linear interpolation between neighbouring source frames; at equal
        // rates the phase stays 0 and every source frame is copied once.
        phase_ += step;
        while (phase_ >= 1.0) {
            phase_ -= 1.0;
            if (sourceIndex_ >= sourceFrames_ && !FillSourceLocked())
                break;
            ++sourceIndex_;
            ++sourcePosition_;
        }
    }
    return produced;
}

} // namespace engine
