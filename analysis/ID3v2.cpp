#include "ID3v2.h"

#include "ByteReader.h"
#include "ID3v2Fields.h"
#include "ID3v2FrameWalk.h"
#include "ID3v2TagBounds.h"
#include "TextCodec.h"
#include "files/BinaryFile.h"
#include "files/FileIdentity.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <memory>
#include <optional>
#include <utility>

using namespace id3v2;

namespace {

// A hostile tag may hold thousands of frames that cannot be carried: the
// refusal names the first ones (one more is noted to tell there are more).
constexpr size_t kNamed = 10;

// The whole tag: a v2.3 header, the frames (framesSize bytes together) and
// `padding` zero bytes, which a tag without frames does without.
Bytes TagOfFrames(const std::vector<const Bytes*>& frames, size_t framesSize, size_t padding)
{
    if (framesSize == 0)
        padding = 0;
    padding = std::min(padding, kMaxTagBody - framesSize);
    Bytes tag{'I', 'D', '3', 3, 0, 0};
    tag.reserve(kHeaderSize + framesSize + padding);
    PutSynchsafe32(tag, static_cast<uint32_t>(framesSize + padding));
    for (const Bytes* frame : frames)
        tag.insert(tag.end(), frame->begin(), frame->end());
    tag.resize(tag.size() + padding, 0);
    return tag;
}

} // namespace

TID3v2::TID3v2()
{
    Reset();
}

void TID3v2::Reset()
{
    exists_ = false;
    versionID_ = 0;
    size_ = 0;
    title_.clear();
    artist_.clear();
    album_.clear();
    track_ = 0;
    trackTotal_.clear();
    year_.clear();
    genre_.clear();
    comment_.clear();
    keptFrames_.clear();
    commentLanguage_ = "eng";
    uncarriedFrames_.clear();
    readFields_ = FieldTexts();
    unreadFrames_.clear();
}

bool TID3v2::ReadTag(const std::string& fileName)
{
    Reset();
    origin_.reset();
    // Reading never writes: a journal an in-place write left (see
    // InPlaceWrite.h) is dealt with by the next write, and only when it is
    // the user's own; a file in a shared folder must not take orders from
    // whoever could leave a file beside it.
    std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(fileName.c_str(), nullptr), &std::free);
    BinaryFile file;
    if (!file.Open(fileName, BinaryFile::Mode::Read))
        return false;
    const std::optional<FileIdentity> identity = IdentityOfDescriptor(file.Descriptor());
    if (identity && resolved)
        origin_ = ReadOrigin{resolved.get(), *identity};
    FileTagSource source(file);
    return ParseFrom(source);
}

bool TID3v2::Parse(std::span<const uint8_t> bytes)
{
    Reset();
    origin_.reset();
    SpanTagSource source(bytes);
    return ParseFrom(source);
}

bool TID3v2::ParseFrom(TagSource& source)
{
    TagHeader header;
    if (!ReadHeader(source, header)) {
        // A file shorter than a header has no tag to lose; a failing disk
        // may well hide one.
        unreadFrames_ = source.LastError();
        return false;
    }
    if (!header.isTag)
        return true;
    exists_ = true;
    versionID_ = header.version;
    size_ = header.size;
    if (size_ == 0)
        return true;

    Bytes body;
    if (!ReadBody(source, header, body)) {
        // The size was checked against the file's: only a failing disk or
        // a file cut short under us gets here.
        unreadFrames_ = source.LastError().empty() ? "The file changed while it was read." : source.LastError();
        return false;
    }
    std::vector<TagBody> tags;
    tags.push_back({header, std::move(body)});
    for (const TagHeader& next : FollowingTags(source, header)) {
        if (!ReadBody(source, next, body))
            break;
        tags.push_back({next, std::move(body)});
        size_ = next.at + next.size;
    }
    TakeFrames(FramesOfTags(std::move(tags)));
    return true;
}

