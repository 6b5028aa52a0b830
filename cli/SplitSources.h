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

// The parts that option (--cue, --every, --at or --times) with value
// gives for a stream of lengthMs; the album a CUE sheet names goes to album.
ParseResult<std::vector<SplitPart>> PartsFrom(const std::string& option, const std::string& value, int64_t lengthMs,
                                             std::string& album);
