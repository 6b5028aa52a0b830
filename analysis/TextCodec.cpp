#include "TextCodec.h"

namespace {

void AppendUtf8(std::string& out, uint32_t cp)
{
    if (cp < 0x80) {
        out.push_back(char(cp));
    } else if (cp < 0x800) {
        out.push_back(char(0xC0 | (cp >> 6)));
        out.push_back(char(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(char(0xE0 | (cp >> 12)));
        out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(char(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(char(0xF0 | (cp >> 18)));
        out.push_back(char(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(char(0x80 | (cp & 0x3F)));
    }
}

constexpr uint32_t kInvalid = 0xFFFFFFFF;

// Decodes one character at i and advances i; kInvalid for a malformed or
// overlong sequence (i then moves past one byte).
uint32_t NextCodePoint(std::string_view s, size_t& i)
{
    auto byte = [&](size_t k) { return static_cast<uint8_t>(s[k]); };
    uint8_t lead = byte(i);
    if (lead < 0x80) {
        ++i;
        return lead;
    }
    size_t extra = 0;
    uint32_t cp = 0;
    if ((lead & 0xE0) == 0xC0) {
        extra = 1;
        cp = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        extra = 2;
        cp = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        extra = 3;
        cp = lead & 0x07;
    } else {
        ++i;
        return kInvalid;
    }
    if (i + extra >= s.size()) {  // cut off by the end of the text
        ++i;
        return kInvalid;
    }
    for (size_t k = 1; k <= extra; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) {
            ++i;
            return kInvalid;
        }
        cp = cp << 6 | (byte(i + k) & 0x3F);
    }
    // A character in more bytes than it needs ("C0 80" for a NUL) is
    // malformed: taken as the character, it would smuggle a NUL into a text
    // that ends at the first one when written back.
    static constexpr uint32_t kShortestOfLength[] = {0, 0x80, 0x800, 0x10000};
    if (cp < kShortestOfLength[extra]) {
        ++i;
        return kInvalid;
    }
    i += extra + 1;
    return cp;
}

template <bool BigEndian>
std::string Utf16ToUtf8(const uint8_t* bytes, size_t byteCount)
{
    std::string out;
    out.reserve(byteCount);
    size_t units = byteCount / 2;
    auto unit = [&](size_t k) -> uint32_t {
        return BigEndian ? (uint32_t(bytes[2 * k]) << 8 | bytes[2 * k + 1])
                         : (uint32_t(bytes[2 * k + 1]) << 8 | bytes[2 * k]);
    };
    for (size_t k = 0; k < units; ++k) {
        uint32_t u = unit(k);
        if (u >= 0xD800 && u <= 0xDBFF && k + 1 < units) {
            uint32_t low = unit(k + 1);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
                ++k;
                continue;
            }
        }
        if (u >= 0xD800 && u <= 0xDFFF)
            u = 0xFFFD;
        AppendUtf8(out, u);
    }
    return out;
}

// Windows' code page 1252: Latin-1 but for 0x80..0x9F, where Latin-1 has
// control characters nobody types and Windows has curly quotes, dashes and
// the euro sign. The five codes it leaves free keep their Latin-1 meaning.
constexpr char16_t kWindows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

} // namespace

std::string Latin1ToUtf8(std::string_view latin1)
{
    std::string out;
    out.reserve(latin1.size());
    for (char c : latin1)
        AppendUtf8(out, static_cast<uint8_t>(c));
    return out;
}

std::string Windows1252ToUtf8(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size() * 2);
    for (char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        AppendUtf8(out, byte >= 0x80 && byte < 0xA0 ? kWindows1252High[byte - 0x80] : byte);
    }
    return out;
}

std::string Utf8ToLatin1(std::string_view utf8)
{
    std::string out;
    out.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size();) {
        uint32_t cp = NextCodePoint(utf8, i);
        out.push_back(cp <= 0xFF ? char(cp) : '?');
    }
    return out;
}

bool IsLatin1Text(std::string_view utf8)
{
    for (size_t i = 0; i < utf8.size();) {
        uint32_t cp = NextCodePoint(utf8, i);
        if (cp > 0xFF)
            return false;
    }
    return true;
}

std::string Utf16LEToUtf8(const uint8_t* bytes, size_t byteCount)
{
    return Utf16ToUtf8<false>(bytes, byteCount);
}

std::string Utf16BEToUtf8(const uint8_t* bytes, size_t byteCount)
{
    return Utf16ToUtf8<true>(bytes, byteCount);
}

std::string Utf8ToUtf16LE(std::string_view utf8)
{
    std::string out;
    out.reserve(utf8.size() * 2);
    auto put = [&](uint32_t u) {
        out.push_back(char(u & 0xFF));
        out.push_back(char(u >> 8));
    };
    for (size_t i = 0; i < utf8.size();) {
        uint32_t cp = NextCodePoint(utf8, i);
        if (cp == kInvalid || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF)
            cp = 0xFFFD;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            put(0xD800 + (cp >> 10));
            put(0xDC00 + (cp & 0x3FF));
        } else {
            put(cp);
        }
    }
    return out;
}

std::string ValidUtf8(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size());
    for (size_t i = 0; i < bytes.size();) {
        uint32_t cp = NextCodePoint(bytes, i);
        if (cp == kInvalid || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF)
            cp = 0xFFFD;
        AppendUtf8(out, cp);
    }
    return out;
}

size_t Utf8Length(std::string_view utf8)
{
    size_t count = 0;
    for (size_t i = 0; i < utf8.size();) {
        NextCodePoint(utf8, i);
        ++count;
    }
    return count;
}

std::string Utf8Left(std::string_view utf8, size_t maxChars)
{
    size_t i = 0;
    for (size_t n = 0; n < maxChars && i < utf8.size(); ++n)
        NextCodePoint(utf8, i);
    return std::string(utf8.substr(0, i));
}

std::string TrimControl(std::string_view text)
{
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && static_cast<uint8_t>(text[begin]) <= 32)
        ++begin;
    while (end > begin && static_cast<uint8_t>(text[end - 1]) <= 32)
        --end;
    return std::string(text.substr(begin, end - begin));
}

std::string TrimControlRight(std::string_view text)
{
    size_t end = text.size();
    while (end > 0 && static_cast<uint8_t>(text[end - 1]) <= 32)
        --end;
    return std::string(text.substr(0, end));
}
