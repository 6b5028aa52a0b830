// VolumeRecord: what the volume changes did to a file, kept in its own ID3v2
// tag so that each can be taken back, byte for byte, in a later run.
//
// The record is a TXXX frame (ISO-8859-1, description kVolumeRecordName,
// flagged to be discarded when other programs alter the audio)
// whose text holds one line per change, oldest first: how the frames' side
// information reads after it (a hash, so that a file changed since by other
// means is not "restored" into garbage), how many bytes the tag grew to hold
// the record, and the steps of global gain each run of entries moved by
// (entries are the granule/channel pairs of the stream, counted from the
// first audio frame; see GlobalGain.h). The steps are those applied, after
// clamping to 0..255, so that moving back by them gives the old values.
//
// The frame goes where the tag's zero padding starts; the tag grows only
// when the padding cannot hold it, and shrinks back by as much on undo. A
// file without a tag gets one that the last undo removes again. Tags this
// cannot edit without touching other bytes (v2.2, unsynchronised, with an
// extended header or a footer, or with padding that is not zeros) are
// refused.
//
// Pure functions over bytes; any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <utility>
#include <span>
#include <string>
#include <string_view>
#include <vector>

inline constexpr std::string_view kVolumeRecordName = "CORVELLA_VOLUME_UNDO";

// Entries First .. First + Count - 1 moved by Steps.
struct GainRun {
    int64_t First = 0;
    int64_t Count = 0;
    int Steps = 0;
    bool operator==(const GainRun&) const = default;
};

struct VolumeStep {
    uint64_t SideInfoHash = 0;
    int64_t TagGrowth = 0;  // bytes
    std::vector<GainRun> Runs;
    bool operator==(const VolumeStep&) const = default;
};

struct VolumeRecord {
    bool TagAdded = false;  // the file had no ID3v2 tag before the first change
    std::vector<VolumeStep> Steps;
    bool operator==(const VolumeRecord&) const = default;
};

std::string RenderVolumeRecord(const VolumeRecord& record);
// nullopt for a text that is not a whole record.
std::optional<VolumeRecord> ParseVolumeRecord(std::string_view text);

// Appends `steps` for one more entry to runs, joining the last run when it
// moved by as many.
void AppendGainSteps(std::vector<GainRun>& runs, int steps);

// Bytes of the tag at the start of a file whose first 10 bytes are
// `header` (10 + its size); 0 when they are no ID3v2 header.
int64_t LeadingTagBytes(std::span<const uint8_t> header);

// The leading tag as the record needs it.
struct RecordTag {
    std::vector<uint8_t> Bytes;  // the whole tag; "ID3" v2.3 without frames when the file has none
    bool Exists = false;
    int64_t FramesEnd = 10;      // where the zero padding starts
    int64_t RecordAt = -1;       // the record frame's offset, -1 without one
    int64_t RecordBytes = 0;     // its length with its header
    std::optional<VolumeRecord> Record;
};

// `tag` holds LeadingTagBytes() bytes from the file's start (empty for a
// file without a tag). nullopt, with the reason, for a tag that cannot be
// edited without touching more than the record.
std::optional<RecordTag> ReadRecordTag(std::vector<uint8_t> tag, std::string& reason);

// The tag with `record` in place of the one it holds (none: the record
// removed), grown by growBy bytes of padding or shrunk by -growBy (which
// must be zero padding then); empty when no frame is left in a tag that
// the record added. nullopt when the frames do not fit.
std::optional<std::vector<uint8_t>> RenderRecordTag(const RecordTag& tag, const std::optional<VolumeRecord>& record,
                                                    int64_t growBy);
// Bytes the tag must grow by to hold `record`: 0 when its padding does.
int64_t GrowthToHold(const RecordTag& tag, const VolumeRecord& record);

// The tag with TXXX frames of these descriptions (ISO-8859-1 texts) in
// place of those of the same descriptions it holds (any case, ISO-8859-1 or
// UTF-8), added behind its frames, grown when its padding cannot hold them.
std::vector<uint8_t> RenderUserTexts(const RecordTag& tag,
                                     const std::vector<std::pair<std::string, std::string>>& texts);
