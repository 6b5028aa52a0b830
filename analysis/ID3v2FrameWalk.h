// The walk over the frames of an ID3v2 tag's body: the tag header's flags,
// whole-tag unsynchronisation, the extended header, and the frame headers of
// v2.2, v2.3 and v2.4 (with v2.4 sizes that some writers put there plain).
// Each frame found is handed back with its identifier and whole bytes in the
// v2.3 form TID3v2 writes. Works on bytes in memory; none is read outside
// them, whatever sizes they claim.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "ID3v2.h"
#include "ID3v2Frames.h"

namespace id3v2 {

constexpr size_t kHeaderSize = 10;
constexpr size_t kFooterSize = 10;
// Counted in characters, not bytes, so that a text reads back whole
// whatever encoding it is written in: a UTF-16 text takes twice the bytes
// of the same text in ISO-8859-1.
constexpr size_t kTextChars = TID3v2::kMaxTextLength;
// The bytes of a frame looked at for its text: those characters at four
// bytes each (UTF-8, or a UTF-16 surrogate pair) with room for the
// encoding byte, language, a description, byte order marks and terminators.
constexpr size_t kTextBytes = 4 * kTextChars + 1024;
// The largest tag size a synchsafe field can hold.
constexpr size_t kMaxTagBody = 0x0FFFFFFF;

struct TagHeader {
    bool isTag = false;
    uint8_t version = 0;
    uint8_t flags = 0;
    int64_t at = 0;        // where the header stands in the file
    int64_t size = 0;      // with the header, footer not counted; 0 = none or larger than the file
    int64_t claimed = 0;   // the size its size field gives
    int64_t fileSize = 0;
};

// One frame as found, with its identifier in v2.3 form.
struct FoundFrame {
    std::string id;
    uint8_t version = 0;  // of the tag it was found in
    // The first bytes of the frame's content, as many as its texts are read
    // from (kTextBytes); empty when compressed or encrypted (not readable
    // here). A picture's megabytes are not copied for that.
    std::optional<Bytes> content;
    // The whole frame in v2.3 form, empty when it cannot be carried over.
    std::optional<Bytes> kept;
    // The name of a whole frame that v2.3 has no place for.
    std::string uncarried;
};

// The body of one tag read (the bytes after its header), with its header.
struct TagBody {
    TagHeader header;
    Bytes body;
};

// True for a tag of a version and kind whose frames can be read.
bool Readable(const TagHeader& header);
// v2.2 and v2.3 unsynchronise the whole body; v2.4 does it frame by frame.
bool WholeTagUnsynchronised(const TagHeader& header);
bool HasFooter(const TagHeader& header);

// A v2.3 frame's data (after its 10-byte header) as found; `complete` when
// all of its bytes are there, so that it can be kept.
FoundFrame TakeV23Frame(std::string id, uint16_t flags, const uint8_t* data, size_t size, bool complete);
// The content of a whole v2.3 frame (as kept) when it has the identifier
// and its text can be read; nothing otherwise.
std::optional<Bytes> ContentOfKept(const Bytes& frame, std::string_view id);

// The frames of one tag's body, in order.
std::vector<FoundFrame> ParseFrames(const TagHeader& header, Bytes body);
// The frames of the tags read, the first one first: a further tag adds the
// kinds of frames the tags before it lack.
std::vector<FoundFrame> FramesOfTags(std::vector<TagBody> tags);

// What a tag's frames take of its body, in stored bytes (the zero bytes of
// a whole-tag unsynchronisation counted), and whether the walk stopped at
// the frame cap. Knows only the bytes given.
struct Extent {
    size_t contentEnd = 0;
    bool capped = false;
};
Extent FramesExtent(const TagHeader& header, const Bytes& body);

} // namespace id3v2
