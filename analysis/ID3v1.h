// TID3v1: the 128-byte ID3v1 tag at the end of an MPEG audio file, in its
// 1.0 form (30-character comment) and 1.1 form (28 characters and a track
// number). Texts are UTF-8 in memory and ISO-8859-1 on disk; the limits of
// 30 (and 4 for the year) count bytes on disk, i.e. Latin-1 characters.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "files/FileIdentity.h"

// The 148 ID3v1 genre names, indexed by genre number.
extern const std::array<std::string_view, 148> GenreNames;

class TID3v1 {
public:
    TID3v1();

    void Reset();
    // True when the last 128 bytes could be read, tag or not.
    bool ReadTag(const std::string& fileName);
    // Reads the tag from a file's last bytes held in memory (its last 128
    // bytes are the tag's place). True when there were 128 bytes, tag or
    // not. No Origin is kept.
    bool Parse(std::span<const uint8_t> bytes);
    // Overwrites the file's tag where it stands, or appends one, with the
    // bytes of RenderTag. A read-only file is made owner-writable first.
    // Fails, writing nothing, for files shorter than 128 bytes, and for the
    // file of Origin() when it is no longer as it was then (another
    // program changed it since). WriteError() says why.
    bool WriteTag(const std::string& fileName);
    const std::string& WriteError() const { return writeError_; }
    // True when the last WriteTag was refused because the file had changed
    // since it was read.
    bool FileChangedSinceRead() const { return changedSinceRead_; }
    // The file the tag was last read from, as it was then, or as the last
    // write back to it left it; empty before a read, and after Reset.
    const std::optional<ReadOrigin>& Origin() const { return origin_; }
    // This program changed the file from `before` (when that is this tag's
    // origin) to `after` through another object (the ID3v2 tag): no
    // stranger's change, so the tag's origin moves along.
    void FollowOwnWrite(const ReadOrigin& before, const ReadOrigin& after);

    bool Exists() const { return exists_; }
    uint8_t VersionID() const { return versionID_; }  // 1 = v1.0, 2 = v1.1
    const std::string& Title() const { return title_; }
    const std::string& Artist() const { return artist_; }
    const std::string& Album() const { return album_; }
    const std::string& Year() const { return year_; }
    const std::string& Comment() const { return comment_; }
    uint8_t Track() const { return track_; }      // 0 = none
    uint8_t GenreID() const { return genreID_; }  // 255 = none
    std::string Genre() const;                    // GenreNames entry, or empty

    // Setters trim trailing characters with codes 0 to 32 and keep at most
    // 30 characters (4 for the year).
    void SetTitle(std::string_view value);
    void SetArtist(std::string_view value);
    void SetAlbum(std::string_view value);
    void SetYear(std::string_view value);
    void SetComment(std::string_view value);
    void SetTrack(uint8_t value) { track_ = value; }
    void SetGenreID(uint8_t value) { genreID_ = value; }

    // The 128 bytes WriteTag puts at the end of the file.
    std::array<uint8_t, 128> RenderTag() const;

private:
    // Takes the fields from the 128 bytes of the tag's place.
    void TakeBlock(const std::array<uint8_t, 128>& block);

    bool exists_ = false;
    uint8_t versionID_ = 1;
    std::string title_;
    std::string artist_;
    std::string album_;
    std::string year_;
    std::string comment_;
    uint8_t track_ = 0;
    uint8_t genreID_ = 255;
    std::string writeError_;
    bool changedSinceRead_ = false;
    std::optional<ReadOrigin> origin_;
};
