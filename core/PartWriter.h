// The part writer: puts a planned part into its file. The new content is
// staged beside the target (PendingFile) and renamed onto it only when
// complete, so a failed part never leaves a half-written target nor
// destroys the file it would have replaced. The part's front (ID3v2 tag,
// a place for the header frame, the frames put in front of the source's)
// is written first; then the source's frames are copied, the ID3v1 tag
// written behind them and the header frame, with the music CRC of all
// the part's audio, written in its place (PartCopy).
//
// The parts of a split may be copied on threads of their own while the
// next ones are planned (TPartWriter). Used by TSectionCutter.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "files/StagedFile.h"

class BinaryFile;
class TID3v1;
class TID3v2;

// The tags every file of one run carries, rendered once per run: the
// ID3v2 tag goes in front of the audio, the ID3v1 tag behind it. An empty
// vector writes no tag of that kind.
struct PartTags {
    std::vector<uint8_t> ID3v2;
    std::vector<uint8_t> ID3v1;
};

// The bytes TID3v2::WriteTag and TID3v1::WriteTag would give a file; no
// ID3v1 tag when id3v1 holds none. Throws CorvellaError, naming them, when
// the ID3v2 tag holds frames that the tag written cannot carry
// (TID3v2::UncarriedFrames).
PartTags RenderPartTags(const TID3v1& id3v1, const TID3v2& id3v2);

// The new content of a target, unseen until it is complete (see
// StagedFile); nothing of it is left behind unless it was committed.
class PendingFile {
public:
    // Throws CorvellaError when the staged file cannot be created.
    explicit PendingFile(const std::string& target);
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    BinaryFile& File() { return staged_.File(); }
    const std::string& Target() const { return target_; }

    // Places the blocks of a file of size bytes before anything is
    // written (only a hint; see the definition).
    void Reserve(int64_t size);
    void Write(const void* bytes, size_t count);
    // Overwrites bytes written before (the header frame, once the part's
    // frames are known), leaving the write position where it is.
    void WriteAt(int64_t position, const void* bytes, size_t count);
    // Writes the ID3v2 tag (when tags), headerLength bytes that the header
    // frame fills in later, and leading; returns where the header frame goes.
    int64_t WriteFront(const PartTags* tags, int64_t headerLength, const std::vector<uint8_t>& leading);
    // Puts the content in place of target. False (and nothing changed) when
    // target exists and may not be replaced.
    bool CommitAs(const std::string& target, bool replace);

private:
    std::string target_;
    StagedFile staged_;
};

// What is left of a part once its frames are known and its front is
// written: the audio, the ID3v1 tag behind it and the header frame, whose
// music CRC goes on from LeadingCrc (that of the frames written in front of
// the source's) over the audio.
struct PartCopy {
    int64_t StartByte = 0;
    int64_t EndByte = 0;
    std::vector<uint8_t> ID3v1;
    int64_t HeaderAt = 0;
    std::vector<uint8_t> HeaderFrame;  // empty: the part has none
    uint16_t LeadingCrc = 0;
};

// Writes the rest of part from source and puts it in place when
// mayCommit, asked last, agrees. False when it does not, or when the
// target exists and may not be replaced.
bool CopyAndCommit(PendingFile& part, BinaryFile& source, const PartCopy& copy, bool replace,
                   const std::function<bool()>& mayCommit = {});

// Copies and commits the parts of a run, some on threads of their own.
// Parts go into place in the order they were handed over, and none after
// one that failed. A few copy at once: a part that would start one more
// waits for the oldest first. An error of a part handed over before is
// thrown by the Write or FinishPending that learns of it (FailedPart then
// names that part).
class TPartWriter {
public:
    TPartWriter();
    ~TPartWriter();  // waits for pending parts, which go into place
    TPartWriter(const TPartWriter&) = delete;
    TPartWriter& operator=(const TPartWriter&) = delete;

    // Copies part now and puts it in place after the parts before it; the
    // result of CopyAndCommit. Closes source.
    bool WriteNow(std::unique_ptr<PendingFile> part, BinaryFile& source, const PartCopy& copy, bool replace);
    // Leaves part copying on a thread of its own, over a descriptor of its
    // own for source's file, and replacing its target; index names it in
    // FailedPart. Closes source. Throws FileOpenError (naming sourceName)
    // when the file cannot be opened again.
    void HandOver(std::unique_ptr<PendingFile> part, BinaryFile& source, const std::string& sourceName,
                  PartCopy copy, int32_t index);
    // Waits for every part handed over.
    void FinishPending();
    // The index of the part handed over before whose error the last
    // WriteNow, HandOver or FinishPending threw; nothing when the error
    // was not one of theirs.
    std::optional<int32_t> FailedPart() const { return failedPart_; }
    void ForgetFailedPart() { failedPart_.reset(); }

private:
    struct PendingPart;
    void FinishOldest();

    std::deque<std::unique_ptr<PendingPart>> pending_;
    std::optional<int32_t> failedPart_;
};
