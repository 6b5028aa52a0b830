#include "VorbisDecoder.h"

#include "EngineError.h"

#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <cstdio>

namespace engine {

VorbisDecoder::VorbisDecoder(const std::string& path) : file_(std::make_unique<OggVorbis_File>()) {
    std::FILE* stream = std::fopen(path.c_str(), "rb");
    if (!stream)
        Fail(BASS_ERROR_FILEOPEN);
    // On success vorbisfile owns the FILE and closes it in ov_clear; on
    // failure the caller still owns it.
    if (ov_open_callbacks(stream, file_.get(), nullptr, 0, OV_CALLBACKS_DEFAULT) != 0) {
        std::fclose(stream);
        Fail(BASS_ERROR_FILEFORM);
    }
    open_ = true;
    vorbis_info* info = ov_info(file_.get(), -1);
    // The rate field is 32 bits unsigned; libvorbis only refuses 0.
    if (!info || info->rate <= 0 || info->rate > kHighestSampleRate || info->channels <= 0)
        Fail(BASS_ERROR_FILEFORM);
    rate_ = static_cast<int>(info->rate);
    channels_ = info->channels;
    // The total is the last page's granule position, a header field: it is
    // believed only as far as the file's size allows. Every packet takes at
    // least two bytes (a lacing value and data) and gives at most half a
    // long block of frames.
    const ogg_int64_t total = ov_pcm_total(file_.get(), -1);
    const ogg_int64_t most = ov_raw_total(file_.get(), -1) / 2 * vorbis_info_blocksize(info, 1) / 2;
    lengthFrames_ = total >= 0 && total <= most ? static_cast<int64_t>(total) : -1;
}

VorbisDecoder::~VorbisDecoder() {
    if (open_)
        ov_clear(file_.get());
}

int64_t VorbisDecoder::Read(int16_t* out, int64_t frames) {
    auto* dest = reinterpret_cast<char*>(out);
    const int64_t frameBytes = static_cast<int64_t>(channels_) * 2;
    const int64_t wanted = frames * frameBytes;
    int64_t filled = 0;
    int holes = 0;
    while (filled < wanted) {
        int section = 0;
        const int chunk = static_cast<int>(std::min<int64_t>(wanted - filled, 65536));
        const long got = ov_read(file_.get(), dest + filled, chunk, 0, 2, 1, &section);
        if (got == OV_HOLE && ++holes < 64)
            continue;  // a gap in the data: keep going with what follows
        if (got <= 0)
            break;
        // Chained streams with another channel count would change the
        // byte layout; they end the stream here instead.
        const vorbis_info* info = ov_info(file_.get(), section);
        if (info && info->channels != channels_)
            break;
        filled += got;
    }
    return filled / frameBytes;
}

void VorbisDecoder::Seek(int64_t frame) {
    if (ov_pcm_seek(file_.get(), frame) != 0)
        Fail(BASS_ERROR_POSITION);
}

} // namespace engine
