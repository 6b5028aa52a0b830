// The MPEG audio frame as the cutter needs it: the header fields, the
// frame length and sample count (the header tables of the MPEG analysis),
// where a frame's side information and main data lie, the bit reservoir
// pointer of Layer III (main_data_begin), and the header frame every part
// starts with: a Xing ("Xing" for a variable bit rate, "Info" for a
// constant one) with a LAME extension, written and read here.
//
// The header frame follows what LAME writes, so that decoders read it as
// they read LAME's own: the frame count holds the audio frames after the
// header frame, the byte count the whole stream from the header frame on,
// and the TOC entry i is 256 x (offset of the frame at i% of the frames) /
// byte count. The TOC is left out of a constant-rate frame too small to
// hold it, and the extension then follows the quality field, as decoders
// expect. The LAME extension's CRC-16 (polynomial 0x8005, reflected,
// starting at 0) covers the frame from its first byte up to the CRC itself;
// its music CRC, the same CRC over the audio frames behind the header
// frame, is put in once they are written (PutMusicCrc).
//
// Decoders that honour the extension (ffmpeg, mpg123) drop delay + 529
// samples at the start and keep frames x samples - padding + 529 samples in
// all; kDecoderDelay is those 529.
//
// Pure functions over bytes; any thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

constexpr int64_t kDecoderDelay = 529;
// Delay and padding each take 12 bits in the LAME extension.
constexpr int64_t kMaxDelayOrPadding = 4095;

struct FrameHeader {
    std::array<uint8_t, 4> Bytes{};
    uint8_t VersionIndex = 1;  // 0 MPEG 2.5, 2 MPEG 2, 3 MPEG 1
    uint8_t LayerIndex = 0;    // 1 Layer III, 2 Layer II, 3 Layer I
    uint8_t BitRateIndex = 0;
    uint8_t SampleRateIndex = 3;
    bool Padding = false;
    bool Protected = false;    // a 16-bit CRC follows the header
    uint8_t ModeIndex = 0;     // 3 mono

    // The header test of the MPEG analysis; nullopt when the bytes fail it.
    static std::optional<FrameHeader> Parse(const uint8_t* fourBytes);

    size_t Length() const;      // bytes, padding included
    int Samples() const;        // 384, 576 or 1152
    uint32_t SampleRate() const;
    uint16_t BitRate() const;   // kbit/s
    bool IsLayer3() const { return LayerIndex == 1; }
    bool IsMpeg1() const { return VersionIndex == 3; }
    bool IsMono() const { return ModeIndex == 3; }
    // Bytes of Layer III side information (0 for Layers I and II).
    size_t SideInfoLength() const;
    // Offset of the main data from the frame's first byte (Layer III), or
    // of the audio data (Layers I and II).
    size_t DataOffset() const { return 4 + (Protected ? 2 : 0) + SideInfoLength(); }
    // Where a Xing header sits: the offset of the Layer III side
    // information's end for this version and mode, protection not counted.
    size_t XingOffset() const;
    // Frames of earlier output a decoder needs to give this stream's frame
    // its exact samples: the overlap of the transform and the synthesis
    // filter (one frame of two granules, two frames of one granule).
    int OverlapFrames() const { return IsLayer3() && !IsMpeg1() ? 2 : 1; }
    // This header with another bit rate, no padding and no CRC.
    FrameHeader WithBitRateIndex(uint8_t index) const;
};

// main_data_begin of a Layer III frame: how many bytes of earlier frames'
// main data areas its main data starts in; 0 for Layers I and II or when
// the side information lies beyond available.
int MainDataBegin(const uint8_t* frame, size_t available, const FrameHeader& header);

// The header frame's fields.
struct HeaderFrameFields {
    bool VariableBitRate = false;         // "Xing", else "Info"
    uint32_t Frames = 0;                  // audio frames after the header frame
    uint32_t Bytes = 0;                   // header frame and audio frames
    std::array<uint8_t, 100> Toc{};
    uint32_t Quality = 0;
    // The LAME extension.
    std::array<char, 9> Encoder{{'L', 'A', 'M', 'E', '3', '.', '1', '0', '0'}};
    uint8_t RevisionAndMethod = 0;
    uint8_t Lowpass = 0;
    uint8_t FlagsAndAth = 0;
    uint8_t BitRate = 0;
    uint16_t Delay = 0;                   // samples, at most 4095
    uint16_t Padding = 0;                 // samples, at most 4095
    uint8_t Misc = 0;
    uint16_t Preset = 0;
    uint16_t MusicCrc = 0;
};

// The frame that carries a Xing header and its LAME extension: the
// stream's version, layer, rate and mode at the smallest bit rate whose
// frame holds them, or, for a constant bit rate, at the stream's own rate
// (readers that take a constant rate from the first frame then get the
// right one), which must hold them without the TOC at least; nullopt when
// no rate holds them.
std::optional<FrameHeader> HeaderFrameHeader(const FrameHeader& like, bool constantBitRate);
// The whole header frame (header.Length() bytes) with the fields and the
// extension's CRC; without the TOC when the frame is too small for it, and
// empty when it is too small even then.
std::vector<uint8_t> RenderHeaderFrame(const FrameHeader& header, const HeaderFrameFields& fields);
// Puts the music CRC into a rendered header frame and renews the
// extension's CRC; false when the frame has no LAME extension.
bool PutMusicCrc(std::vector<uint8_t>& frame, uint16_t musicCrc);

// What a Xing or Info header frame says; nullopt when the frame holds none.
struct HeaderFrameInfo {
    HeaderFrameFields Fields;
    bool HasFrames = false;
    bool HasBytes = false;
    bool HasToc = false;
    bool HasLame = false;     // a LAME extension whose CRC is right
};
std::optional<HeaderFrameInfo> ReadHeaderFrame(const uint8_t* frame, size_t available);

// The CRC-16 LAME writes over its extension.
uint16_t LameTagCrc(const uint8_t* bytes, size_t count, uint16_t crc = 0);

// A frame that decodes to silence and whose main data area ends with
// reservoir, so that the frame after it finds the main data it points back
// to. Same version, layer, rate and mode as like, at like's bit rate when
// that holds it, else at the smallest that does; empty when none does.
std::vector<uint8_t> RenderReservoirFrame(const FrameHeader& like, const std::vector<uint8_t>& reservoir);
