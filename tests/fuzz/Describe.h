// One line of text for everything a reader or tag object reports, so that
// two readings of the same file can be compared as a whole.
#pragma once

#include <string>

class TID3v1;
class TID3v2;
class TMPEGaudio;
class TOggVorbis;
class TWMAfile;
class TWAVfile;

namespace fuzz {

std::string Describe(const TID3v1& tag);
std::string Describe(const TID3v2& tag);
std::string Describe(const TMPEGaudio& mpeg);
std::string Describe(const TOggVorbis& ogg);
std::string Describe(const TWMAfile& wma);
std::string Describe(const TWAVfile& wav);

} // namespace fuzz
