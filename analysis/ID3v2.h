// TID3v2: the ID3v2 tag at the start of an MPEG audio file. Reads the seven
// text frames of v2.2, v2.3 and v2.4 tags and writes a v2.3 tag in place of
// the old one. Frames other than the seven (pictures, lyrics, ...) of the
// tag last read are kept and written back after them. Texts are UTF-8.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "FileIdentity.h"

class TID3v2 {
public:
    TID3v2();

    void Reset();
    // True when the first 10 bytes of the file could be read, tag or not.
    // The tag last parsed in this process is remembered with its file's
    // identity (see FileIdentity.h): reading the same unchanged file again
    // (the analyser, the player and a split all read the source) takes the
    // parsed fields without reading and parsing the frames again. Files
    // changed in the last seconds are not remembered, so that a change in
    // the same clock tick as the read cannot go unnoticed. Never writes:
    // a journal left beside the file is the next write's to deal with.
    // Remembers the file as it is now (Origin) for WriteTag to compare.
    bool ReadTag(const std::string& fileName);
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
    // zero padding (they would be audio lost). Refused as well, the file
    // untouched, when it is the file of Origin() and no longer as it was
    // then: another program changed it since, and writing would undo that
    // change. On false the file is exactly as it was and WriteError() says
    // why.
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
    // Fills the fields and the kept frames from the bytes after the header.
    void TakeFrames(uint8_t version, uint8_t flags, std::vector<uint8_t> body);

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
    // Frames of the tag last read that are not among the seven, in v2.3 form
    // (10-byte header and data), in their original order. Never changed once
    // made, so copies of a tag share them (a picture is not copied).
    std::vector<std::shared_ptr<const std::vector<uint8_t>>> keptFrames_;
    std::string writeError_;
    bool changedSinceRead_ = false;
    std::optional<ReadOrigin> origin_;
};
