#include "Mpg123Decoder.h"

#include "EngineError.h"

#include <mpg123.h>

#include <mutex>

namespace engine {

namespace {

void InitialiseLibraryOnce() {
    static std::once_flag once;
    std::call_once(once, [] { mpg123_init(); });
}

// A file that only happens to contain a sync word somewhere must not pass
// for MPEG audio, so the decoder may skip little garbage before the first
// frame (ID3v2 tags are skipped by their size, not by resyncing).
constexpr long kResyncLimitBytes = 4096;

} // namespace

void Mpg123Decoder::HandleDeleter::operator()(mpg123_handle_struct* handle) const {
    mpg123_close(handle);
    mpg123_delete(handle);
}

Mpg123Decoder::Mpg123Decoder(const std::string& path) {
    InitialiseLibraryOnce();
    int error = MPG123_OK;
    handle_.reset(mpg123_new(nullptr, &error));
    if (!handle_)
        Fail(BASS_ERROR_MEM);
    mpg123_handle* mh = handle_.get();
    mpg123_param(mh, MPG123_ADD_FLAGS, MPG123_QUIET | MPG123_GAPLESS, 0);
    mpg123_param(mh, MPG123_RESYNC_LIMIT, kResyncLimitBytes, 0);

    // Decide the output format from the first frame, then pin it: a stream
    // that changes mode later is converted rather than changing the byte
    // layout of the channel under the player's feet.
    mpg123_format_none(mh);
    for (long rate : {8000L, 11025L, 12000L, 16000L, 22050L, 24000L, 32000L, 44100L, 48000L})
        mpg123_format(mh, rate, MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
    if (mpg123_open(mh, path.c_str()) != MPG123_OK)
        Fail(BASS_ERROR_FILEOPEN);
    long rate = 0;
    int channels = 0;
    int encoding = 0;
    if (mpg123_getformat(mh, &rate, &channels, &encoding) != MPG123_OK || rate <= 0 || channels <= 0)
        Fail(BASS_ERROR_FILEFORM);
    mpg123_format_none(mh);
    mpg123_format(mh, rate, channels, MPG123_ENC_SIGNED_16);
    rate_ = static_cast<int>(rate);
    channels_ = channels;
    const off_t length = mpg123_length(mh);
    lengthFrames_ = length >= 0 ? static_cast<int64_t>(length) : -1;
}

int64_t Mpg123Decoder::Read(int16_t* out, int64_t frames) {
    if (finished_)
        return 0;
    auto* dest = reinterpret_cast<unsigned char*>(out);
    const size_t wanted = static_cast<size_t>(frames) * channels_ * sizeof(int16_t);
    size_t filled = 0;
    int idleReads = 0;
    while (filled < wanted) {
        size_t done = 0;
        const int result = mpg123_read(handle_.get(), dest + filled, wanted - filled, &done);
        filled += done;
        idleReads = done > 0 ? 0 : idleReads + 1;
        if ((result == MPG123_OK || result == MPG123_NEW_FORMAT) && idleReads < 16)
            continue;
        // MPG123_DONE, or a damaged tail: what was decoded so far is the stream.
        finished_ = true;
        break;
    }
    return static_cast<int64_t>(filled / (channels_ * sizeof(int16_t)));
}

void Mpg123Decoder::Seek(int64_t frame) {
    const off_t reached = mpg123_seek(handle_.get(), static_cast<off_t>(frame), SEEK_SET);
    if (reached < 0)
        Fail(BASS_ERROR_POSITION);
    finished_ = false;
}

} // namespace engine
