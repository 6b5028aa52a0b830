// TSectionCutter: copies the audio of an MP3 file between two time texts
// into a new file, without decoding.
//
// The stream's length (ms) and average bit rate (kbit/s) come from the
// player, which opens the source once per cut and is left with nothing open
// (plmStandby). Both times are shifted by OffsetMs (limited to -5000..5000)
// and become byte offsets counted from time 0, the first audio frame:
// time 0 + bit rate x ms / 8, never past the audio end (before an ID3v1
// tag). Each offset then moves forward to the next frame start, so a cut
// always holds whole frames; the source's VBR-header frame is copied into
// no cut.
//
// The new file is written beside the target under a temporary name and
// renamed onto the target only when complete, so a failed cut never leaves
// a half-written target nor destroys the file it would have replaced. When
// tags are given they are written in the same pass (ID3v2 tag, audio,
// ID3v1 tag): the same bytes as copying the audio and then running
// TID3v1::WriteTag and TID3v2::WriteTag on the result.
//
// Runs on the caller's thread and blocks for the copy.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/AudioFrames.h"

class TBASSPlayer;
class TID3v1;
class TID3v2;

// The tags every file of one run carries, rendered once per run: the
// ID3v2 tag goes in front of the audio, the ID3v1 tag behind it. An empty
// vector writes no tag of that kind.
struct PartTags {
    std::vector<uint8_t> ID3v2;
    std::vector<uint8_t> ID3v1;
};

// The bytes TID3v2::WriteTag and TID3v1::WriteTag would give a file.
PartTags RenderPartTags(const TID3v1& id3v1, const TID3v2& id3v2);

struct CutRequest {
    std::string Source;
    std::string Target;
    std::string StartText;     // time texts (TimeTextToMilliseconds)
    std::string EndText;
    bool Overwrite = false;    // an existing Target may be replaced
    int64_t OffsetMs = 0;      // added to both times; limited to -5000..5000
    // The cut ends at the audio end whatever EndText says (the last part of
    // an equal split, which must not lose the stream's last milliseconds).
    bool ToAudioEnd = false;
    // Tags written onto the new file in the same pass; null writes none.
    const PartTags* Tags = nullptr;
};

class TSectionCutter {
public:
    explicit TSectionCutter(TBASSPlayer& player);
    TSectionCutter(const TSectionCutter&) = delete;
    TSectionCutter& operator=(const TSectionCutter&) = delete;

    // True when Target was written; false when nothing was written: missing
    // source, target that is the source (by identity), player not ready or
    // not opening the source, no bit rate, start not before the end or not
    // before the stream's length, no MPEG frames, a range that holds fewer
    // than two whole frames, or an existing target without Overwrite.
    // Throws CorvellaError for a time text that does not convert ("'x' is
    // not a valid integer value"), a source that cannot be opened ("Cannot
    // open file ..."), a target that cannot be created ("Cannot create file
    // ..."), a short read ("Stream read error") or a failed write.
    bool CutSection(const std::string& source, const std::string& target, const std::string& startText,
                    const std::string& endText, bool overwrite, int64_t offsetMs);
    bool Cut(const CutRequest& request);

private:
    struct FileIdentity {
        uint64_t Device = 0;
        uint64_t Inode = 0;
        int64_t Size = 0;
        int64_t ModifiedNs = 0;
        int64_t ChangedNs = 0;
        bool operator==(const FileIdentity&) const = default;
    };
    // What the last cut learnt of its source, valid while the source is the
    // same unchanged file: where its audio lies (which otherwise costs
    // reading both tags, a picture included, and searching for the first
    // frame) and a frame start the walk reached just before its last
    // offset, so that consecutive parts of one split each walk only their
    // own frames instead of walking from time 0.
    struct WalkMemo {
        FileIdentity File;
        AudioSpan Span;
        int64_t FrameStart = 0;
    };

    static std::optional<FileIdentity> IdentityOf(int descriptor);

    TBASSPlayer& player_;
    std::optional<WalkMemo> memo_;
};

// Clears a read-only file's protection and deletes it. True when the file
// existed and was deleted; false when it did not exist or could not go.
bool ForceDeleteFile(const std::string& path);

// True when both paths name the same existing file: the same device and
// inode (hard links, symbolic links, relative paths) or the same canonical
// path.
bool IsSameFile(const std::string& first, const std::string& second);
