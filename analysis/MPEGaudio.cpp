#include "MPEGaudio.h"

#include <array>
#include <cmath>
#include <exception>
#include <limits>

#include "ByteReader.h"
#include "MPEGstream.h"
#include "TextCodec.h"
#include "files/BinaryFile.h"

namespace {

constexpr uint8_t kVersionMpeg1 = 3;
constexpr uint8_t kVersionReserved = 1;
constexpr uint8_t kLayerI = 3;
constexpr uint8_t kLayerReserved = 0;
constexpr uint8_t kModeMono = 3;

// kbit/s by bit-rate index. MPEG 1: ISO/IEC 11172-3; MPEG 2 and 2.5: the
// low-sampling-frequency table of ISO/IEC 13818-3, whose Layer II row is
// also used for Layer III.
constexpr std::array<uint16_t, 16> kMpeg1LayerI = {0, 32, 64, 96, 128, 160, 192, 224,
                                                   256, 288, 320, 352, 384, 416, 448, 0};
constexpr std::array<uint16_t, 16> kMpeg1LayerII = {0, 32, 48, 56, 64, 80, 96, 112,
                                                    128, 160, 192, 224, 256, 320, 384, 0};
constexpr std::array<uint16_t, 16> kMpeg1LayerIII = {0, 32, 40, 48, 56, 64, 80, 96,
                                                     112, 128, 160, 192, 224, 256, 320, 0};
constexpr std::array<uint16_t, 16> kMpeg2LayerI = {0, 32, 48, 56, 64, 80, 96, 112,
                                                   128, 144, 160, 176, 192, 224, 256, 0};
constexpr std::array<uint16_t, 16> kMpeg2LayerIIandIII = {0, 8, 16, 24, 32, 40, 48, 56,
                                                          64, 80, 96, 112, 128, 144, 160, 0};

// Hz by version index (2.5, reserved, 2, 1) and sample-rate index.
constexpr std::array<std::array<uint32_t, 4>, 4> kSampleRates = {{
    {11025, 12000, 8000, 0},
    {0, 0, 0, 0},
    {22050, 24000, 16000, 0},
    {44100, 48000, 32000, 0},
}};

constexpr std::array<const char*, 5> kChannelModes = {"Stereo", "Joint Stereo", "Dual Channel",
                                                      "Mono", "Unknown"};

// Bytes per 1000 bit/s of rate and Hz of sample rate: samples per frame / 8.
int Coefficient(const MPEGFrame& frame)
{
    return SamplesPerFrame(frame) / 8;
}

int PaddingBytes(const MPEGFrame& frame)
{
    if (!frame.Padding)
        return 0;
    return frame.LayerIndex == kLayerI ? 4 : 1;
}

// Delphi's Round (halves to even, as the default rounding mode does), with
// results outside 16 bits held at the nearest bound: a wrapped value could
// otherwise land inside the plausible range of a garbage header.
uint16_t RoundTo16Bits(double value)
{
    double rounded = std::nearbyint(value);
    if (!(rounded > 0))
        return 0;
    if (rounded > std::numeric_limits<uint16_t>::max())
        return std::numeric_limits<uint16_t>::max();
    return static_cast<uint16_t>(rounded);
}

} // namespace

bool IsFrameHeader(const uint8_t* b)
{
    return b[0] == 0xFF && (b[1] & 0xE0) == 0xE0
        && ((b[1] >> 3) & 3) != kVersionReserved
        && ((b[1] >> 1) & 3) != kLayerReserved
        && (b[2] & 0xF0) != 0xF0 && (b[2] & 0xF0) != 0
        && ((b[2] >> 2) & 3) != 3
        && (b[3] & 3) != 2;
}

