// TSectionCutter: copies the audio of an MP3 file between two time texts
// into a new file, without decoding.
//
// The stream's length (ms) comes from the player, which opens the source
// once per cut and is left with nothing open (plmStandby). Both times are
// shifted by OffsetMs (limited to -5000..5000) and become samples (ms x
// sample rate / 1000) of the source's time line, which starts at the first
// audio frame (time 0, after any Xing, Info or VBRI frame) and, for a
// source with a LAME extension, drops what its delay and padding tell
// decoders to drop. Frames are counted from time 0 by their own sample
// count, so a time lands on the same frame at any bit rate.
//
// Every part starts with a header frame of its own ("Xing" or "Info", with
// a LAME extension; see FrameModel.h) written last, in place, once the
// part's frames are known; the source's header frame goes into no part. A
// constant rate too low for any (see HeaderFrameHeader) gives parts
// without one, cut on frame boundaries even when Gapless asks otherwise.
// Without Gapless a part holds whole frames from the frame boundary
// nearest its start to the one nearest its end. With it, a part starts
// with the frames whose output overlaps its first sample's frame and,
// for Layer III, a frame that rebuilds the bit reservoir, and ends with
// the frame holding its last sample; the delay and padding then make a
// gapless decoder give exactly the part's samples.
//
// The frames and header fields of a part are worked out by the part plan
// (PartPlan.h) from a SplitPoint, and written by the part writer
// (PartWriter.h): beside the target under a temporary name, renamed onto
// the target only when complete, so a failed cut never leaves a
// half-written target nor destroys the file it would have replaced. When
// tags are given they are written in the same pass (ID3v2 tag, audio,
// ID3v1 tag): the same bytes as copying the audio and then running
// TID3v1::WriteTag and TID3v2::WriteTag on the result.
//
// Runs on the caller's thread and blocks for the copy, except for a part
// of a split that may finish later (CutRequest::MayFinishLater).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/AudioFrames.h"
#include "core/PartPlan.h"
#include "core/PartWriter.h"
#include "files/FileIdentity.h"

class BinaryFile;
class TBASSChannel;
class TFrameIndex;

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
    // Parts start with the frames a decoder needs to rebuild the bit
    // reservoir and the overlap, and the header frame's delay and padding
    // make them start and end on the exact sample.
    bool Gapless = false;
    // A part of a split: the cut holds Part's range (and the times are then
    // only checked, not used), learns the stream's frames through an index
    // shared by the run's parts, and takes fewer than two frames left
    // behind it in. Nothing: a section, of the times.
    std::optional<SplitPoint> Part;
    int32_t PartIndex = 0;  // names the part in FailedPart
    // With Overwrite, the part may be copied and put in place on a thread
    // of its own while the caller cuts the next ones (see FinishPendingParts).
    bool MayFinishLater = false;
};

class TSectionCutter {
public:
    explicit TSectionCutter(TBASSChannel& player);
    ~TSectionCutter();  // waits for pending parts, which go into place
    TSectionCutter(const TSectionCutter&) = delete;
    TSectionCutter& operator=(const TSectionCutter&) = delete;

    // True when Target was written; false when nothing was written: missing
    // source, target that is the source (by identity), player not ready or
    // not opening the source, no bit rate, start not before the end or not
    // before the stream's length, no MPEG frames, a part of fewer than two
    // of the source's frames, or an existing target without Overwrite.
    // Throws CorvellaError for a time text that does not convert ("'x' is
    // not a valid integer value"), a source that cannot be opened ("Cannot
    // open file ..."), a target that cannot be created ("Cannot create file
    // ..."), a short read ("Stream read error"), a failed write, or a
    // section (not a part of a split) whose frames would hold less than
    // 0.1 s, too short a file to be opened (kSectionTooShort).
    bool CutSection(const std::string& source, const std::string& target, const std::string& startText,
                    const std::string& endText, bool overwrite, int64_t offsetMs);
    bool Cut(const CutRequest& request);
    // True when the last Cut returned false because its range held fewer
    // than two whole frames (start not before the end or the stream's
    // length, or too few frames between): a part with nothing to hold,
    // not a failure. False after every other refusal and after a write.
    bool LastCutWasEmpty() const { return lastCutEmpty_; }

