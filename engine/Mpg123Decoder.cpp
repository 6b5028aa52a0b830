#include "Mpg123Decoder.h"

#include "EngineError.h"

#include "analysis/MPEGstream.h"
#include "files/BinaryFile.h"

#include <mpg123.h>

#include <algorithm>
#include <cmath>
#include <cstring>
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


struct FrameGeometry {
    int samples;       // per frame
    double meanBytes;  // per frame, padding included
};

FrameGeometry GeometryOf(const mpg123_frameinfo& info, int kbps) {
    const double rate = info.rate > 0 ? info.rate : 44100;
    if (info.layer == 1)
        return {384, 48000.0 * kbps / rate};
    if (info.layer == 3 && info.version != MPG123_1_0)
        return {576, 72000.0 * kbps / rate};
    return {1152, 144000.0 * kbps / rate};
}

FrameGeometry GeometryOf(const mpg123_frameinfo& info) { return GeometryOf(info, info.bitrate); }

// The bytes from the first frame to the tags at the end; -1 when unknown.
int64_t AudioBytes(mpg123_handle* mh, int64_t audioEnd) {
    const off_t firstFrame = mpg123_framepos(mh);
    if (audioEnd < 0 || firstFrame < 0 || firstFrame >= audioEnd)
        return -1;
    return audioEnd - firstFrame;
}

// The most samples the file's audio bytes can hold: no frame is shorter
// than one at the lowest bit rate of its version and layer. A Xing or VBRI
// frame count beyond it is not the file's.
int64_t MostSamplesTheFileHolds(mpg123_handle* mh, int64_t audioBytes) {
    mpg123_frameinfo info{};
    if (audioBytes <= 0 || mpg123_info(mh, &info) != MPG123_OK || info.rate <= 0)
        return -1;
    const bool mpeg1 = info.version == MPG123_1_0;
    const FrameGeometry shortest = GeometryOf(info, mpeg1 || info.layer == 1 ? 32 : 8);
    const auto frameBytes = std::max<int64_t>(1, static_cast<int64_t>(shortest.meanBytes));
    return (audioBytes / frameBytes + 1) * shortest.samples;
}

// mpg123 estimates the length of a file without a Xing/Info header from the
// first frame's size, which is short by the padding byte most frames carry;
// over a long file that adds up to several frames too many. The exact mean
// frame size of a constant bit rate gives the frame count instead.
int64_t ConstantBitRateLength(mpg123_handle* mh, int64_t audioBytes) {
    mpg123_frameinfo info{};
    if (mpg123_info(mh, &info) != MPG123_OK || info.vbr != MPG123_CBR || info.bitrate <= 0 || info.rate <= 0)
        return -1;
    const FrameGeometry geometry = GeometryOf(info);
    if (audioBytes <= 0)
        return -1;
    return std::llround(static_cast<double>(audioBytes) / geometry.meanBytes) * geometry.samples;
}

// mpg123 takes a Xing, Info or VBRI header's frame count for the stream's,
// and plays on past it. Where the file contradicts the header (files joined
// end to end, a count of 0, a truncated file) the frames are measured as
// the analyser measures them, so that both tell one length; -1 where the
// header holds. lengthFromHeader is mpg123's length, trimmed of the encoder
// delay and padding of the header's own piece.
int64_t MeasuredLength(BinaryFile& file, int64_t audioEnd, int64_t lengthFromHeader) {
    const StreamStart start = FindStreamStart(file);
    if (start.At < 0 || !start.Counts.Found)
        return -1;
    const std::optional<MeasuredStream> measured = MeasureBehindHeader(file, start.At, start.Frame, start.Counts, audioEnd);
    if (!measured)
        return -1;
    const int64_t frames = measured->Frames;
    const int samples = SamplesPerFrame(start.Frame);
    const bool headerPieceHolds = start.Counts.Frames > 0 && start.Counts.Bytes > 0 &&
                                  start.Counts.Bytes <= audioEnd - start.At && lengthFromHeader >= 0;
    if (headerPieceHolds)
        return lengthFromHeader + (frames - start.Counts.Frames) * samples;
    return frames * samples;
}

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
    // The tags are the analysers' business: mpg123 seeks past an ID3v2 tag
    // instead of reading and parsing it (with its pictures) on every open.
    mpg123_param(mh, MPG123_ADD_FLAGS, MPG123_QUIET | MPG123_GAPLESS | MPG123_SKIP_ID3V2, 0);
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
    BinaryFile file;
    if (!file.Open(path, BinaryFile::Mode::Read))
        Fail(BASS_ERROR_FILEOPEN);
    const int64_t audioEnd = MpegAudioEnd(file, file.Size());
    const int64_t audioBytes = AudioBytes(mh, audioEnd);
    // Without an encoder's Info tag (no known delay) the length is mpg123's
    // guess; a constant bit rate allows a better one.
    long encoderDelay = -1;
    double unused = 0;
    if (mpg123_getstate(mh, MPG123_ENC_DELAY, &encoderDelay, &unused) == MPG123_OK && encoderDelay < 0) {
        const int64_t estimate = ConstantBitRateLength(mh, audioBytes);
        if (estimate > 0)
            lengthFrames_ = estimate;
    }
    // A header's frame count is believed only as far as the file's size
    // allows; beyond that the frames themselves are counted (headers only,
    // no decoding), which costs a read of the file but only for such files.
    const int64_t measured = MeasuredLength(file, audioEnd, length >= 0 ? static_cast<int64_t>(length) : -1);
    const int64_t most = MostSamplesTheFileHolds(mh, audioBytes);
    if (measured >= 0) {
        lengthFrames_ = measured;
    } else if (most > 0 && lengthFrames_ > most) {
        const off_t scanned = mpg123_scan(mh) == MPG123_OK ? mpg123_length(mh) : -1;
        lengthFrames_ = scanned >= 0 && scanned <= most ? static_cast<int64_t>(scanned) : -1;
    }
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
    // Exact: past the frames already indexed mpg123 reads the frame headers
    // up to the target (about a second per 50 MB). Only the mixing thread
    // waits for that; the caller of the seek does not.
    if (mpg123_seek(handle_.get(), static_cast<off_t>(frame), SEEK_SET) < 0)
        Fail(BASS_ERROR_POSITION);
    finished_ = false;
}

} // namespace engine
