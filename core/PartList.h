// PartList: the parts of a split at points as the split page lists them
// before writing them: where each starts and ends, the file it goes into
// and its title, with the user's edits of those. The parts come from any
// source of split points (SplitPoints.h) and are named by a template
// (PartNames.h); the list hands them to TSplitCommands::SplitAt. Times are
// milliseconds of the stream. Widget-free; any one thread at a time.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/ParseResult.h"
#include "core/PartPlan.h"
#include "core/SplitPoints.h"

// What names the parts besides their own texts: the source's base name
// and the album and artist of its tags (a CUE sheet's TITLE is the album).
struct PartNaming {
    std::string SourceBaseName;
    std::string Album;
    std::string Artist;
};
// The naming of the parts of fileName, from its ID3v2 tag, else its ID3v1 tag.
PartNaming ReadPartNaming(const std::string& fileName);

// Parts with titles are named "{n} - {title}"; parts of a fixed length or
// of bare times "{source}_part_{n}".
std::string DefaultPartsNameTemplate(const std::vector<SplitPart>& parts);

// Splitting at silences with the defaults both front ends offer: below
// -40 dB (under the quiet passages of most music and speech, above the
// hiss of most recordings' pauses) for a second, no part under 5 s.
inline constexpr double kDefaultSilenceThresholdDb = -40.0;
inline constexpr int64_t kDefaultMinSilenceMs = 1000;
inline constexpr int64_t kDefaultMinPartMs = 5000;
// Levels are measured over windows this long: short enough to place a cut
// within a frame or two, long enough that a low note's single cycle does
// not read as silence.
inline constexpr int64_t kSilenceWindowMs = 20;
// The parts between the silences of levels (WindowRmsDb of the stream,
// kSilenceWindowMs windows); refused when there are no levels (the audio
// could not be decoded) or nothing but silence.
ParseResult<std::vector<SplitPart>> PartsBetweenSilences(const std::vector<float>& levels, int64_t lengthMs,
                                                         const SilenceOptions& options);

// The cutter's points of parts of a stream of lengthMs, named by names,
// each with its own title, performer and place "K/N".
std::vector<SplitPoint> PointsOfParts(const std::vector<SplitPart>& parts, const std::vector<std::string>& names,
                                     int64_t lengthMs);

struct PartRow {
    int64_t StartMs = 0;
    int64_t EndMs = 0;
    std::string Name;       // the part's file name, ".mp3" included
    std::string Title;      // empty: the part keeps the source's title
    std::string Performer;  // empty: the part keeps the source's artist
    bool NamedByHand = false;  // the name no longer follows the title
};

class PartList {
public:
    PartList() = default;
    // parts of a stream of lengthMs, named by nameTemplate (empty: the
    // default for such parts). A template NameTemplateError refuses
    // leaves the list empty and says why in Error().
    PartList(std::vector<SplitPart> parts, int64_t lengthMs, PartNaming naming, std::string nameTemplate = {});

    const std::vector<PartRow>& Rows() const { return rows_; }
    const std::string& Error() const { return error_; }

    // Each edit returns why it was refused (nothing changes then), or "".
    // A title renames the parts that are named by the template, so that
    // the names stay distinct.
    std::string SetTitle(size_t index, std::string_view title);
    // A typed name gets ".mp3" when it lacks it and "_" for characters
    // some file system refuses; refused when nothing is left.
    std::string SetName(size_t index, std::string_view name);
    // A part's start lies after the start of the part before it and
    // before its own end; the part before it, when it ended where this
    // one started, ends there too.
    std::string SetStart(size_t index, int64_t startMs);

    // The parts as SplitAt takes them, each with its title, its place
    // "K/N" and its performer; the last reaches the audio's end when it
    // ends at the stream's. Refused when two parts have the same name
    // (ignoring ASCII case, as some file systems do).
    ParseResult<std::vector<SplitPoint>> Points() const;

private:
    void NameByTemplate();

    std::vector<PartRow> rows_;
    int64_t lengthMs_ = 0;
    PartNaming naming_;
    std::string template_;
    std::string error_;
};