void TID3v2::TakeFrames(std::vector<FoundFrame> frames)
{
    // Each field is read from the first frame of its kind with readable
    // text; the comment from the first without a description (others hold
    // player data such as iTunNORM, or texts of their own). Repeated frames
    // are kept like any other frame.
    constexpr size_t kNone = SIZE_MAX;
    std::array<size_t, kFieldCount> source;
    source.fill(kNone);
    size_t dateFrame = kNone;
    for (size_t i = 0; i < frames.size(); ++i) {
        const FoundFrame& frame = frames[i];
        if (!frame.uncarried.empty() && uncarriedFrames_.size() <= kNamed
            && std::find(uncarriedFrames_.begin(), uncarriedFrames_.end(), frame.uncarried) == uncarriedFrames_.end())
            uncarriedFrames_.push_back(frame.uncarried);
        if (!frame.content)
            continue;
        const auto field = FieldOf(frame.id);
        if (field == kComment) {
            if (source[kComment] == kNone && DecodeComment(*frame.content).description.empty())
                source[kComment] = i;
        } else if (field) {
            if (source[*field] == kNone)
                source[*field] = i;
        } else if (frame.id == "TDRC" && dateFrame == kNone) {
            // v2.4's date; some writers put it into v2.3 tags as well
            dateFrame = i;
        }
    }
    const auto text = [&](Field field) {
        return source[field] == kNone ? std::string() : FieldReading(field, frames[source[field]]);
    };
    year_ = text(kYear);
    // An empty TYER does not hide the date's year. The date frame then is
    // the year's frame: kept as it is while the year is, replaced by a
    // TYER when the year is edited.
    if (year_.empty() && dateFrame != kNone)
        year_ = FieldReading(kYear, frames[dateFrame]);
    if (year_.empty())
        dateFrame = kNone;

    title_ = text(kTitle);
    artist_ = text(kArtist);
    album_ = text(kAlbum);
    const std::string track = text(kTrack);
    track_ = TrackFromText(track);
    trackTotal_ = TrackTotalFromText(track);
    genre_ = text(kGenre);
    if (source[kComment] != kNone) {
        const Bytes& content = *frames[source[kComment]].content;
        comment_ = DecodeComment(content).text;
        commentLanguage_ = CommentLanguage(content);
    }

    for (size_t i = 0; i < frames.size(); ++i) {
        FoundFrame& frame = frames[i];
        int field = i == dateFrame ? int(kYear) : -1;
        for (size_t f = 0; f < kFieldCount; ++f)
            if (source[f] == i)
                field = int(f);
        if (field < 0 && !frame.kept)
            continue;
        KeptFrame kept;
        kept.Field = field;
        if (frame.kept && (field < 0 || ReadsBackTheSame(Field(field), frame, *frame.kept)))
            kept.Bytes = std::make_shared<const Bytes>(std::move(*frame.kept));
        keptFrames_.push_back(std::move(kept));
    }
    readFields_ = FieldTexts();
}

std::vector<std::string> TID3v2::FieldTexts() const
{
    return {title_, artist_, album_, std::to_string(track_) + '/' + trackTotal_, year_, genre_, comment_};
}

std::string TID3v2::UncarriedFrames() const
{
    std::string names;
    for (size_t i = 0; i < std::min(kNamed, uncarriedFrames_.size()); ++i)
        names += (i ? ", " : "") + uncarriedFrames_[i];
    if (uncarriedFrames_.size() > kNamed)
        names += ", ...";
    return names;
}

