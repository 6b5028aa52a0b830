// DescribeFile: what any audio file the program knows holds, in one shape
// whatever its format. The format is chosen here, by the file's extension,
// and nowhere else: the player, the command line and the window all ask
// this unit which reader a file gets and whether a name is an audio file.
//
// Units: bytes, Hz, kbit/s (1 kbit = 1000 bits), seconds. Texts are UTF-8.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "OggVorbis.h"

enum class AudioFormat : uint8_t {
    Unknown,
    MPEG,       // ".mp3"
    OggVorbis,  // ".ogg"
    WMA,        // ".wma"
    WAV,        // ".wav"
    Module,     // ".mod", ".xm", ".s3m", ".it": no reader; the player describes them once loaded
};

// By the last extension of the file's name, in any case; a dot inside a
// folder name is not an extension.
AudioFormat FormatOfFile(const std::string& fileName);

// The extensions of every format above, lower case without the dot, in the
// order the window lists them.
const std::vector<std::string>& AudioFileExtensions();

struct AudioProperties {
    AudioFormat Format = AudioFormat::Unknown;
    // The reader for the format accepted the file; the other values are
    // those it found either way, as far as it got.
    bool Valid = false;
    int64_t FileSize = 0;
    uint32_t SampleRate = 0;
    int32_t BitRate = 0;
    double Duration = 0;
    uint16_t Channels = 0;
    std::string Title;
    std::string Artist;
    std::string Album;
    std::string Year;  // the Ogg comments' date
    std::string Genre;
    uint8_t GenreID = 0;  // from an ID3v1 tag only; 0 otherwise
    int32_t Track = 0;    // 0 = none
    std::string Comment;
    // An Ogg comment header, which a decoding library reads whole into
    // memory; empty and within bounds for every other format.
    TOggVorbis::CommentExtent Comments;
    bool CommentsWithinBounds = true;
};

// Runs the reader of the file's format; a file that cannot be opened, or of
// a format without a reader, is not Valid. Never throws for a file problem.
AudioProperties DescribeFile(const std::string& fileName);
