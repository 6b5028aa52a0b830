// The field mapping of TID3v2: which frames give the seven fields (title,
// artist, album, track, year, genre, comment) and how their texts read,
// v2.2 and v2.4 forms included, and the frames a field is written back as.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "ID3v2FrameWalk.h"

namespace id3v2 {

// The seven frames, in writing order.
enum Field { kTitle, kArtist, kAlbum, kTrack, kYear, kGenre, kComment, kFieldCount };
constexpr std::array<std::string_view, kFieldCount> kFieldIds = {"TIT2", "TPE1", "TALB", "TRCK",
                                                                  "TYER", "TCON", "COMM"};

std::optional<Field> FieldOf(std::string_view id);
// The field whose identifier a kept frame (v2.3 form) carries.
std::optional<Field> FieldOfKept(const Bytes& frame);

// The three bytes of a comment frame's language, as they are.
std::string CommentLanguage(const Bytes& content);

// The comment's description and text, from the first bytes of a COMM frame.
struct CommentParts {
    std::string description;
    std::string text;
};
CommentParts DecodeComment(const Bytes& content);

// The year of a kept frame (v2.3 form), when it is a date frame that a reader
// can take a year from.
std::optional<std::string> YearOfKeptDate(const Bytes& frame);
// True for a kept comment frame (v2.3 form) without a description.
bool IsCommentWithoutDescription(const Bytes& frame);

uint8_t TrackFromText(const std::string& text);
// What follows the "/" of a track text, trimmed.
std::string TrackTotalFromText(const std::string& text);

// What a frame gives the field it is read into, in the form fields are
// compared in (the comment with its description in front).
std::string FieldReading(Field field, const FoundFrame& frame);
// True when the v2.3 form of a frame a field was read from gives the field
// what the frame as found gave it: a v2.4 frame of several values, or a
// genre by its bare number, would not.
bool ReadsBackTheSame(Field field, const FoundFrame& found, const Bytes& kept);

// The whole frame for one of the seven texts.
Bytes TextFrame(std::string_view id, const std::string& text);
Bytes CommentFrame(const std::string& text, const std::string& language);

} // namespace id3v2