MPEGFrame DecodeFrameHeader(const uint8_t* b)
{
    MPEGFrame frame;
    frame.VersionIndex = static_cast<uint8_t>((b[1] >> 3) & 3);
    frame.LayerIndex = static_cast<uint8_t>((b[1] >> 1) & 3);
    frame.BitRateIndex = static_cast<uint16_t>(b[2] >> 4);
    frame.SampleRateIndex = static_cast<uint16_t>((b[2] >> 2) & 3);
    frame.Padding = ((b[2] >> 1) & 1) != 0;
    frame.ModeIndex = static_cast<uint8_t>(b[3] >> 6);
    frame.Size = FrameLength(frame);
    return frame;
}

uint32_t FrameSampleRate(const MPEGFrame& frame)
{
    if (frame.VersionIndex > 3 || frame.SampleRateIndex > 3)
        return 0;
    return kSampleRates[frame.VersionIndex][frame.SampleRateIndex];
}

uint16_t FrameBitRate(const MPEGFrame& frame)
{
    if (frame.VersionIndex == kVersionReserved || frame.VersionIndex > 3 || frame.BitRateIndex > 15)
        return 0;
    const bool mpeg1 = frame.VersionIndex == kVersionMpeg1;
    switch (frame.LayerIndex) {
    case 3: return (mpeg1 ? kMpeg1LayerI : kMpeg2LayerI)[frame.BitRateIndex];
    case 2: return (mpeg1 ? kMpeg1LayerII : kMpeg2LayerIIandIII)[frame.BitRateIndex];
    case 1: return (mpeg1 ? kMpeg1LayerIII : kMpeg2LayerIIandIII)[frame.BitRateIndex];
    default: return 0;
    }
}

int SamplesPerFrame(const MPEGFrame& frame)
{
    switch (frame.LayerIndex) {
    case 3: return 384;
    case 2: return 1152;
    case 1: return frame.VersionIndex == kVersionMpeg1 ? 1152 : 576;
    default: return 0;
    }
}

uint16_t FrameLength(const MPEGFrame& frame)
{
    const double sampleRate = FrameSampleRate(frame);
    const double bitRate = FrameBitRate(frame);
    if (sampleRate == 0 || bitRate == 0)
        return 0;
    if (frame.LayerIndex == kLayerI) {
        // Whole 4-byte slots.
        const double slots = std::trunc(12 * bitRate * 1000 / sampleRate) + (frame.Padding ? 1 : 0);
        return static_cast<uint16_t>(4 * slots);
    }
    const double bytes = std::trunc(Coefficient(frame) * bitRate * 1000 / sampleRate) + PaddingBytes(frame);
    return static_cast<uint16_t>(bytes);
}

int VbrHeaderOffset(const MPEGFrame& frame)
{
    const bool mono = frame.ModeIndex == kModeMono;
    if (frame.VersionIndex == kVersionMpeg1)
        return mono ? 21 : 36;
    return mono ? 13 : 21;
}

VBRData ReadVbrHeader(const uint8_t* frameBytes, size_t available, const MPEGFrame& frame)
{
    VBRData vbr;
    const ByteReader bytes(frameBytes, available);
    const size_t at = static_cast<size_t>(VbrHeaderOffset(frame));
    if (bytes.Matches(at, "Xing")) {
        vbr.Found = true;
        vbr.ID = "Xing";
        vbr.Frames = static_cast<int32_t>(bytes.BE32(at + 8));
        vbr.Bytes = static_cast<int32_t>(bytes.BE32(at + 12));
        vbr.Scale = bytes.U8(at + 119);
        std::string vendor;
        for (size_t k = 0; k < 8; ++k)
            vendor.push_back(static_cast<char>(bytes.U8(at + 120 + k)));
        vbr.VendorID = Latin1ToUtf8(vendor);
    } else if (bytes.Matches(at, "VBRI")) {
        vbr.Found = true;
        vbr.ID = "VBRI";
        vbr.Scale = bytes.U8(at + 9);
        vbr.Bytes = static_cast<int32_t>(bytes.BE32(at + 10));
        vbr.Frames = static_cast<int32_t>(bytes.BE32(at + 14));
    }
    return vbr;
}

