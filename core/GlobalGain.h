// GlobalGain: the level of a Layer III frame changed without decoding. The
// global_gain of every granule and channel (see GranuleGain.h) scales all of
// that granule's coefficients by 2^(1/4) a step, 1.5 dB; moving it by k
// steps multiplies the decoded samples by 2^(k/4) exactly, the Huffman data
// untouched. The frame's CRC-16 covers the side information, so a frame
// that carries one gets it renewed.
//
// Pure functions over the bytes of one frame; any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "core/FrameModel.h"

// dB a step of global_gain stands for.
constexpr double kDbPerGainStep = 1.5;

// Bytes of a frame from its header through its side information: all that
// a change of global_gain touches.
inline size_t GainBytesOf(const FrameHeader& header) { return header.DataOffset(); }

// The CRC-16 of a protected frame (polynomial 0x8005, starting at 0xFFFF,
// most significant bit first) over the header's last two bytes and the
// side information; `frame` holds at least GainBytesOf(header) bytes.
uint16_t FrameCrc(const uint8_t* frame, const FrameHeader& header);

// Granule/channel pairs of a Layer III frame: 2 granules in MPEG 1, 1 in
// MPEG 2 and 2.5, each with one entry per channel.
inline int GainEntriesOf(const FrameHeader& header)
{
    return (header.IsMpeg1() ? 2 : 1) * (header.IsMono() ? 1 : 2);
}

// Changes the global gains of the Layer III frame at `frame` (available
// bytes there) to what newGain(entry, oldGain) returns, entry counting
// granule * channels + channel. A frame whose CRC was right gets it
// renewed; a wrong one stays as it was, so that undoing the change gives
// the very same bytes back. Returns the entries, 0 (nothing changed) when
// the bytes hold no Layer III side information.
int ChangeGlobalGains(uint8_t* frame, size_t available, const std::function<uint8_t(int entry, uint8_t oldGain)>& newGain);