    // Starts walking the frames of source for a split of it, so that the
    // walks run while the caller reads its tags and measures it; the parts'
    // cuts take them over while the file stays the same.
    void PrepareParts(const std::string& source);

    // A cut with MayFinishLater that returned true leaves its part copying
    // on a thread of its own; parts go into place in the order they were
    // cut, and none after one that failed. A few copy at once: a Cut that
    // would start one more waits for the oldest first. An error of a part
    // cut before is thrown by the Cut or FinishPendingParts that learns of
    // it (FailedPart then names that part). FinishPendingParts waits for
    // all of them.
    void FinishPendingParts() { writer_.FinishPending(); }
    // CutRequest::PartIndex of the part cut before whose error the last Cut
    // or FinishPendingParts threw; nothing when the error was its own.
    std::optional<int32_t> FailedPart() const { return writer_.FailedPart(); }

private:
    struct Measured;
    struct PlannedPart;
    struct WalkedPart;
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
        int64_t FrameIndex = 0;
        std::optional<int64_t> Frames;  // the stream's frame count, once walked
        std::shared_ptr<TFrameIndex> Index;  // the parts of a split: see FrameIndex.h
        std::optional<int64_t> LengthMs;  // what the player measured
        int64_t BitRate = 0;
    };
    // Where source's audio lies, and its frame count when its header frame
    // gives it; nothing for a file without MPEG frames.
    static std::optional<WalkMemo> Locate(BinaryFile& source, const FileIdentity& identity);
    static std::shared_ptr<TFrameIndex> IndexFor(const BinaryFile& source, const WalkMemo& memo);
    bool CutOrHandOver(const CutRequest& request);
    // The request's times, checked, and the stream's length and bit rate;
    // nothing when the cut is refused before the source is read.
    std::optional<Measured> Measure(const CutRequest& request);
    // The memo of the open source (the one kept when it is of this very
    // file); nothing for a file without MPEG frames.
    std::optional<WalkMemo> MemoFor(BinaryFile& source, const std::optional<FileIdentity>& identity,
                                    const Measured& cut);
    static PlannedPart PlanFrames(const CutRequest& request, const Measured& cut, WalkMemo& memo,
                                  TFrameWalker& walker, TFrameIndex* index);
    static WalkedPart WalkPart(const PlannedPart& part, WalkMemo& memo, TFrameWalker& walker, TFrameIndex* index);
    bool WritePart(const CutRequest& request, BinaryFile& source, const PlannedPart& part, WalkedPart& walked,
                   const AudioSpan& span, TFrameWalker& walker, TFrameIndex* index);

    TBASSChannel& player_;
    std::optional<WalkMemo> memo_;
    bool lastCutEmpty_ = false;
    TPartWriter writer_;
};

// Whether the file holds MPEG audio frames where a cut looks for them;
// nothing when it could not be read to tell. A command asks before it asks
// for a name, since a cut of such a file writes nothing.
std::optional<bool> HoldsMpegAudio(const std::string& path);

// Clears a read-only file's protection and deletes it. True when the file
// existed and was deleted; false when it did not exist or could not go.
bool ForceDeleteFile(const std::string& path);

// The reason a section too short to be opened is refused.
inline constexpr const char* kSectionTooShort =
    "The section is too short: a file must hold at least 0.1 s of audio to be opened.";

// The reason given when a target is refused for not being a regular file.
inline constexpr const char* kNotARegularFile = "It is a device, a pipe or a folder, not a regular file.";

// True when path names something that exists and is not a regular file
// (a device, a pipe, a socket or a folder; links are followed): a cut
// never puts a file in its place.
bool IsExistingNonRegularFile(const std::string& path);

// True when both paths name the same existing file: the same device and
// inode (hard links, symbolic links, relative paths) or the same canonical
// path.
bool IsSameFile(const std::string& first, const std::string& second);
