#include "SndfileDecoder.h"

#include "EngineError.h"
#include "LoadedLibrary.h"

#include <sndfile.h>

#include <cstdio>

namespace engine {

namespace {

// libsndfile, bound when the first PCM file is opened.
struct SndfileFunctions {
    decltype(&sf_open) open;
    decltype(&sf_close) close;
    decltype(&sf_readf_short) readShort;
    decltype(&sf_seek) seek;
};

const SndfileFunctions& Sndfile() {
    static const LoadedLibrary library("libsndfile.so.1");
    static const SndfileFunctions functions{ENGINE_BIND(library, sf_open), ENGINE_BIND(library, sf_close),
                                            ENGINE_BIND(library, sf_readf_short), ENGINE_BIND(library, sf_seek)};
    if (!functions.open || !functions.close || !functions.readShort || !functions.seek)
        Fail(BASS_ERROR_NOTAVAIL);
    return functions;
}

} // namespace

void SndfileDecoder::FileCloser::operator()(sf_private_tag* file) const { Sndfile().close(file); }

SndfileDecoder::SndfileDecoder(const std::string& path) {
    if (std::FILE* probe = std::fopen(path.c_str(), "rb"))
        std::fclose(probe);
    else
        Fail(BASS_ERROR_FILEOPEN);
    SF_INFO info{};
    file_.reset(Sndfile().open(path.c_str(), SFM_READ, &info));
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
    const sf_count_t got = Sndfile().readShort(file_.get(), out, frames);
    return got > 0 ? got : 0;
}

void SndfileDecoder::Seek(int64_t frame) {
    if (Sndfile().seek(file_.get(), frame, SEEK_SET) < 0)
        Fail(BASS_ERROR_POSITION);
}

} // namespace engine
