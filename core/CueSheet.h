// CueSheet: the tracks of a CUE sheet, for splitting the one audio file it
// describes. Reads the sheets people have: CRLF or LF lines, a byte-order
// mark, UTF-8 or Latin-1 text (a sheet that is not valid UTF-8 is read as
// Latin-1), "INDEX 1" as well as "INDEX 01", commands in any case, extra
// blanks and tabs, values with or without quotes, tracks without a TITLE
// and a FILE line naming any file or extension. Commands that say nothing
// about where tracks start or what they are called (CATALOG, FLAGS, ISRC,
// PREGAP, REM COMMENT, ...) are skipped. Texts are UTF-8. Pure functions
// but the two that look at the file system; any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/ParseResult.h"

struct CueTrack {
    int32_t Number = 0;      // as the TRACK line gives it
    int64_t StartMs = 0;     // INDEX 01, 75 frames a second, to the nearest ms
    std::string Title;       // empty when the track has none
    std::string Performer;   // empty when the track has none
    int32_t Line = 0;        // line of its TRACK command (from 1), for messages
};

struct CueSheet {
    std::string Title;       // the album's: TITLE before the first TRACK
    std::string Performer;
    std::string Date;        // REM DATE
    std::string Genre;       // REM GENRE
    std::string File;        // as the FILE line names it; empty without one
    std::vector<CueTrack> Tracks;  // at least one; starts strictly rising
};

// Refuses, with "line N: reason", a sheet without tracks, a track without
// INDEX 01, an INDEX time that is not MM:SS:FF (or has seconds above 59 or
// frames above 74), a track that does not start after the one before it,
// an unterminated quote, a TRACK number that is not one, an INDEX before
// any TRACK, and a second FILE (a sheet of several files holds times of
// each file, not of the one being split).
ParseResult<CueSheet> ParseCueSheet(std::string_view bytes);

// Reads the file at path (ReadUserText) and parses it.
ParseResult<CueSheet> ReadCueSheet(const std::string& path);

// The sheet beside an audio file, with the file's base name: "song.cue"
// (or "song.CUE", or "song.mp3.cue" as some rippers write it) for
// ".../song.mp3"; nullopt when there is none.
std::optional<std::string> CueSheetBeside(const std::string& audioPath);
