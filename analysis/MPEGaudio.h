// TMPEGaudio: describes an MPEG audio file (MPEG 1, 2 and 2.5, Layers I-III)
// without decoding it. It finds the first audio frame behind a leading ID3v2
// tag, decodes its 4-byte header, looks for a Xing or VBRI header inside that
// frame and reads the file's ID3v1 and ID3v2 tags through two tag objects it
// owns. Only a few kilobytes are read whatever the length of the file: the
// tags, at most two 3458-byte blocks at the start (or middle) of the audio,
// the tags at the end and, without a VBR header, one 3458-byte block before
// them. A Xing or VBRI header's frame count is checked against the file
// (MPEGstream.h): files joined end to end, a count of 0 or a truncated file
// are measured from their frames instead.
//
// Units: sizes and positions in bytes (64-bit), sample rates in Hz, bit rates
// in kbit/s (1 kbit = 1000 bits), durations in seconds. BitRate, Duration and
// Valid are computed on every call from the stored fields. The section cutter
// turns times into byte offsets with BitRate, so its rounding (halves to
// even) is part of the contract.
//
// One object is used by one thread at a time; no file stays open between
// calls. The free functions below the class decode single frame headers for
// the section cutter, which walks frames to put cuts on frame boundaries.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "ID3v1.h"
#include "ID3v2.h"

// The VBR header found in the first frame, if any.
struct VBRData {
    bool Found = false;        // a Xing or VBRI header was found
    std::string ID;            // "Xing" or "VBRI"
    int32_t Frames = 0;        // number of frames, from the header
    int32_t Bytes = 0;         // number of stream bytes, from the header
    uint8_t Scale = 0;         // quality byte, from the header
    std::string VendorID;      // 8 characters (NULs included) from a Xing header; empty for VBRI
};

// What a stream holds behind its header frame, measured from the file
// (MPEGstream.h): its frames (the header frame not counted, as header counts
// do not count it), and the bytes of the tags between joined pieces, which
// are no audio.
struct MeasuredStream {
    int64_t Frames = 0;
    int64_t TagBytes = 0;
};

// The decoded header of one frame. VersionIndex: 0 = MPEG 2.5, 1 = reserved,
// 2 = MPEG 2, 3 = MPEG 1. LayerIndex: 0 = reserved, 1 = Layer III,
// 2 = Layer II, 3 = Layer I. ModeIndex: 0 = stereo, 1 = joint stereo,
// 2 = dual channel, 3 = mono, 4 = none. The defaults are the reset values.
struct MPEGFrame {
    bool Found = false;        // a frame passed the first-frame search
    int64_t Position = 0;      // offset of the header from the start of the block searched
    uint16_t Size = 0;         // frame length in bytes
    uint8_t VersionIndex = 1;
    uint8_t LayerIndex = 0;
    uint16_t BitRateIndex = 0;
    uint16_t SampleRateIndex = 3;
    bool Padding = false;
    uint8_t ModeIndex = 4;
};

class TMPEGaudio {
public:
    // Bytes of one search block: twice the 1729 bytes of the largest frame
    // the search must be able to see whole.
    static constexpr int64_t kBlockSize = 3458;
    // Header positions tried in one block: 0 .. kSearchPositions - 1.
    static constexpr int64_t kSearchPositions = 1730;

    TMPEGaudio();

    void Reset();
    // True when every read succeeded (also when no frame was found, in which
    // case all results are reset); false when a tag read or another file
    // operation failed. Never throws for a file problem.
    bool Analyze(const std::string& fileName);

    int64_t FileLength() const { return fileLength_; }         // bytes, tags included
    const std::string& EncoderText() const { return encoderText_; }
    const VBRData& VBR() const { return vbr_; }
    const MPEGFrame& Frame() const { return frame_; }
    const TID3v1& ID3v1() const { return id3v1_; }
    TID3v1& ID3v1() { return id3v1_; }
    const TID3v2& ID3v2() const { return id3v2_; }
    TID3v2& ID3v2() { return id3v2_; }