std::vector<uint8_t> TID3v2::RenderTag(size_t padding) const
{
    // A field is written from its value when it was edited, or when its
    // frame cannot be written back as read; otherwise its frames go back
    // as they were read.
    const std::vector<std::string> now = FieldTexts();
    std::array<bool, kFieldCount> remade{};
    std::array<bool, kFieldCount> hasFrame{};
    for (size_t f = 0; f < kFieldCount; ++f)
        remade[f] = now[f] != readFields_[f];
    for (const KeptFrame& kept : keptFrames_) {
        if (kept.Field >= 0) {
            hasFrame[size_t(kept.Field)] = true;
            remade[size_t(kept.Field)] = remade[size_t(kept.Field)] || !kept.Bytes;
        }
    }

    // An empty comment has no frame, unless a comment frame kept in another
    // language has no description either: the reader would show that one
    // in its place, and the next save would write it as the comment.
    const bool emptyCommentFrame = comment_.empty() && std::any_of(keptFrames_.begin(), keptFrames_.end(), [](const KeptFrame& kept) {
        return kept.Field < 0 && IsCommentWithoutDescription(*kept.Bytes);
    });
    std::string track;
    if (track_ > 0)
        track = std::to_string(track_) + (trackTotal_.empty() ? std::string() : "/" + trackTotal_);
    // A genre text that begins with "(" would read back as a refinement
    // ("(Live)" as no genre at all): it is written with the "((" that
    // marks such a text, which the reader turns back into one "(".
    std::string genre = !genre_.empty() && genre_.front() == '(' ? "(" + genre_ : genre_;
    const std::array<std::string, kFieldCount> texts = {title_, artist_, album_, track, year_, genre, comment_};
    std::array<std::optional<Bytes>, kFieldCount> made;
    for (size_t f = 0; f < kFieldCount; ++f) {
        if (!remade[f] || (texts[f].empty() && !(f == kComment && emptyCommentFrame)))
            continue;
        made[f] = f == kComment ? CommentFrame(texts[f], commentLanguage_) : TextFrame(kFieldIds[f], texts[f]);
    }

    // The frames (a picture of megabytes among them) are copied once,
    // straight into the tag, so their sizes are summed first. Fields that
    // had no frame go in front; the others stay where they were.
    std::vector<const Bytes*> frames;
    size_t framesSize = 0;
    const auto add = [&](const Bytes& frame) {
        if (framesSize + frame.size() > kMaxTagBody)
            return;  // beyond what the tag's size field can express
        frames.push_back(&frame);
        framesSize += frame.size();
    };
    for (size_t f = 0; f < kFieldCount; ++f)
        if (made[f] && !hasFrame[f])
            add(*made[f]);
    // With no TYER written, a reader takes the year from the first date
    // frame: a cleared year must not come back from a kept date.
    bool yearSettled = !year_.empty();
    std::array<bool, kFieldCount> placed{};
    for (const KeptFrame& kept : keptFrames_) {
        if (kept.Field >= 0) {
            const auto f = size_t(kept.Field);
            if (!remade[f])
                add(*kept.Bytes);
            else if (!std::exchange(placed[f], true) && made[f])
                add(*made[f]);
            continue;
        }
        // A repeated frame of a field written as nothing would be read back
        // as that field: a cleared title must not come back from a second
        // title frame.
        if (const std::optional<Field> field = FieldOfKept(*kept.Bytes);
            field && *field != kComment && remade[*field] && texts[*field].empty())
            continue;
        if (!yearSettled) {
            if (std::optional<std::string> year = YearOfKeptDate(*kept.Bytes)) {
                if (!year->empty())
                    continue;
                yearSettled = true;
            }
        }
        add(*kept.Bytes);
    }
    return TagOfFrames(frames, framesSize, padding);
}

void TID3v2::DropFramesOfTheWholeAudio()
{
    static constexpr std::array<std::string_view, 7> kWholeAudioFrames = {"TLEN", "TSIZ", "MLLT", "ETCO",
                                                                          "SYLT", "SYTC", "POSS"};
    constexpr uint8_t kFileAlterPreservation = 0x40;  // first flags byte of a v2.3 frame header
    const auto dropped = [&](const Bytes& frame) {
        if (frame.size() < kHeaderSize)
            return false;
        std::string_view id(reinterpret_cast<const char*>(frame.data()), 4);
        return (frame[8] & kFileAlterPreservation) != 0
            || std::find(kWholeAudioFrames.begin(), kWholeAudioFrames.end(), id) != kWholeAudioFrames.end();
    };
    // A field's frame marked so gives way to one made from the field.
    for (KeptFrame& kept : keptFrames_)
        if (kept.Field >= 0 && kept.Bytes && dropped(*kept.Bytes))
            kept.Bytes.reset();
    std::erase_if(keptFrames_, [&](const KeptFrame& kept) { return kept.Field < 0 && dropped(*kept.Bytes); });
}

void TID3v2::FollowOwnWrite(const ReadOrigin& before, const ReadOrigin& after)
{
    if (origin_ == before)
        origin_ = after;
}

void TID3v2::SetTitle(std::string_view value)
{
    title_ = TrimControlRight(value);
}

void TID3v2::SetArtist(std::string_view value)
{
    artist_ = TrimControlRight(value);
}

void TID3v2::SetAlbum(std::string_view value)
{
    album_ = TrimControlRight(value);
}

void TID3v2::SetYear(std::string_view value)
{
    year_ = TrimControlRight(value);
}

void TID3v2::SetGenre(std::string_view value)
{
    genre_ = TrimControlRight(value);
}

void TID3v2::SetComment(std::string_view value)
{
    comment_ = TrimControlRight(value);
}

void TID3v2::SetTrackTotal(std::string_view value)
{
    trackTotal_ = TrimControl(value);
}
