// The cutter asks the player for the stream's length and bit rate and
// nothing else. The cutter's fuzz target links this definition of
// TBASSChannel instead of the real one, so that those two answers are part
// of the fuzzed input too, hostile values included, and a cut costs no
// decoding. Everything else about the cut runs through the real code.
#pragma once

#include <cstdint>

struct PlayerAnswers {
    bool Ready = true;
    bool Opens = true;
    uint32_t LengthMs = 0;
    int32_t BitRate = 0;  // kbit/s
};

// What every TBASSChannel answers from its next Open on.
void SetPlayerAnswers(const PlayerAnswers& answers);
