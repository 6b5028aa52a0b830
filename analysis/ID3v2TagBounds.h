// Where the ID3v2 tags at the start of a file lie: the header, as much of a
// tag's body as its frames take, a v2.4 footer, further tags right behind the
// first one, and whether what a size field claims beyond the frames is zero
// padding. The bytes come from a TagSource: an open file, or the bytes of a
// file's start held in memory, so that a tag parses the same from either.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "ID3v2FrameWalk.h"

class BinaryFile;

namespace id3v2 {

// The most of a tag's body that is read into memory, whatever its size
// field claims; pictures of several megabytes fit easily.
constexpr size_t kMaxTagRead = size_t(16) << 20;

// Bytes read by position. A read that would go past the end fails.
class TagSource {
public:
    virtual ~TagSource() = default;
    virtual int64_t Size() = 0;  // -1 when it cannot be told
    virtual bool ReadAt(int64_t at, uint8_t* into, size_t count) = 0;
    // Why the last read failed, for messages; may be empty.
    virtual std::string LastError() const = 0;
};

// The bytes of an open file (not owned; it outlives the source).
class FileTagSource final : public TagSource {
public:
    explicit FileTagSource(BinaryFile& file) : file_(file) {}
    int64_t Size() override;
    bool ReadAt(int64_t at, uint8_t* into, size_t count) override;
    std::string LastError() const override;

private:
    BinaryFile& file_;
};

// Bytes in memory (not owned; they outlive the source), as a file's first
// bytes: a file cut off behind them has the size of the span.
class SpanTagSource final : public TagSource {
public:
    explicit SpanTagSource(std::span<const uint8_t> bytes) : bytes_(bytes) {}
    int64_t Size() override { return static_cast<int64_t>(bytes_.size()); }
    bool ReadAt(int64_t at, uint8_t* into, size_t count) override;
    std::string LastError() const override { return {}; }

private:
    std::span<const uint8_t> bytes_;
};

// The header at `at`; false when its 10 bytes cannot be read. The four
// size bytes are taken as they are (bit 7 included), as the measurement of
// an existing tag always has been.
bool ReadHeaderAt(TagSource& source, int64_t at, TagHeader& header);
bool ReadHeader(TagSource& source, TagHeader& header);
// Reads as much of the tag's body as its frames take (at most kMaxTagRead
// bytes), not what its size field claims: a size of hundreds of megabytes
// in front of a small tag costs a small read. `whole` tells whether every
// frame the walk found lies inside the bytes read.
bool ReadBody(TagSource& source, const TagHeader& header, Bytes& body, bool* whole = nullptr);
// A tag is replaced from its first byte to the end its size field claims.
// That is only safe when everything past its frames is zero padding: a
// size field grown by a faulty writer or by damage would otherwise take
// audio with it. False, with the reason naming fileName, otherwise.
bool PresentTagMayBeReplaced(TagSource& source, const TagHeader& header, const std::string& fileName,
                             std::string& reason);
// Further tags right behind the first one (and its footer), as some
// taggers leave them (a new tag put in front of the one there was). Only
// tags without footers are chained, and only those whose size is backed by
// frames and zero padding: a write replaces them with the first, so that
// bytes behind their frames would be lost. What follows the first tag
// decides, not the first tag's own kind: a write puts a tag of another
// kind in its place, and a read after it must find what this one found.
std::vector<TagHeader> FollowingTags(TagSource& source, const TagHeader& first);
// Where the audio starts in a file about to be rewritten: behind its tag
// and the tags that follow it right away.
int64_t AudioStart(TagSource& source, const TagHeader& header);

} // namespace id3v2
