// The section cutter on a generated stream, cutting two consecutive parts
// as a split does.
//
// The input describes the player's answers (length and bit rate), the two
// times, the offset and the tags, then the stream: runs of frames of a
// given header (with a Xing or Info header in the first, or not), raw
// bytes, and cuts into the last frame. A few input bytes so make a stream
// of up to a megabyte, which crosses the cutter's read windows.
//
// A part is written exactly when the cutter says so. A written part holds,
// byte for byte: the run's ID3v2 tag, a header frame whose counts match
// what follows it, the source's bytes from one frame start to another (as
// a fresh walk through a smaller window than the cutter's finds them),
// and the run's ID3v1 tag. The two parts meet on one frame start, and the
// second ends at the audio end. Gapless parts, which begin with frames of
// their own, are checked for their tags and header frame only.
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <optional>

#include "FuzzSupport.h"
#include "Originals.h"
#include "ScriptedPlayer.h"
#include "analysis/Errors.h"
#include "analysis/ID3v1.h"
#include "analysis/ID3v2.h"
#include "analysis/MPEGaudio.h"
#include "core/AudioFrames.h"
#include "core/FrameModel.h"
#include "core/SectionCutter.h"
#include "files/BinaryFile.h"
#include "playback/BASSChannel.h"

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
    bool Gapless = false;
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
    plan.Gapless = flags & 16;
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

// Where the source's audio lies, as the cutter finds it, and every frame
// start of it.
struct SourceFrames {
    std::optional<AudioSpan> Span;
    std::vector<int64_t> Starts;
};

SourceFrames WalkSource(const std::string& source, const Bytes& bytes)
{
    SourceFrames frames;
    int64_t tagSize = 0;
    if (bytes.size() >= 10 && bytes[0] == 'I' && bytes[1] == 'D' && bytes[2] == '3') {
        tagSize = 10 + (int64_t(bytes[6] & 0x7F) << 21 | int64_t(bytes[7] & 0x7F) << 14 | int64_t(bytes[8] & 0x7F) << 7
                        | int64_t(bytes[9] & 0x7F));
        if (tagSize > int64_t(bytes.size()))
            tagSize = 0;
    }
    const bool id3v1 = bytes.size() >= 128 && std::memcmp(bytes.data() + bytes.size() - 128, "TAG", 3) == 0;
    BinaryFile file;
    FUZZ_CHECK(file.Open(source, BinaryFile::Mode::Read), file.LastError());
    frames.Span = LocateAudio(file, int64_t(bytes.size()), tagSize, id3v1);
    if (!frames.Span)
        return frames;
    TFrameWalker walker(file, *frames.Span, 64 * 1024);
    for (int64_t at = walker.AdvanceTo(frames.Span->TimeZero); at < frames.Span->AudioEnd; at = walker.AdvanceTo(at + 1))
        frames.Starts.push_back(at);
    return frames;
}

// A written part, taken apart: its tags are the run's, it starts with a
// header frame that counts what follows, and behind that lie the source's
// frames from one frame start to another. Returns where those frames
// start; the part's end in the source is given (endByte).
int64_t CheckPart(const Bytes& part, const PartTags* tags, const Bytes& source, const SourceFrames& frames,
                  int64_t endByte, bool gapless, const std::string& what)
{
    const Bytes noTag;
    const Bytes& front = tags ? tags->ID3v2 : noTag;
    const Bytes& back = tags ? tags->ID3v1 : noTag;
    FUZZ_CHECK(part.size() >= front.size() + back.size() && std::equal(front.begin(), front.end(), part.begin())
                   && std::equal(back.begin(), back.end(), part.end() - long(back.size())),
               what + ": the run's tags are not around the part");
    const Bytes body(part.begin() + long(front.size()), part.end() - long(back.size()));
    size_t headerLength = 0;
    if (auto info = ReadHeaderFrame(body.data(), body.size())) {
        headerLength = FrameHeader::Parse(body.data())->Length();
        FUZZ_CHECK(info->HasBytes && info->Fields.Bytes == body.size(),
                   what + ": the header frame counts " + std::to_string(info->Fields.Bytes) + " bytes of "
                       + std::to_string(body.size()));
        if (gapless)
            return -1;
        const int64_t startByte = endByte - int64_t(body.size() - headerLength);
        auto first = std::lower_bound(frames.Starts.begin(), frames.Starts.end(), startByte);
        auto last = std::lower_bound(frames.Starts.begin(), frames.Starts.end(), endByte);
        FUZZ_CHECK(first != frames.Starts.end() && *first == startByte,
                   what + ": the part does not start on a frame start (" + std::to_string(startByte) + ")");
        FUZZ_CHECK(info->HasFrames && int64_t(info->Fields.Frames) == last - first && last - first >= 2,
                   what + ": the header frame counts " + std::to_string(info->Fields.Frames) + " frames of "
                       + std::to_string(last - first));
        FUZZ_CHECK(std::equal(body.begin() + long(headerLength), body.end(), source.begin() + startByte),
                   what + ": the part is not the source's bytes " + std::to_string(startByte) + " to "
                       + std::to_string(endByte));
        return startByte;
    }
    // Only a stream whose first frame's constant rate is too low to hold a
    // header frame gives parts none.
    auto streamHeader = frames.Starts.empty() ? std::nullopt : FrameHeader::Parse(source.data() + frames.Starts.front());
    FUZZ_CHECK(streamHeader && !HeaderFrameHeader(*streamHeader, true),
               what + ": the part does not start with a header frame");
    if (gapless)
        return -1;
    const int64_t startByte = endByte - int64_t(body.size());
    FUZZ_CHECK(startByte >= 0 && std::equal(body.begin(), body.end(), source.begin() + startByte),
               what + ": the part is not the source's bytes " + std::to_string(startByte) + " to "
                   + std::to_string(endByte));
    return startByte;
}

