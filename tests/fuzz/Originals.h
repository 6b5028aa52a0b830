// Well-formed files built byte by byte: MPEG streams with Xing, Info and
// VBRI headers and both tags, ID3v2.2/2.3/2.4 tags with unsynchronisation
// and a footer, Layers I and II, Ogg Vorbis, ASF and WAV. The mutation test
// starts from them, and so do the fuzz targets' corpora.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "support/ByteBuilders.h"

namespace originals {

using Bytes = std::vector<uint8_t>;

void Put(Bytes& out, const std::string& text);
using bytebuild::PutBE;
using bytebuild::PutLE;

// count frames of the given header, each filled to its length with its index.
Bytes Frames(std::array<uint8_t, 4> header, int count);
Bytes Id3v1Tag();
Bytes Id3v2Tag(uint8_t version, uint8_t flags, const Bytes& frames, size_t padding);
Bytes Id3v22();
Bytes Id3v23();
Bytes Id3v24();

Bytes XingMp3();
Bytes InfoMp3();
Bytes VbriMp3();
Bytes LayerIandII();
Bytes OggVorbis();
Bytes Wma();
Bytes Wav();

// All of the files above, in that order.
std::vector<Bytes> Originals();

} // namespace originals
