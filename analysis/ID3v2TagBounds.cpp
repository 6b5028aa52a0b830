#include "ID3v2TagBounds.h"

#include "ByteReader.h"
#include "files/BinaryFile.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace id3v2 {

namespace {

// Tags right behind the first one are taken up to this many, and only
// while they end within the bytes a tag's body is read to at most.
constexpr size_t kMaxFollowingTags = 4;
// The first read of a body; most tags without a picture fit in it.
constexpr size_t kFirstRead = size_t(64) << 10;

// Where a tag found in its file ends: after its size and, for a v2.4 tag,
// after its footer too.
int64_t TagEnd(TagSource& source, const TagHeader& header)
{
    int64_t start = header.at + header.size;
    if (HasFooter(header) && start + static_cast<int64_t>(kFooterSize) <= header.fileSize) {
        std::array<uint8_t, 3> mark{};
        if (source.ReadAt(start, mark.data(), mark.size()) && mark[0] == '3' && mark[1] == 'D' && mark[2] == 'I')
            start += static_cast<int64_t>(kFooterSize);
    }
    return start;
}

bool AllZero(TagSource& source, int64_t from, int64_t to)
{
    std::vector<uint8_t> buffer(kFirstRead);
    for (int64_t at = from; at < to;) {
        size_t chunk = static_cast<size_t>(std::min<int64_t>(to - at, static_cast<int64_t>(buffer.size())));
        if (!source.ReadAt(at, buffer.data(), chunk))
            return false;
        if (std::any_of(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(chunk), [](uint8_t b) { return b; }))
            return false;
        at += static_cast<int64_t>(chunk);
    }
    return true;
}

} // namespace

int64_t FileTagSource::Size()
{
    return file_.Size();
}

bool FileTagSource::ReadAt(int64_t at, uint8_t* into, size_t count)
{
    return file_.Seek(at) && file_.ReadExact(into, count);
}

std::string FileTagSource::LastError() const
{
    return file_.LastError();
}

bool SpanTagSource::ReadAt(int64_t at, uint8_t* into, size_t count)
{
    if (at < 0 || static_cast<uint64_t>(at) > bytes_.size() || count > bytes_.size() - static_cast<size_t>(at))
        return false;
    if (count > 0)
        std::memcpy(into, bytes_.data() + at, count);
    return true;
}

bool ReadHeaderAt(TagSource& source, int64_t at, TagHeader& header)
{
    std::array<uint8_t, kHeaderSize> bytes{};
    header.fileSize = source.Size();
    header.at = at;
    if (header.fileSize < 0 || !source.ReadAt(at, bytes.data(), bytes.size()))
        return false;
    header.isTag = bytes[0] == 'I' && bytes[1] == 'D' && bytes[2] == '3';
    if (!header.isTag)
        return true;
    header.version = bytes[3];
    header.flags = bytes[5];
    header.claimed = ID3v2TagLength(bytes.data() + 6);
    header.size = at + header.claimed > header.fileSize ? 0 : header.claimed;
    return true;
}

bool ReadHeader(TagSource& source, TagHeader& header)
{
    return ReadHeaderAt(source, 0, header);
}

bool ReadBody(TagSource& source, const TagHeader& header, Bytes& body, bool* whole)
{
    // The size has been checked against the file's size.
    const size_t claimed = static_cast<size_t>(header.size) - kHeaderSize;
    const size_t limit = std::min(claimed, kMaxTagRead);
    size_t want = WholeTagUnsynchronised(header) ? limit : std::min(limit, kFirstRead);
    body.clear();
    for (;;) {
        const size_t have = body.size();
        body.resize(want);
        if (!source.ReadAt(header.at + static_cast<int64_t>(kHeaderSize + have), body.data() + have, want - have))
            return false;
        Extent extent = FramesExtent(header, body);
        const bool fits = extent.contentEnd + kHeaderSize <= body.size() || extent.capped;
        if (fits || body.size() == limit) {
            if (whole)
                *whole = !extent.capped && (extent.contentEnd <= body.size() || claimed <= body.size());
            return true;
        }
        want = std::min(limit, std::max(extent.contentEnd + kFirstRead, 2 * body.size()));
    }
}

bool PresentTagMayBeReplaced(TagSource& source, const TagHeader& header, const std::string& fileName,
                             std::string& reason)
{
    if (!header.isTag || header.size == 0 || !Readable(header))
        return true;
    Bytes body;
    bool whole = false;
    if (!ReadBody(source, header, body, &whole)) {
        reason = "Cannot read file \"" + fileName + "\". " + source.LastError();
        return false;
    }
    const Extent extent = FramesExtent(header, body);
    if (!whole) {
        reason = "The ID3v2 tag of \"" + fileName + "\" holds more frames than can be read; it is left as it is.";
        return false;
    }
    const int64_t contentEnd = int64_t(kHeaderSize + extent.contentEnd);
    if (contentEnd < header.size && !AllZero(source, header.at + contentEnd, header.at + header.size)) {
        reason = "The ID3v2 tag of \"" + fileName + "\" claims " + std::to_string(header.size)
            + " bytes, but its frames end at byte " + std::to_string(contentEnd)
            + " and what follows is not padding. Writing a new tag would lose that data, so the file is left as it is.";
        return false;
    }
    return true;
}

std::vector<TagHeader> FollowingTags(TagSource& source, const TagHeader& first)
{
    std::vector<TagHeader> tags;
    if (!first.isTag || first.size == 0)
        return tags;
    int64_t at = TagEnd(source, first);
    while (tags.size() < kMaxFollowingTags) {
        TagHeader next;
        std::string reason;
        if (!ReadHeaderAt(source, at, next) || !next.isTag || next.size == 0 || !Readable(next) || HasFooter(next)
            || next.at + next.size > int64_t(kMaxTagRead) || !PresentTagMayBeReplaced(source, next, std::string(), reason))
            break;
        tags.push_back(next);
        at = next.at + next.size;
    }
    return tags;
}

int64_t AudioStart(TagSource& source, const TagHeader& header)
{
    if (!header.isTag || header.size == 0)
        return 0;
    const std::vector<TagHeader> following = FollowingTags(source, header);
    return TagEnd(source, following.empty() ? header : following.back());
}

} // namespace id3v2
