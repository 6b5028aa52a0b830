#include "VorbisDecoder.h"

#include "EngineError.h"
#include "LoadedLibrary.h"

#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <cstdio>

namespace engine {

namespace {

// libvorbisfile (with libvorbis and libogg behind it), bound when the first
// Ogg file is opened. vorbis_info_blocksize is libvorbis's; it is found
// through vorbisfile, which links it.
struct VorbisFunctions {
    decltype(&ov_open_callbacks) open;
    decltype(&ov_clear) clear;
    decltype(&ov_info) info;
    decltype(&ov_pcm_total) pcmTotal;
    decltype(&ov_raw_total) rawTotal;
    decltype(&ov_read) read;
    decltype(&ov_pcm_seek) pcmSeek;
    decltype(&vorbis_info_blocksize) blockSize;
};

const VorbisFunctions& Vorbis() {
    static const LoadedLibrary library("libvorbisfile.so.3");
    static const VorbisFunctions functions{
        ENGINE_BIND(library, ov_open_callbacks), ENGINE_BIND(library, ov_clear),
        ENGINE_BIND(library, ov_info),           ENGINE_BIND(library, ov_pcm_total),
        ENGINE_BIND(library, ov_raw_total),      ENGINE_BIND(library, ov_read),
        ENGINE_BIND(library, ov_pcm_seek),       ENGINE_BIND(library, vorbis_info_blocksize)};
    if (!functions.open || !functions.clear || !functions.info || !functions.pcmTotal || !functions.rawTotal
        || !functions.read || !functions.pcmSeek || !functions.blockSize)
        Fail(BASS_ERROR_NOTAVAIL);
    return functions;
}

} // namespace

VorbisDecoder::VorbisDecoder(const std::string& path) : file_(std::make_unique<OggVorbis_File>()) {
    const VorbisFunctions& vorbis = Vorbis();
    std::FILE* stream = std::fopen(path.c_str(), "rb");
    if (!stream)
        Fail(BASS_ERROR_FILEOPEN);
    // On success vorbisfile owns the FILE and closes it in ov_clear; on
    // failure the caller still owns it.
    if (vorbis.open(stream, file_.get(), nullptr, 0, OV_CALLBACKS_DEFAULT) != 0) {
        std::fclose(stream);
        Fail(BASS_ERROR_FILEFORM);
    }
    open_ = true;
    vorbis_info* info = vorbis.info(file_.get(), -1);
    // The rate field is 32 bits unsigned; libvorbis only refuses 0.
    if (!info || info->rate <= 0 || info->rate > kHighestSampleRate || info->channels <= 0)
        Fail(BASS_ERROR_FILEFORM);
    rate_ = static_cast<int>(info->rate);
    channels_ = info->channels;
    // The total is the last page's granule position, a header field: it is
    // believed only as far as the file's size allows. Every packet takes at
    // least two bytes (a lacing value and data) and gives at most half a
    // long block of frames.
    const ogg_int64_t total = vorbis.pcmTotal(file_.get(), -1);
    const ogg_int64_t most = vorbis.rawTotal(file_.get(), -1) / 2 * vorbis.blockSize(info, 1) / 2;
    lengthFrames_ = total >= 0 && total <= most ? static_cast<int64_t>(total) : -1;
}

VorbisDecoder::~VorbisDecoder() {
    if (open_)
        Vorbis().clear(file_.get());
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
        const long got = Vorbis().read(file_.get(), dest + filled, chunk, 0, 2, 1, &section);
        if (got == OV_HOLE && ++holes < 64)
            continue;  // a gap in the data: keep going with what follows
        if (got <= 0)
            break;
        // Chained streams with another channel count would change the
        // byte layout; they end the stream here instead.
        const vorbis_info* info = Vorbis().info(file_.get(), section);
        if (info && info->channels != channels_)
            break;
        filled += got;
    }
    return filled / frameBytes;
}

void VorbisDecoder::Seek(int64_t frame) {
    if (Vorbis().pcmSeek(file_.get(), frame) != 0)
        Fail(BASS_ERROR_POSITION);
}

} // namespace engine