    uint16_t SampleRate() const;   // Hz, table value of the first frame
    // kbit/s: the average of the counted frames (the VBR header's, or the
    // file's where it contradicts the header), else the first frame's table rate.
    uint16_t BitRate() const;
    std::string ChannelMode() const;
    double Duration() const;       // seconds; 0 without a frame
    bool Valid() const;            // frame found, 8 <= BitRate <= 448, Duration >= 0.1

private:
    // Steps after the tag reads: the first-frame search and the encoder scan.
    bool ReadStream(const std::string& fileName);
    // Frames behind the header frame: what the frames hold where the file
    // contradicts the header, else the Xing or VBRI header's count; 0 when
    // neither gives one (the length then comes from the file size).
    int64_t CountedFrames() const;
    // Searches bytes [0, count) of block for the first frame followed by a
    // second header at its computed length; fills frame_ and vbr_.
    void FindFirstFrame(const uint8_t* block, size_t count);
    // Looks for "LAME" or "GOGO" within limit bytes of the end of a 3458-byte block.
    void ScanEncoder(const uint8_t* block, int64_t limit);

    int64_t fileLength_ = 0;
    // The first byte after the audio (the tags at the end left out), and
    // where the first frame starts; both from the file's start.
    int64_t audioEnd_ = 0;
    int64_t headerAt_ = 0;
    // The stream behind a Xing, Info or VBRI header frame measured from the
    // file, where its counts do not describe it (MPEGstream.h).
    std::optional<MeasuredStream> measured_;
    std::string encoderText_;
    VBRData vbr_;
    MPEGFrame frame_;
    TID3v1 id3v1_;
    TID3v2 id3v2_;
};

// True when the four bytes pass the header test: 11 sync bits, a version
// and a layer that are not reserved, a bit-rate index other than 0 (free
// format) and 15, a sample-rate index other than 3, and an emphasis other
// than 2. Nothing else is examined.
bool IsFrameHeader(const uint8_t* fourBytes);
// The header fields of the four bytes, with Size = FrameLength of them;
// Found stays false and Position 0 (they belong to the search).
MPEGFrame DecodeFrameHeader(const uint8_t* fourBytes);
// The first-frame search over bytes [0, count) of block: the first frame
// followed by a second header at its computed length, with Found and
// Position (from the start of block) set; a reset frame when none is.
MPEGFrame FindFirstFrame(const uint8_t* block, size_t count);
// Frame length in bytes (padding included); 0 for a reserved or free-format header.
uint16_t FrameLength(const MPEGFrame& frame);
// Hz from the version and sample-rate index; 0 for reserved values.
uint32_t FrameSampleRate(const MPEGFrame& frame);
// kbit/s from the bit-rate table; 0 for free format, index 15 and reserved values.
uint16_t FrameBitRate(const MPEGFrame& frame);
// 384, 1152 or 576 (8 times the frame's coefficient); 0 for a reserved layer.
int SamplesPerFrame(const MPEGFrame& frame);
// Bytes from the first byte of the header to where a Xing or VBRI header
// is looked for: 21 or 36 for MPEG 1, 13 or 21 for MPEG 2 and 2.5 (mono first).
int VbrHeaderOffset(const MPEGFrame& frame);
// The Xing or VBRI header at the frame's side-information offset; frameBytes
// starts at the frame header and holds available bytes. "Info" and any other
// text give a VBRData with Found = false. Fields that lie beyond the
// available bytes read as 0.
VBRData ReadVbrHeader(const uint8_t* frameBytes, size_t available, const MPEGFrame& frame);
// For the cutter, which must not copy a frame that describes the whole
// source into a part: true when the frame carries "Xing" or "Info" at its
// side-information offset, or "VBRI" there or at offset 36 (where encoders
// always put it, whatever the mode).
bool FrameHasVbrOrInfoHeader(const uint8_t* frameBytes, size_t available, const MPEGFrame& frame);