bool FrameHasVbrOrInfoHeader(const uint8_t* frameBytes, size_t available, const MPEGFrame& frame)
{
    const ByteReader bytes(frameBytes, available);
    const size_t at = static_cast<size_t>(VbrHeaderOffset(frame));
    return bytes.Matches(at, "Xing") || bytes.Matches(at, "Info") || bytes.Matches(at, "VBRI")
        || bytes.Matches(36, "VBRI");
}

TMPEGaudio::TMPEGaudio()
{
    Reset();
}

void TMPEGaudio::Reset()
{
    fileLength_ = 0;
    audioEnd_ = 0;
    headerAt_ = 0;
    measured_.reset();
    encoderText_.clear();
    vbr_ = VBRData{};
    frame_ = MPEGFrame{};
    id3v1_.Reset();
    id3v2_.Reset();
}

MPEGFrame FindFirstFrame(const uint8_t* block, size_t count)
{
    for (size_t p = 0; p < static_cast<size_t>(TMPEGaudio::kSearchPositions) && p + 4 <= count; ++p) {
        if (!IsFrameHeader(block + p))
            continue;
        MPEGFrame frame = DecodeFrameHeader(block + p);
        // The next header must lie wholly inside the bytes read; the two
        // headers need not agree with each other.
        const size_t next = p + frame.Size;
        if (next + 4 <= count && IsFrameHeader(block + next)) {
            frame.Found = true;
            frame.Position = static_cast<int64_t>(p);
            return frame;
        }
    }
    return {};
}

void TMPEGaudio::FindFirstFrame(const uint8_t* block, size_t count)
{
    frame_ = ::FindFirstFrame(block, count);
    vbr_ = VBRData{};
    if (frame_.Found) {
        const auto p = static_cast<size_t>(frame_.Position);
        vbr_ = ReadVbrHeader(block + p, count - p, frame_);
    }
}

void TMPEGaudio::ScanEncoder(const uint8_t* block, int64_t limit)
{
    constexpr int64_t n = kBlockSize;
    if (n - limit - 8 < 0)
        limit = n - 8;
    const ByteReader bytes(block, static_cast<size_t>(n));
    for (int64_t i = 0; i <= limit; ++i) {
        const auto at = static_cast<size_t>(n - 8 - i);
        if (bytes.Matches(at, "LAME")) {
            encoderText_ = "LAME" + Latin1ToUtf8(std::string(reinterpret_cast<const char*>(block + at + 4), 4));
            return;
        }
        if (bytes.Matches(at, "GOGO")) {
            encoderText_ = "GOGO";
            return;
        }
    }
}

