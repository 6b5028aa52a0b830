// The section cutter on a generated stream, cutting two consecutive parts
// as a split does.
//
// The input describes the player's answers (length and bit rate), the two
// times, the offset and the tags, then the stream: runs of frames of a
// given header (with a Xing or Info header in the first, or not), raw
// bytes, and cuts into the last frame. A few input bytes so make a stream
// of up to a megabyte, which crosses the cutter's read windows.
//
// Each cut is compared with what its contract says, worked out here by a
// fresh frame walk through a smaller window than the cutter's: whether a
// part is written at all, and if so, byte for byte: the ID3v2 tag, the
// source's bytes from the first frame start at the start offset to the one
// at the end offset (or to the audio end), and the ID3v1 tag.
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <optional>

#include "FuzzSupport.h"
#include "Originals.h"
#include "ScriptedPlayer.h"
#include "analysis/BinaryFile.h"
#include "analysis/Errors.h"
#include "analysis/ID3v1.h"
#include "analysis/ID3v2.h"
#include "analysis/MPEGaudio.h"
#include "core/AudioFrames.h"
#include "core/SectionCutter.h"
#include "playback/BASSPlayer.h"

namespace {

using fuzz::Bytes;

constexpr size_t kMaxStream = 1 << 20;

struct Plan {
    PlayerAnswers Player;
    int64_t StartMs = 0;
    int64_t EndMs = 0;
    int64_t OffsetMs = 0;
    bool WithTags = false;
    bool FirstToAudioEnd = false;
    Bytes Stream;
};

void AppendRun(Bytes& out, fuzz::ByteSource& in, uint8_t op)
{
    const Bytes header = in.Take(4);
    const size_t count = 1 + in.Byte();
    const uint8_t fill = in.Byte();
    if (header.size() < 4)
        return;
    const size_t length = IsFrameHeader(header.data()) ? FrameLength(DecodeFrameHeader(header.data())) : 0;
    if (length < 4) {
        out.insert(out.end(), header.begin(), header.end());
        return;
    }
    const size_t first = out.size();
    for (size_t k = 0; k < count && out.size() + length <= kMaxStream; ++k) {
        out.insert(out.end(), header.begin(), header.end());
        out.resize(out.size() + length - 4, fill);
    }
    const size_t marker = size_t(VbrHeaderOffset(DecodeFrameHeader(header.data())));
    if ((op & 4) && out.size() >= first + length && marker + 4 <= length)
        std::memcpy(out.data() + first + marker, (op & 8) ? "Info" : "Xing", 4);
}

Plan ReadPlan(const uint8_t* data, size_t size)
{
    fuzz::ByteSource in(data, size);
    Plan plan;
    plan.Player.LengthMs = in.Word(4);
    plan.Player.BitRate = int16_t(in.Word(2));
    // Times as fractions of the length, up to twice the length.
    plan.StartMs = int64_t(uint64_t(plan.Player.LengthMs) * in.Word(2) / 32768);
    plan.EndMs = int64_t(uint64_t(plan.Player.LengthMs) * in.Word(2) / 32768);
    plan.OffsetMs = int64_t(int8_t(in.Byte())) * 50;
    const uint8_t flags = in.Byte();
    plan.WithTags = flags & 1;
    plan.FirstToAudioEnd = flags & 8;
    if (flags & 2)
        plan.Stream = originals::Id3v23();
    while (!in.Empty() && plan.Stream.size() < kMaxStream) {
        const uint8_t op = in.Byte();
        switch (op % 4) {
        case 0:
        case 1:
            AppendRun(plan.Stream, in, op);
            break;
        case 2: {
            const Bytes raw = in.Take(in.Byte());
            plan.Stream.insert(plan.Stream.end(), raw.begin(), raw.end());
            break;
        }
        default:
            plan.Stream.resize(plan.Stream.size() - std::min<size_t>(plan.Stream.size(), in.Byte()));
            break;
        }
    }
    if (flags & 4) {
        const Bytes tag = originals::Id3v1Tag();
        plan.Stream.insert(plan.Stream.end(), tag.begin(), tag.end());
    }
    return plan;
}

std::string TimeText(int64_t ms)
{
    return std::to_string(ms / 60000) + ':' + std::to_string(ms / 1000 % 60) + '.' + std::to_string(ms % 1000);
}

// The part the cutter must write for a cut from startMs to endMs: the
// source's byte range, or nothing.
std::optional<std::pair<int64_t, int64_t>> ExpectedRange(const std::string& source, const Plan& plan,
                                                         int64_t startMs, int64_t endMs, bool toAudioEnd)
{
    const int64_t offsetMs = std::clamp<int64_t>(plan.OffsetMs, -5000, 5000);
    startMs += offsetMs;
    endMs += offsetMs;
    const int64_t lengthMs = plan.Player.LengthMs;
    const int64_t bitRate = plan.Player.BitRate;
    if (!(startMs < endMs) || !plan.Player.Opens || bitRate <= 0 || !(startMs < lengthMs))
        return std::nullopt;
    toAudioEnd = toAudioEnd || endMs >= lengthMs;
    startMs = std::max<int64_t>(startMs, 0);

    TID3v2 v2;
    v2.ReadTag(source);
    TID3v1 v1;
    v1.ReadTag(source);
    BinaryFile file;
    FUZZ_CHECK(file.Open(source, BinaryFile::Mode::Read), file.LastError());
    const std::optional<AudioSpan> span = LocateAudio(file, file.Size(), v2.Size(), v1.Exists());
    if (!span)
        return std::nullopt;
    auto byteOffset = [&](int64_t ms) {
        return int64_t(std::min<__int128>(__int128(span->TimeZero) + __int128(bitRate) * ms / 8, span->AudioEnd));
    };
    TFrameWalker walker(file, *span, 64 * 1024);
    const int64_t first = walker.AdvanceTo(byteOffset(startMs));
    const int64_t second = walker.FrameAfter(first);
    if (second >= span->AudioEnd)
        return std::nullopt;
    const int64_t end = toAudioEnd ? span->AudioEnd : walker.AdvanceTo(byteOffset(endMs));
    if (end <= second)
        return std::nullopt;
    return std::pair{first, end};
}

void CutAndCompare(TSectionCutter& cutter, const std::string& source, const Bytes& sourceBytes, const Plan& plan,
                   const std::string& target, int64_t startMs, int64_t endMs, bool toAudioEnd, const PartTags* tags)
{
    CutRequest request;
    request.Source = source;
    request.Target = target;
    request.StartText = TimeText(startMs);
    request.EndText = TimeText(endMs);
    request.OffsetMs = plan.OffsetMs;
    request.ToAudioEnd = toAudioEnd;
    request.Tags = tags;
    const std::string what = "cut " + request.StartText + " to " + request.EndText + (toAudioEnd ? " (to the end)" : "");

    bool written = false;
    try {
        written = cutter.Cut(request);
    } catch (const CorvellaError& error) {
        fuzz::Fail(__FILE__, __LINE__, "Cut", what + ": " + error.what());
    }
    const auto range = ExpectedRange(source, plan, startMs, endMs, toAudioEnd);
    std::error_code error;
    FUZZ_CHECK(written == range.has_value(), what + (written ? ": written, expected nothing" : ": nothing written"));
    FUZZ_CHECK(written == std::filesystem::exists(target, error), what + ": the target's presence disagrees");
    if (!written)
        return;

    Bytes expected = tags ? tags->ID3v2 : Bytes();
    expected.insert(expected.end(), sourceBytes.begin() + range->first, sourceBytes.begin() + range->second);
    if (tags)
        expected.insert(expected.end(), tags->ID3v1.begin(), tags->ID3v1.end());
    const Bytes part = fuzz::ReadWholeFile(target);
    FUZZ_CHECK(part == expected, what + ": the part is not the source's bytes " + std::to_string(range->first)
                                     + " to " + std::to_string(range->second) + " between the tags ("
                                     + std::to_string(part.size()) + " bytes, expected "
                                     + std::to_string(expected.size()) + ")");
    std::filesystem::remove(target, error);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static fuzz::MemoryFile source("source");
    static TBASSPlayer player(nullptr, nullptr, std::string());
    const Plan plan = ReadPlan(data, size);
    source.Assign(plan.Stream);
    SetPlayerAnswers(plan.Player);

    // The tags go onto the parts as the split puts them there.
    TID3v2 v2;
    v2.ReadTag(source.Path());
    v2.DropFramesOfTheWholeAudio();
    TID3v1 v1;
    v1.ReadTag(source.Path());
    const PartTags tags = RenderPartTags(v1, v2);
    const PartTags* partTags = plan.WithTags ? &tags : nullptr;

    const std::string folder = fuzz::ScratchFolder();
    std::error_code error;
    std::filesystem::remove(folder + "/part1.mp3", error);
    std::filesystem::remove(folder + "/part2.mp3", error);
    TSectionCutter cutter(player);
    CutAndCompare(cutter, source.Path(), plan.Stream, plan, folder + "/part1.mp3", plan.StartMs, plan.EndMs,
                  plan.FirstToAudioEnd, partTags);
    // The next part from where this one ended: the cutter resumes its walk.
    CutAndCompare(cutter, source.Path(), plan.Stream, plan, folder + "/part2.mp3", plan.EndMs,
                  plan.Player.LengthMs, true, partTags);
    return 0;
}
