// TID3v2: the ID3v2 tag at the start of an MPEG audio file. Reads the seven
// text fields of v2.2, v2.3 and v2.4 tags and writes a v2.3 tag in place of
// the old one. Every frame of the tag last read is written back in its
// order, the frames of fields not edited since exactly as they were read
// (v2.2 and v2.4 frames in their v2.3 form); only the frame a changed field
// was read from is made anew. Texts are UTF-8.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "files/FileIdentity.h"

namespace id3v2 {
struct FoundFrame;
class TagSource;
}

class TID3v2 {
public:
    TID3v2();

    void Reset();
    // True when the first 10 bytes of the file could be read, tag or not,
    // and the tag's frames too when there is one. Never writes:
    // a journal left beside the file is the next write's to deal with.
    // Remembers the file as it is now (Origin) for WriteTag to compare.
    bool ReadTag(const std::string& fileName);
    // Reads the tag from a file's first bytes held in memory, as ReadTag
    // reads it from the file: the tag with all the bytes its size claims
    // (a tag claiming more is taken as one claiming more than the file
    // holds), and the tags right behind it when they are there too. True
    // when there were at least 10 bytes, tag or not. No Origin is kept.
    bool Parse(std::span<const uint8_t> bytes);
    // Puts a v2.3 tag built from the fields (and the kept frames) in front
    // of the audio. When it fits into the bytes of the file's present tag
    // (frames and padding), it is written there, through a journal (see
    // InPlaceWrite.h), the rest zero padding and the tag's size unchanged.
    // Otherwise the file is rewritten through a new file renamed over the
    // old one (see FileRewrite.h), the tag then padded so that later edits
    // fit: 1 KiB plus 0.1% of the file, at most 1 MiB (an empty tag stays
    // 10 bytes); a file with other names (hard links) is refused then, as
    // they would keep the old tag. Refused, the file untouched, when the
    // present tag's size field claims bytes beyond its frames that are not
    // zero padding (they would be audio lost) or beyond the end of the file
    // (where the tag ends is unknown), and when the tag last read holds
    // frames a v2.3 tag cannot carry (UncarriedFrames). Refused as well, the
    // file untouched, when it is the file of Origin() and no longer as it
    // was then: another program changed it since, and writing would undo
    // that change. Refused too when the last ReadTag could not read the
    // tag's frames: the frames no field shows would be lost. On false the
    // file is exactly as it was and WriteError() says why.
    bool WriteTag(const std::string& fileName);
    // The reason the last WriteTag failed, naming the file.
    const std::string& WriteError() const { return writeError_; }
    // True when the last WriteTag was refused because the file had changed
    // since it was read.
    bool FileChangedSinceRead() const { return changedSinceRead_; }
    // The file the tag was last read from, as it was then, or as the last
    // write back to it left it; empty before a read.
    const std::optional<ReadOrigin>& Origin() const { return origin_; }
    // This program changed the file from `before` (when that is this tag's
    // origin) to `after` through another object (the ID3v1 tag): no
    // stranger's change, so the tag's origin moves along.
    void FollowOwnWrite(const ReadOrigin& before, const ReadOrigin& after);

    bool Exists() const { return exists_; }
    uint8_t VersionID() const { return versionID_; }
    // Whole tag in bytes with its header (a v2.4 footer not counted); 0 when
    // there is none or its size field claims more than the file holds.
    // Further tags right behind it (some taggers add a tag in front of the
    // one there was) are counted in: their frames are read where the first
    // tag has none of their kind, and a write replaces them all by one.
    int64_t Size() const { return size_; }
    const std::string& Title() const { return title_; }
    const std::string& Artist() const { return artist_; }
    const std::string& Album() const { return album_; }
    uint8_t Track() const { return track_; }
    // The total after the "/" of the track text ("3/12" gives "12"), kept
    // and written back with the number; empty when there was none.
    const std::string& TrackTotal() const { return trackTotal_; }
    const std::string& Year() const { return year_; }
    const std::string& Genre() const { return genre_; }
    const std::string& Comment() const { return comment_; }

    // Texts are read whole up to this many characters (a bound against
    // hostile sizes, far beyond any real title or comment); a longer one
    // shows its beginning, and is written back whole unless it is edited.
    static constexpr size_t kMaxTextLength = 65536;

    // The frames of the tag last read that a v2.3 tag has no place for
    // (v2.2 frames without a v2.3 counterpart), by name, separated by ", "
    // (the first ten, then "..."); empty when there are none. WriteTag refuses to write while there are
    // any rather than drop them, and so must every writer of this tag.
    std::string UncarriedFrames() const;

    // Setters trim trailing characters with codes 0 to 32.
    void SetTitle(std::string_view value);
    void SetArtist(std::string_view value);
    void SetAlbum(std::string_view value);
    void SetTrack(uint8_t value) { track_ = value; }
    // Trims characters with codes 0 to 32 at both ends.
    void SetTrackTotal(std::string_view value);
    void SetYear(std::string_view value);
    void SetGenre(std::string_view value);
    void SetComment(std::string_view value);

    // The whole tag, header included, followed by `padding` zero bytes that
    // its size counts (none for a tag without frames).
    std::vector<uint8_t> RenderTag(size_t padding = 0) const;

    // Forgets the kept frames that describe the audio as a whole and so are
    // wrong on a section cut from it: the length (TLEN), size (TSIZ), the
    // lookup table, timing codes and synchronised texts (MLLT, ETCO, SYLT,
    // SYTC, POSS), and every frame whose writer asked for it to be discarded
    // when the audio changes (the file alter preservation flag).
    void DropFramesOfTheWholeAudio();

private:
    // One frame of the tag last read, in v2.3 form (10-byte header and
    // data). Never changed once made, so copies of a tag share them (a
    // picture is not copied).
    struct KeptFrame {
        // Null for a frame a field was read from that cannot be written
        // back as it was (cut short, or reading its v2.3 form would give
        // another text): it is made from the field.
        std::shared_ptr<const std::vector<uint8_t>> Bytes;
        int Field = -1;  // the field it was read into, -1 for none
    };

    // Reads the tag at the start of the source's bytes.
    bool ParseFrom(id3v2::TagSource& source);
    // Fills the fields and the kept frames from the frames of the tags read.
    void TakeFrames(std::vector<id3v2::FoundFrame> frames);
    // The seven fields in the form they are compared in to tell an edit.
    std::vector<std::string> FieldTexts() const;

    bool exists_ = false;
    uint8_t versionID_ = 0;
    int64_t size_ = 0;
    std::string title_;
    std::string artist_;
    std::string album_;
    uint8_t track_ = 0;
    std::string trackTotal_;
    std::string year_;
    std::string genre_;
    std::string comment_;
    // The frames of the tag last read, in their order.
    std::vector<KeptFrame> keptFrames_;
    // FieldTexts() as the tag was read: a field that differs was edited.
    std::vector<std::string> readFields_;
    // The language of the comment frame read, which an edited comment keeps.
    std::string commentLanguage_ = "eng";
    std::vector<std::string> uncarriedFrames_;
    std::string writeError_;
    // Why the frames of the tag last read could not be read; empty when they were.
    std::string unreadFrames_;
    bool changedSinceRead_ = false;
    std::optional<ReadOrigin> origin_;
};
