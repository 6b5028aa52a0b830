// The outline of an MP3 file's levels before any decoding: one walk over
// its frames (TFrameWalker's), reading the side information of each
// (GranuleGain.h) and filling the blocks of a LevelPyramid with the levels
// its granules stand for. A 60-minute file takes a small fraction of the
// time its decoding does; the decoded levels replace the outline later.
#pragma once

#include <stop_token>
#include <string>

class LevelPyramid;

// Sets every block of levels that granules of fileName's Layer III frames
// fall in: the mean power of its granules' estimates, and as its peak the
// loudest granule's estimate raised by a sine's crest factor (3 dB).
// Granule g of the stream covers samples [576 g, 576 g + 576) of the
// decoded stream, less the delay of a LAME extension and the decoder's 529
// samples, which a decoder drops (so do the library's). False, with
// the blocks reached so far set, when the file holds no Layer III stream,
// cannot be read, or stop was requested. Never throws; any thread.
bool FillGainOutline(const std::string& fileName, LevelPyramid& levels, std::stop_token stop = {});
