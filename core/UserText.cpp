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
