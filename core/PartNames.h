// The file names and tags of the parts of a split.
//
// Names come from a template of literal text and fields in braces:
//   {n}       the part's number, zero-padded to the width of the count
//   {k}       the part's number as it is
//   {title}   the part's title ("Track " and {n} when it has none)
//   {artist}  the part's performer, else the source's artist
//             ("Unknown Artist" when neither is known)
//   {album}   the album ("Unknown Album" when unknown)
//   {source}  the source's base name (PartBaseName)
// followed by ".mp3". The texts of the tag fields (title, artist, album)
// lose their blanks at both ends and get "_" for each character some file
// system refuses (/ \ : * ? " < > | and control characters); the
// template's own text gets it for "/" and control characters; the
// source's name, a name its file system took, stays as it is. A name
// loses the blanks and dots at its end, which Windows drops, is kept
// within 255 bytes by shortening its longest field texts, and never
// equals (ignoring ASCII case) the name of another part of the same
// split: the later one gets " (2)", " (3)", ...
// Pure functions; any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/ParseResult.h"
#include "core/SplitPoints.h"

// Equal parts are named as they always were: "song_chunk_3.mp3".
inline constexpr std::string_view kEqualPartsNameTemplate = "{source}_chunk_{k}";
// Parts that have titles (a CUE sheet, a list of times).
inline constexpr std::string_view kTitledPartsNameTemplate = "{n} - {title}";
// Parts without titles (a fixed length, a list of bare times).
inline constexpr std::string_view kSourcePartsNameTemplate = "{source}_part_{n}";

// Longest file name, in bytes, that common file systems take.
inline constexpr size_t kMaxPartNameBytes = 255;

struct PartNameFields {
    std::string Source;     // base name of the source file
    std::string Album;
    std::string Title;
    std::string Artist;
    int64_t Number = 1;     // from 1
    int64_t Count = 1;      // the number of parts; sets the width of {n}
};

// Why a template cannot name parts ("unknown field {x} in the name
// template ..." or an empty template); empty when it can.
std::string NameTemplateError(std::string_view nameTemplate);

// The name of one part; a field the template does not know (see
// NameTemplateError) is written as it stands.
std::string PartNameFromTemplate(std::string_view nameTemplate, const PartNameFields& fields);

// A name the user typed for a part, made usable as the template's names
// are: blanks at both ends dropped, "_" for each character some file
// system refuses, ".mp3" added unless it ends so (in any case), the blanks
// and dots Windows drops removed, kept within kMaxPartNameBytes. Empty
// when nothing is left of it.
std::string PortablePartName(std::string_view typed);

// The names of all parts of a split, distinct; refused with
// NameTemplateError. Each part's title and
// performer fill {title} and {artist} (the performer falling back to
// sourceArtist).
ParseResult<std::vector<std::string>> PartNamesFromTemplate(std::string_view nameTemplate,
                                                           const std::vector<SplitPart>& parts,
                                                           std::string_view sourceBaseName, std::string_view album,
                                                           std::string_view sourceArtist);

// The tag texts a part is written with.
struct TagTexts {
    std::string Title;
    std::string Artist;
    std::string Album;
    std::string Year;
    std::string Genre;
    std::string Comment;
    int64_t Track = 0;         // 0: none
    std::string TrackTotal;    // after the "/" of the track text; empty: none
};

// The source's tags, then the part's own: its title where it has one, the
// track number/count ("K/N"), and its performer as the artist where it has
// one.
TagTexts PartTagTexts(const TagTexts& source, const SplitPart& part, int64_t number, int64_t count);
