// Building blocks of the ID3v2 tag: the text encodings of frame strings,
// unsynchronisation, and the conversion of v2.2 and v2.4 frames into the
// v2.3 form TID3v2 writes. Plain functions over byte buffers; none reads
// outside the bytes it is given, whatever their content claims.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace id3v2 {

using Bytes = std::vector<uint8_t>;

// The encoding byte that opens text-bearing frames.
enum TextEncoding : uint8_t {
    kLatin1 = 0,
    kUtf16WithBom = 1,  // each string opens with its own byte-order mark
    kUtf16BE = 2,       // v2.4 only
    kUtf8 = 3,          // v2.4 only
};

// The strings of a frame region, split at the encoding's terminators and
// decoded to UTF-8. A missing final terminator is allowed; an empty
// trailing string after the last terminator is not listed.
std::vector<std::string> DecodeStrings(uint8_t encoding, const uint8_t* data, size_t size);

// Offset just past the string that starts at `from` (past its terminator,
// or `size` when there is none); `stringEnd` receives where the string's
// own bytes end.
size_t SkipString(uint8_t encoding, const uint8_t* data, size_t size, size_t from, size_t* stringEnd = nullptr);

// Latin-1 when every character fits, else UTF-16 with BOM.
uint8_t EncodingFor(std::string_view utf8);
// The bytes of one string in the encoding (0 or 1), without terminator;
// UTF-16 opens with the little-endian BOM.
Bytes EncodeString(std::string_view utf8, uint8_t encoding);
// The terminator of the encoding: one or two zero bytes.
Bytes Terminator(uint8_t encoding);

// Drops the zero byte the writer inserted after each 0xFF.
Bytes RemoveUnsynchronisation(const uint8_t* data, size_t size);

// A whole v2.3 frame: 10-byte header (plain big-endian size) and data.
Bytes RenderFrame(std::string_view id, uint16_t flags, std::span<const uint8_t> data);
// The same with `lead` (the decompressed size, the group byte) in front of
// the data, so that a frame of megabytes is copied once.
Bytes RenderFrame(std::string_view id, uint16_t flags, std::span<const uint8_t> lead, std::span<const uint8_t> data);

// True for four characters A-Z or 0-9.
bool IsValidFrameId(std::string_view id);

// v2.4 frame data whose strings use encoding 2 or 3 rewritten with UTF-16
// and BOMs; data in encoding 0 or 1, or of frames without encoded text,
// comes back unchanged. Empty when the frame uses a v2.4-only encoding in a
// layout not known here (it cannot be carried into v2.3 faithfully).
std::optional<Bytes> ReencodeForV23(std::string_view id, const Bytes& data);
// False when ReencodeForV23 would give the data back unchanged (pictures
// and every other frame without v2.4-only text), so that it need not be
// copied through it.
bool NeedsReencodingForV23(std::string_view id, std::span<const uint8_t> data);

// The v2.3 identifier of a v2.2 frame, or empty for frames v2.3 has no
// counterpart for (the encrypted meta frame, experimental frames).
std::string_view V23IdFor(std::string_view v22Id);
// A v2.2 frame's data in the layout of its v2.3 counterpart: PIC's image
// format becomes APIC's MIME type, LNK's linked frame gets its four-letter
// name; the other frames are laid out alike. Empty when there is no
// counterpart or the data cannot be converted.
std::optional<Bytes> DataFromV22(std::string_view v22Id, std::span<const uint8_t> data);

} // namespace id3v2