bool TMPEGaudio::ReadStream(const std::string& fileName)
{
    BinaryFile file;
    if (!file.Open(fileName, BinaryFile::Mode::Read))
        return false;
    const int64_t size = file.Size();
    if (size < 0)
        return false;
    fileLength_ = size;

    std::array<uint8_t, kBlockSize> block{};
    size_t count = 0;
    // Only the bytes actually read take part; the rest of the block stays zero.
    auto readBlock = [&](int64_t position) {
        block.fill(0);
        count = 0;
        if (!file.Seek(position))
            return false;
        count = file.Read(block.data(), block.size());
        return count == block.size() || file.LastError().empty();
    };

    int64_t blockStart = id3v2_.Size();
    if (!readBlock(blockStart))
        return false;
    FindFirstFrame(block.data(), count);

    // A stream hidden behind junk: one more look in the middle.
    if (!frame_.Found && count == block.size()) {
        blockStart = (fileLength_ - id3v2_.Size()) / 2;
        if (!readBlock(blockStart))
            return false;
        FindFirstFrame(block.data(), count);
    }
    if (!frame_.Found)
        return true;

    const int64_t audioEnd = MpegAudioEnd(file, fileLength_);
    audioEnd_ = audioEnd >= 0 ? audioEnd : fileLength_ - (id3v1_.Exists() ? 128 : 0);
    if (audioEnd < 0)
        return false;
    // The header's counts are believed only where the file bears them out.
    // Headers the look-up above does not take (Info, a VBRI header where
    // encoders put it) count as none, the length coming from the file size
    // at the first frame's rate; but where the file contradicts them (a
    // truncated VBR file, frames behind the bytes an Info header counts)
    // the size alone does not tell the length either.
    headerAt_ = blockStart + frame_.Position;
    const auto at = static_cast<size_t>(frame_.Position);
    const VBRData counts = vbr_.Found ? vbr_ : ReadHeaderFrameCounts(block.data() + at, count - at, frame_);
    const bool countsFitTheFile = counts.Frames > 0 && counts.Bytes > 0 && counts.Bytes <= audioEnd_ - headerAt_;
    if (counts.Found && (vbr_.Found || counts.ID != "Info" || countsFitTheFile))
        measured_ = MeasureBehindHeader(file, headerAt_, frame_, counts, audioEnd_);
    if (!vbr_.Found) {
        // The block that ends where the audio ends; a file shorter than it
        // fails here, keeping the frame results.
        const int64_t tail = audioEnd_ - kBlockSize;
        if (!readBlock(tail) || count != block.size())
            return false;
        ScanEncoder(block.data(), 5 * int64_t(frame_.Size));
    }
    return true;
}

bool TMPEGaudio::Analyze(const std::string& fileName)
{
    Reset();
    bool result = false;
    try {
        result = id3v2_.ReadTag(fileName) && id3v1_.ReadTag(fileName) && ReadStream(fileName);
    } catch (const std::exception&) {
        result = false;
    }
    if (!frame_.Found)
        Reset();
    return result;
}

uint16_t TMPEGaudio::SampleRate() const
{
    return static_cast<uint16_t>(FrameSampleRate(frame_));
}

int64_t TMPEGaudio::CountedFrames() const
{
    if (measured_ && measured_->Frames > 0)
        return measured_->Frames;
    return vbr_.Found ? vbr_.Frames : 0;
}

uint16_t TMPEGaudio::BitRate() const
{
    if (CountedFrames() > 0) {
        const int coefficient = Coefficient(frame_);
        if (coefficient == 0)
            return 0;
        const bool measured = measured_ && measured_->Frames > 0;
        const double streamBytes =
            measured ? double(audioEnd_ - headerAt_ - measured_->TagBytes) : double(vbr_.Bytes);
        const double averageFrame = streamBytes / double(CountedFrames());
        return RoundTo16Bits((averageFrame - PaddingBytes(frame_)) * FrameSampleRate(frame_)
                             / coefficient / 1000);
    }
    return FrameBitRate(frame_);
}

std::string TMPEGaudio::ChannelMode() const
{
    return kChannelModes[frame_.ModeIndex < kChannelModes.size() ? frame_.ModeIndex : 4];
}

double TMPEGaudio::Duration() const
{
    if (!frame_.Found)
        return 0;
    const uint32_t sampleRate = FrameSampleRate(frame_);
    if (CountedFrames() > 0) {
        if (sampleRate == 0)
            return 0;
        return double(CountedFrames()) * Coefficient(frame_) * 8 / sampleRate;
    }
    const uint16_t bitRate = FrameBitRate(frame_);
    if (bitRate == 0)
        return 0;
    const int64_t audioBytes = audioEnd_ - id3v2_.Size() - frame_.Position;
    return double(audioBytes) / bitRate / 1000 * 8;
}

bool TMPEGaudio::Valid() const
{
    const uint16_t bitRate = BitRate();
    return frame_.Found && bitRate >= 8 && bitRate <= 448 && Duration() >= 0.1;
}
