// MPEGstream: where an MPEG audio stream ends and how many frames it holds
// when the header frame at its start (Xing, Info or VBRI) does not describe
// the file. The reader (TMPEGaudio) and the player's decoder both measure
// a stream with these functions, so that the length the window shows, the
// one the player plays and the one the cutter bounds parts with are one.
//
// Files joined end to end (`cat a.mp3 b.mp3`) carry the first file's header
// frame: its counts cover the first file only, and the frames behind the
// bytes it counts are audio all the same. Headers may also be plainly wrong:
// a frame count of 0, or a byte count longer than a truncated file.
//
// Nothing here walks a whole file: a header that holds costs one small read
// at the end of the bytes it counts; joined files are measured by their own
// header frames, hop by hop; frames without usable counts are walked for at
// most kWalkBytes and the rest is estimated from the frames walked.
// Positions and sizes are bytes from the start of the file.
#pragma once

#include <cstdint>
#include <optional>

#include "MPEGaudio.h"
#include "files/BinaryFile.h"

// Bytes of frames walked before the rest of a stream is estimated.
constexpr int64_t kWalkBytes = 1 << 20;

// The first byte after the audio: the file size less the tags at its end
// (an ID3v1 tag, an APEv2 tag in front of it, and an ID3v2 tag appended
// behind them, with or without its footer). -1 when the file cannot be read.
int64_t MpegAudioEnd(BinaryFile& file, int64_t fileSize);

// The Xing, Info or VBRI header of a frame, wherever encoders put it: the
// reader's own look-up (ReadVbrHeader) knows only Xing and VBRI at one
// offset, which is its contract; a decoder honours all of them. ID is
// "Xing", "Info" or "VBRI".
VBRData ReadHeaderFrameCounts(const uint8_t* frameBytes, size_t available, const MPEGFrame& frame);

// The stream behind the header frame at headerAt (MeasuredStream, in
// MPEGaudio.h), measured when the
// header's counts contradict the file: a frame count of 0, a byte count
// past audioEnd, or frames going on behind the bytes it counts. Empty when
// the header's frame count is the stream's, or cannot be checked (no byte
// count). Read errors count as the end of the stream.
std::optional<MeasuredStream> MeasureBehindHeader(BinaryFile& file, int64_t headerAt, const MPEGFrame& frame,
                                                  const VBRData& header, int64_t audioEnd);

// The stream's first frame as the reader finds it (the first-frame search
// in the block behind a leading ID3v2 tag), with the counts of its header.
struct StreamStart {
    int64_t At = -1;   // -1: no frame in that block
    MPEGFrame Frame;
    VBRData Counts;    // ReadHeaderFrameCounts of the frame
};
StreamStart FindStreamStart(BinaryFile& file);
