#include "UserText.h"

#include "analysis/Errors.h"
#include "analysis/TextCodec.h"
#include "files/BinaryFile.h"

ParseResult<std::string> ReadUserText(const std::string& path)
{
    using Result = ParseResult<std::string>;
    BinaryFile file;
    if (!file.Open(path, BinaryFile::Mode::Read))
        return Result::Refused(FileOpenError(path, file.LastError()).what());
    int64_t size = file.Size();
    if (size < 0)
        return Result::Refused(FileOpenError(path, file.LastError()).what());
    if (size > kMaxUserTextBytes)
        return Result::Refused(FileOpenError(path, "It is larger than 1 MiB.").what());
    std::string bytes(static_cast<size_t>(size), '\0');
    if (!file.ReadExact(bytes.data(), bytes.size()))
        return Result::Refused(StreamReadError().what());
    return Result::Ok(std::move(bytes));
}

namespace {

// Windows' code page 1252: Latin-1 but for 0x80..0x9F, where Latin-1 has
// control characters nobody types and Windows has curly quotes, dashes and
// the euro sign. The five codes it leaves free keep their Latin-1 meaning.
constexpr char16_t kWindows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void AppendUtf8(std::string& out, char16_t code)
{
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | code >> 6);
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | code >> 12);
        out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

std::string Windows1252ToUtf8(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size() * 2);
    for (char c : bytes) {
        auto byte = static_cast<unsigned char>(c);
        AppendUtf8(out, byte >= 0x80 && byte < 0xA0 ? kWindows1252High[byte - 0x80] : byte);
    }
    return out;
}

} // namespace

std::string UserTextAsUtf8(std::string_view bytes)
{
    auto startsWith = [&](std::string_view mark) { return bytes.substr(0, mark.size()) == mark; };
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
    if (startsWith("\xFF\xFE"))
        return Utf16LEToUtf8(data + 2, bytes.size() - 2);
    if (startsWith("\xFE\xFF"))
        return Utf16BEToUtf8(data + 2, bytes.size() - 2);
    if (startsWith("\xEF\xBB\xBF"))
        bytes.remove_prefix(3);
    // Older rippers and editors write the code page of the Windows they ran
    // on, which for Western languages is Latin-1 with a few more characters.
    return ValidUtf8(bytes) == bytes ? std::string(bytes) : Windows1252ToUtf8(bytes);
}

std::vector<std::string_view> TextLines(std::string_view text)
{
    std::vector<std::string_view> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
    }
    return lines;
}
