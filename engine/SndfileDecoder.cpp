#include "SndfileDecoder.h"

#include "EngineError.h"

#include <sndfile.h>

#include <cstdio>

namespace engine {

void SndfileDecoder::FileCloser::operator()(sf_private_tag* file) const { sf_close(file); }

SndfileDecoder::SndfileDecoder(const std::string& path) {
    if (std::FILE* probe = std::fopen(path.c_str(), "rb"))
        std::fclose(probe);
    else
        Fail(BASS_ERROR_FILEOPEN);
    SF_INFO info{};
    file_.reset(sf_open(path.c_str(), SFM_READ, &info));
    if (!file_)
        Fail(BASS_ERROR_FILEFORM);
    // Compressed formats libsndfile also knows (MPEG, Vorbis, FLAC...) have
    // decoders of their own or are not this library's business.
    switch (info.format & SF_FORMAT_TYPEMASK) {
    case SF_FORMAT_WAV:
    case SF_FORMAT_WAVEX:
    case SF_FORMAT_RF64:
    case SF_FORMAT_W64:
    case SF_FORMAT_AIFF:
    case SF_FORMAT_AU:
        break;
    default:
        Fail(BASS_ERROR_FILEFORM);
    }
    if (info.samplerate <= 0 || info.channels <= 0 || info.frames < 0)
        Fail(BASS_ERROR_FILEFORM);
    rate_ = info.samplerate;
    channels_ = info.channels;
    lengthFrames_ = info.frames;
}

int64_t SndfileDecoder::Read(int16_t* out, int64_t frames) {
    const sf_count_t got = sf_readf_short(file_.get(), out, frames);
    return got > 0 ? got : 0;
}

void SndfileDecoder::Seek(int64_t frame) {
    if (sf_seek(file_.get(), frame, SEEK_SET) < 0)
        Fail(BASS_ERROR_POSITION);
}

} // namespace engine
