// Text conversions between the UTF-8 held in memory and the encodings found
// in audio files, and the trimming rule shared by every tag reader: the
// characters with codes 0 to 32 are removed at the ends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// ISO-8859-1 bytes to UTF-8.
std::string Latin1ToUtf8(std::string_view latin1);
// Windows' code page 1252 to UTF-8: Latin-1 but for 0x80..0x9F, which
// hold curly quotes, dashes and the euro sign there.
std::string Windows1252ToUtf8(std::string_view bytes);
// UTF-8 to ISO-8859-1 bytes; a character outside Latin-1 (or a malformed
// sequence) becomes '?'.
std::string Utf8ToLatin1(std::string_view utf8);
// True when every character of the UTF-8 text has a Latin-1 byte.
bool IsLatin1Text(std::string_view utf8);

// UTF-16 code units (little- or big-endian bytes) to UTF-8. Surrogate pairs are
// joined; a lone surrogate becomes U+FFFD; an odd trailing byte is ignored.
std::string Utf16LEToUtf8(const uint8_t* bytes, size_t byteCount);
std::string Utf16BEToUtf8(const uint8_t* bytes, size_t byteCount);
// UTF-8 to UTF-16LE bytes (no BOM, no terminator).
std::string Utf8ToUtf16LE(std::string_view utf8);
// Bytes a file says are UTF-8, as valid UTF-8: each malformed sequence, lone
// surrogate or value beyond U+10FFFF becomes U+FFFD.
std::string ValidUtf8(std::string_view bytes);

// Number of characters (code points) in a UTF-8 text.
size_t Utf8Length(std::string_view utf8);
// The first maxChars characters of a UTF-8 text.
std::string Utf8Left(std::string_view utf8, size_t maxChars);

// Trimming of characters with codes 0 to 32 (bytes below 0x21 are always
// single characters in UTF-8 and Latin-1 alike).
std::string TrimControl(std::string_view text);
std::string TrimControlRight(std::string_view text);
