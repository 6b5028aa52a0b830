#include "ID3v2Frames.h"

#include "ByteReader.h"
#include "TextCodec.h"

#include <array>

namespace id3v2 {

namespace {

bool IsWide(uint8_t encoding)
{
    return encoding == kUtf16WithBom || encoding == kUtf16BE;
}

// One UTF-16 string with an optional BOM; without one, the order of the
// previous string of the frame holds (little-endian to begin with, which is
// what writers that forget the BOM use).
std::string DecodeUtf16(const uint8_t* data, size_t size, bool& bigEndian)
{
    if (size >= 2 && data[0] == 0xFF && data[1] == 0xFE) {
        bigEndian = false;
        data += 2;
        size -= 2;
    } else if (size >= 2 && data[0] == 0xFE && data[1] == 0xFF) {
        bigEndian = true;
        data += 2;
        size -= 2;
    }
    return bigEndian ? Utf16BEToUtf8(data, size) : Utf16LEToUtf8(data, size);
}

std::string DecodeOne(uint8_t encoding, const uint8_t* data, size_t size, bool& bigEndian)
{
    switch (encoding) {
    case kUtf16WithBom: return DecodeUtf16(data, size, bigEndian);
    case kUtf16BE: return Utf16BEToUtf8(data, size);
    case kUtf8: return ValidUtf8(std::string_view(reinterpret_cast<const char*>(data), size));
    default: return Latin1ToUtf8(std::string_view(reinterpret_cast<const char*>(data), size));
    }
}

// The steps a frame's data is made of, enough to find its encoded strings.
enum class Step {
    Encoding,       // the encoding byte
    Language,       // three raw bytes
    Byte,           // one raw byte
    Latin1String,   // a string that is always Latin-1 (MIME type)
    String,         // a string in the frame's encoding
    StringsToEnd,   // strings in the frame's encoding up to the end
    RawToEnd,       // binary data up to the end
};

using Layout = std::vector<Step>;

std::optional<Layout> LayoutOf(std::string_view id)
{
    using enum Step;
    if (id.size() == 4 && id[0] == 'T')
        return Layout{Encoding, StringsToEnd};
    if (id == "COMM" || id == "USLT" || id == "USER")
        return Layout{Encoding, Language, StringsToEnd};
    if (id == "WXXX")
        return Layout{Encoding, String, RawToEnd};
    if (id == "APIC")
        return Layout{Encoding, Latin1String, Byte, String, RawToEnd};
    if (id == "GEOB")
        return Layout{Encoding, Latin1String, String, String, RawToEnd};
    return std::nullopt;
}

// Frames that open with an encoding byte but whose layout is not followed here.
bool HasEncodedText(std::string_view id)
{
    return id == "SYLT" || id == "OWNE" || id == "COMR" || id == "IPLS";
}

void Append(Bytes& out, const Bytes& more)
{
    out.insert(out.end(), more.begin(), more.end());
}

void Append(Bytes& out, const uint8_t* data, size_t size)
{
    out.insert(out.end(), data, data + size);
}

// Re-encodes one string at `at` (v2.4 encoding 2 or 3) as UTF-16 with BOM.
size_t ReencodeString(const Bytes& data, size_t at, uint8_t encoding, Bytes& out)
{
    size_t stringEnd = 0;
    size_t next = SkipString(encoding, data.data(), data.size(), at, &stringEnd);
    bool bigEndian = false;
    std::string text = DecodeOne(encoding, data.data() + at, stringEnd - at, bigEndian);
    Append(out, EncodeString(text, kUtf16WithBom));
    if (next > stringEnd)
        Append(out, Terminator(kUtf16WithBom));
    return next;
}

} // namespace

size_t SkipString(uint8_t encoding, const uint8_t* data, size_t size, size_t from, size_t* stringEnd)
{
    size_t end = size;
    size_t next = size;
    if (IsWide(encoding)) {
        for (size_t i = from; i + 1 < size; i += 2) {
            if (data[i] == 0 && data[i + 1] == 0) {
                end = i;
                next = i + 2;
                break;
            }
        }
    } else {
        for (size_t i = from; i < size; ++i) {
            if (data[i] == 0) {
                end = i;
                next = i + 1;
                break;
            }
        }
    }
    if (from > size)
        end = next = size;
    if (stringEnd)
        *stringEnd = end;
    return next;
}

std::vector<std::string> DecodeStrings(uint8_t encoding, const uint8_t* data, size_t size)
{
    std::vector<std::string> strings;
    bool bigEndian = false;
    size_t at = 0;
    while (at < size) {
        size_t stringEnd = 0;
        size_t next = SkipString(encoding, data, size, at, &stringEnd);
        strings.push_back(DecodeOne(encoding, data + at, stringEnd - at, bigEndian));
        if (next <= at)  // cannot happen, but the loop must end whatever the data
            break;
        at = next;
    }
    return strings;
}

uint8_t EncodingFor(std::string_view utf8)
{
    return IsLatin1Text(utf8) ? kLatin1 : kUtf16WithBom;
}

Bytes EncodeString(std::string_view utf8, uint8_t encoding)
{
    Bytes out;
    if (encoding == kUtf16WithBom) {
        std::string wide = Utf8ToUtf16LE(utf8);
        out.reserve(wide.size() + 2);
        out.push_back(0xFF);
        out.push_back(0xFE);
        out.insert(out.end(), wide.begin(), wide.end());
    } else {
        std::string latin1 = Utf8ToLatin1(utf8);
        out.assign(latin1.begin(), latin1.end());
    }
    return out;
}

Bytes Terminator(uint8_t encoding)
{
    return IsWide(encoding) ? Bytes{0, 0} : Bytes{0};
}

Bytes RemoveUnsynchronisation(const uint8_t* data, size_t size)
{
    Bytes out;
    out.reserve(size);
    for (size_t i = 0; i < size; ++i) {
        out.push_back(data[i]);
        if (data[i] == 0xFF && i + 1 < size && data[i + 1] == 0x00)
            ++i;
    }
    return out;
}

Bytes RenderFrame(std::string_view id, uint16_t flags, std::span<const uint8_t> data)
{
    return RenderFrame(id, flags, {}, data);
}

Bytes RenderFrame(std::string_view id, uint16_t flags, std::span<const uint8_t> lead, std::span<const uint8_t> data)
{
    Bytes out;
    out.reserve(10 + lead.size() + data.size());
    out.insert(out.end(), id.begin(), id.end());
    PutBE32(out, static_cast<uint32_t>(lead.size() + data.size()));
    out.push_back(uint8_t(flags >> 8));
    out.push_back(uint8_t(flags));
    out.insert(out.end(), lead.begin(), lead.end());
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

bool IsValidFrameId(std::string_view id)
{
    if (id.size() != 4)
        return false;
    for (char c : id)
        if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')))
            return false;
    return true;
}

bool NeedsReencodingForV23(std::string_view id, std::span<const uint8_t> data)
{
    const bool encoded = LayoutOf(id) || HasEncodedText(id);
    return encoded && !data.empty() && (data[0] == kUtf16BE || data[0] == kUtf8);
}

std::optional<Bytes> ReencodeForV23(std::string_view id, const Bytes& data)
{
    if (!NeedsReencodingForV23(id, data))
        return data;
    std::optional<Layout> layout = LayoutOf(id);
    if (!layout)
        return std::nullopt;

    const uint8_t encoding = data[0];
    Bytes out;
    out.reserve(data.size() * 2 + 8);
    size_t at = 0;
    for (Step step : *layout) {
        switch (step) {
        case Step::Encoding:
            out.push_back(kUtf16WithBom);
            at = 1;
            break;
        case Step::Language:
            if (!ByteReader(data).Has(at, 3))
                return std::nullopt;
            Append(out, data.data() + at, 3);
            at += 3;
            break;
        case Step::Byte:
            if (!ByteReader(data).Has(at, 1))
                return std::nullopt;
            out.push_back(data[at++]);
            break;
        case Step::Latin1String: {
            size_t next = SkipString(kLatin1, data.data(), data.size(), at);
            Append(out, data.data() + at, next - at);
            at = next;
            break;
        }
        case Step::String:
            at = ReencodeString(data, at, encoding, out);
            break;
        case Step::StringsToEnd:
            while (at < data.size())
                at = ReencodeString(data, at, encoding, out);
            break;
        case Step::RawToEnd:
            if (at < data.size())
                Append(out, data.data() + at, data.size() - at);
            at = data.size();
            break;
        }
    }
    return out;
}

std::string_view V23IdFor(std::string_view v22Id)
{
    // The frames of the v2.2 standard, and those iTunes added to it (the
    // compilation flag, the sort orders, grouping and movement).
    static constexpr std::array<std::pair<std::string_view, std::string_view>, 71> kIds = {{
        {"BUF", "RBUF"}, {"CNT", "PCNT"}, {"COM", "COMM"}, {"CRA", "AENC"}, {"ETC", "ETCO"}, {"EQU", "EQUA"},
        {"GEO", "GEOB"}, {"GP1", "GRP1"}, {"IPL", "IPLS"}, {"LNK", "LINK"}, {"MCI", "MCDI"}, {"MLL", "MLLT"},
        {"MVI", "MVIN"}, {"MVN", "MVNM"}, {"PIC", "APIC"}, {"POP", "POPM"}, {"REV", "RVRB"}, {"RVA", "RVAD"},
        {"SLT", "SYLT"}, {"STC", "SYTC"}, {"TAL", "TALB"}, {"TBP", "TBPM"}, {"TCM", "TCOM"}, {"TCO", "TCON"},
        {"TCP", "TCMP"}, {"TCR", "TCOP"}, {"TDA", "TDAT"}, {"TDY", "TDLY"}, {"TEN", "TENC"}, {"TFT", "TFLT"},
        {"TIM", "TIME"}, {"TKE", "TKEY"}, {"TLA", "TLAN"}, {"TLE", "TLEN"}, {"TMT", "TMED"}, {"TOA", "TOPE"},
        {"TOF", "TOFN"}, {"TOL", "TOLY"}, {"TOR", "TORY"}, {"TOT", "TOAL"}, {"TP1", "TPE1"}, {"TP2", "TPE2"},
        {"TP3", "TPE3"}, {"TP4", "TPE4"}, {"TPA", "TPOS"}, {"TPB", "TPUB"}, {"TRC", "TSRC"}, {"TRD", "TRDA"},
        {"TRK", "TRCK"}, {"TS2", "TSO2"}, {"TSA", "TSOA"}, {"TSC", "TSOC"}, {"TSI", "TSIZ"}, {"TSP", "TSOP"},
        {"TSS", "TSSE"}, {"TST", "TSOT"}, {"TT1", "TIT1"}, {"TT2", "TIT2"}, {"TT3", "TIT3"}, {"TXT", "TEXT"},
        {"TXX", "TXXX"}, {"TYE", "TYER"}, {"UFI", "UFID"}, {"ULT", "USLT"}, {"WAF", "WOAF"}, {"WAR", "WOAR"},
        {"WAS", "WOAS"}, {"WCM", "WCOM"}, {"WCP", "WCOP"}, {"WPB", "WPUB"}, {"WXX", "WXXX"},
    }};
    for (const auto& [v22, v23] : kIds)
        if (v22 == v22Id)
            return v23;
    return {};
}

namespace {

std::optional<Bytes> PictureFromV22(std::span<const uint8_t> data)
{
    // v2.2: encoding, three-letter image format, picture type, description, data.
    if (data.size() < 5)
        return std::nullopt;
    std::string format(data.begin() + 1, data.begin() + 4);
    for (char& c : format)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    std::string mime = format == "jpg" ? "image/jpeg" : "image/" + format;
    Bytes out;
    out.reserve(data.size() + mime.size());
    out.push_back(data[0]);
    out.insert(out.end(), mime.begin(), mime.end());
    out.push_back(0);
    out.insert(out.end(), data.begin() + 4, data.end());
    return out;
}

// v2.2 names the linked frame in three letters, v2.3 in four.
std::optional<Bytes> LinkFromV22(std::span<const uint8_t> data)
{
    if (data.size() < 3)
        return std::nullopt;
    std::string_view linked = V23IdFor(std::string_view(reinterpret_cast<const char*>(data.data()), 3));
    if (linked.empty())
        return std::nullopt;
    Bytes out(linked.begin(), linked.end());
    out.insert(out.end(), data.begin() + 3, data.end());
    return out;
}

} // namespace

std::optional<Bytes> DataFromV22(std::string_view v22Id, std::span<const uint8_t> data)
{
    if (v22Id == "PIC")
        return PictureFromV22(data);
    if (v22Id == "LNK")
        return LinkFromV22(data);
    if (V23IdFor(v22Id).empty())
        return std::nullopt;
    return Bytes(data.begin(), data.end());
}

} // namespace id3v2