struct CutResult {
    bool Written = false;
    Bytes Part;
};

CutResult Cut(TSectionCutter& cutter, const std::string& source, const std::string& target, int64_t startMs,
              int64_t endMs, const Plan& plan, bool toAudioEnd, const PartTags* tags)
{
    CutRequest request;
    request.Source = source;
    request.Target = target;
    request.StartText = TimeText(startMs);
    request.EndText = TimeText(endMs);
    request.OffsetMs = plan.OffsetMs;
    request.ToAudioEnd = toAudioEnd;
    request.Tags = tags;
    request.Gapless = plan.Gapless;
    std::error_code error;
    std::filesystem::remove(target, error);
    CutResult result;
    try {
        result.Written = cutter.Cut(request);
    } catch (const CorvellaError& error) {
        // A section too short to be opened is refused with its reason.
        if (std::string(error.what()) != kSectionTooShort)
            fuzz::Fail(__FILE__, __LINE__, "Cut", request.StartText + " to " + request.EndText + ": " + error.what());
    }
    FUZZ_CHECK(result.Written == std::filesystem::exists(target, error),
               request.StartText + " to " + request.EndText + ": the target's presence disagrees with the result");
    if (result.Written)
        result.Part = fuzz::ReadWholeFile(target);
    std::filesystem::remove(target, error);
    return result;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static fuzz::MemoryFile source("source");
    static TBASSChannel player(nullptr, std::string());
    const Plan plan = ReadPlan(data, size);
    source.Assign(plan.Stream);
    SetPlayerAnswers(plan.Player);

    // The tags go onto the parts as the split puts them there.
    TID3v2 v2;
    v2.ReadTag(source.Path());
    v2.DropFramesOfTheWholeAudio();
    TID3v1 v1;
    v1.ReadTag(source.Path());
    // A tag with frames the parts' tag cannot carry is refused; the cut
    // then runs without tags.
    std::optional<PartTags> tags;
    try {
        tags = RenderPartTags(v1, v2);
    } catch (const CorvellaError&) {
    }
    const PartTags* partTags = plan.WithTags && tags ? &*tags : nullptr;

    const std::string folder = fuzz::ScratchFolder();
    TSectionCutter cutter(player);
    const CutResult first = Cut(cutter, source.Path(), folder + "/part1.mp3", plan.StartMs, plan.EndMs, plan,
                                plan.FirstToAudioEnd, partTags);
    // The next part from where this one ended: the cutter resumes its walk.
    const CutResult second = Cut(cutter, source.Path(), folder + "/part2.mp3", plan.EndMs, plan.Player.LengthMs,
                                 plan, true, partTags);
    if (!first.Written && !second.Written)
        return 0;

    const SourceFrames frames = WalkSource(source.Path(), plan.Stream);
    FUZZ_CHECK(frames.Span.has_value(), "a part was cut from a file without frames");
    const int64_t audioEnd = frames.Span->AudioEnd;
    int64_t secondStart = -1;
    if (second.Written)
        secondStart = CheckPart(second.Part, partTags, plan.Stream, frames, audioEnd, plan.Gapless, "second part");
    if (first.Written) {
        // Parts of consecutive times meet on one frame start, so a split
        // loses no frame and repeats none.
        const int64_t firstEnd = plan.FirstToAudioEnd ? audioEnd : secondStart;
        if (firstEnd >= 0)
            CheckPart(first.Part, partTags, plan.Stream, frames, firstEnd, plan.Gapless, "first part");
    }
    return 0;
}
