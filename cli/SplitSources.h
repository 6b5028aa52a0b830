// What the split commands of corvella-cli share: the options that choose
// where parts begin, the parts each source of split points gives for one
// file, and their names and points for the cutter. Every function works
// on its arguments alone (no console, no global state), so the files of
// split-many are prepared on several threads at once.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/Commands.h"
#include "core/ParseResult.h"
#include "core/PartPlan.h"
#include "core/SplitPoints.h"

class TBASSChannel;

// Parts without titles (a fixed length, a list of bare times).
inline constexpr std::string_view kSourcePartsNameTemplate = "{source}_part_{n}";
inline constexpr std::string_view kSilenceFlag = "--silence";

// The stream's length in ms as the window knows it from opening the file;
// nothing when the player cannot open it.
std::optional<int32_t> StreamLength(TBASSChannel& player, const std::string& fileName);

// The options of --silence (--threshold, --min-silence, --min-part,
// --parts, --cut-at-end, --trim), taken from args; UsageError for a value
// that does not fit.
SilenceOptions TakeSilenceOptions(Arguments& args);

// The parts between the silences of fileName's decoded audio.
ParseResult<std::vector<SplitPart>> SilenceParts(const std::string& fileName, int64_t lengthMs,
                                                 const SilenceOptions& options);

// The source's texts that name its parts and the parts' own tags fall back on.
struct SourceTexts {
    std::string Album;
    std::string Artist;
};
SourceTexts ReadSourceTexts(const std::string& fileName);

// The parts that option (--cue, --every, --at or --times) with value
// gives for a stream of lengthMs; the album a CUE sheet names goes to album.
ParseResult<std::vector<SplitPart>> PartsFrom(const std::string& option, const std::string& value, int64_t lengthMs,
                                             std::string& album);

// Parts with titles are named by them; parts of a fixed length or of
// untitled times by the source and their number.
std::string DefaultNameTemplate(const std::vector<SplitPart>& parts);

// The cutter's points of parts of a stream of lengthMs, named by names,
// each with its own title, performer and place "K/N".
std::vector<SplitPoint> PointsOf(const std::vector<SplitPart>& parts, const std::vector<std::string>& names,
                                 int64_t lengthMs);
