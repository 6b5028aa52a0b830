#include "ID3v2Fields.h"

#include "ID3v1.h"
#include "TextCodec.h"

#include <algorithm>
#include <charconv>

namespace id3v2 {

namespace {

std::string Decode(const Bytes& content, bool joinValues)
{
    if (content.empty())
        return {};
    size_t size = std::min(content.size(), kTextBytes);
    auto strings = id3v2::DecodeStrings(content[0], content.data() + 1, size - 1);
    while (!strings.empty() && strings.back().empty())
        strings.pop_back();
    std::string text;
    for (size_t i = 0; i < strings.size() && (joinValues || i == 0); ++i)
        text += (i ? "/" : "") + strings[i];
    return TrimControl(Utf8Left(text, kTextChars));
}

// The year a date frame gives when no TYER is there: its first four characters.
std::string YearOfDate(const Bytes& content)
{
    return Utf8Left(Decode(content, false), 4);
}

// "(n)" refinements in front of a genre text give way to the text; alone,
// the first one names the genre. "((" starts a text that begins with "(".
std::string GenreFromText(const std::string& text, bool bareNumbers)
{
    auto genreName = [](std::string_view digits) -> std::optional<std::string> {
        unsigned value = 0;
        auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
        if (error != std::errc() || end != digits.data() + digits.size() || digits.empty()
            || value >= GenreNames.size())
            return std::nullopt;
        return std::string(GenreNames[value]);
    };
    if (bareNumbers) {  // v2.4 may name a genre by its number alone
        if (auto name = genreName(text))
            return *name;
    }
    std::optional<std::string> firstReference;
    size_t at = 0;
    while (at < text.size() && text[at] == '(' && !(at + 1 < text.size() && text[at + 1] == '(')) {
        size_t close = text.find(')', at);
        if (close == std::string::npos)
            break;
        std::string_view inside(text.data() + at + 1, close - at - 1);
        bool number = !inside.empty() && std::all_of(inside.begin(), inside.end(), [](char c) {
            return c >= '0' && c <= '9';
        });
        if (!number && inside != "RX" && inside != "CR")
            break;
        if (!firstReference)
            firstReference = genreName(inside);
        at = close + 1;
    }
    if (at == 0)
        return text.rfind("((", 0) == 0 ? text.substr(1) : text;
    std::string rest = TrimControl(text.substr(at));
    if (rest.rfind("((", 0) == 0)
        rest.erase(0, 1);
    if (!rest.empty())
        return rest;
    return firstReference.value_or(std::string());
}

} // namespace

std::optional<Field> FieldOf(std::string_view id)
{
    for (size_t i = 0; i < kFieldIds.size(); ++i)
        if (kFieldIds[i] == id)
            return static_cast<Field>(i);
    return std::nullopt;
}

std::optional<Field> FieldOfKept(const Bytes& frame)
{
    if (frame.size() < 4)
        return std::nullopt;
    return FieldOf(std::string_view(reinterpret_cast<const char*>(frame.data()), 4));
}

std::string CommentLanguage(const Bytes& content)
{
    return content.size() >= 4 ? std::string(content.begin() + 1, content.begin() + 4) : std::string("eng");
}

CommentParts DecodeComment(const Bytes& content)
{
    CommentParts parts;
    size_t size = std::min(content.size(), kTextBytes);
    if (size < 4)
        return parts;
    uint8_t encoding = content[0];
    size_t descriptionEnd = 0;
    size_t textStart = id3v2::SkipString(encoding, content.data(), size, 4, &descriptionEnd);
    auto description = id3v2::DecodeStrings(encoding, content.data() + 4, descriptionEnd - 4);
    parts.description = description.empty() ? std::string() : TrimControl(description.front());
    auto text = id3v2::DecodeStrings(encoding, content.data() + textStart, size - textStart);
    parts.text = text.empty() ? std::string() : TrimControl(Utf8Left(text.front(), kTextChars));
    return parts;
}

std::optional<std::string> YearOfKeptDate(const Bytes& frame)
{
    const std::optional<Bytes> content = ContentOfKept(frame, "TDRC");
    if (!content)
        return std::nullopt;
    return YearOfDate(*content);
}

bool IsCommentWithoutDescription(const Bytes& frame)
{
    const std::optional<Bytes> content = ContentOfKept(frame, "COMM");
    return content && DecodeComment(*content).description.empty();
}

uint8_t TrackFromText(const std::string& text)
{
    std::string number = TrimControl(text.substr(0, text.find('/')));
    uint64_t value = 0;
    auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (number.empty() || error != std::errc() || end != number.data() + number.size())
        return 0;
    return static_cast<uint8_t>(value & 0xFF);
}

std::string TrackTotalFromText(const std::string& text)
{
    size_t slash = text.find('/');
    return slash == std::string::npos ? std::string() : TrimControl(text.substr(slash + 1));
}

// What a frame gives the field it is read into, in the form fields are
// compared in (the comment with its description in front).
std::string FieldReading(Field field, const FoundFrame& frame)
{
    const Bytes& content = *frame.content;
    const bool v24 = frame.version == 4;
    switch (field) {
    case kGenre: return GenreFromText(Decode(content, v24), v24);
    case kComment: {
        CommentParts parts = DecodeComment(content);
        return parts.description + '\0' + parts.text;
    }
    case kYear: return frame.id == "TDRC" ? YearOfDate(content) : Decode(content, v24);
    default: return Decode(content, v24);
    }
}

bool ReadsBackTheSame(Field field, const FoundFrame& found, const Bytes& kept)
{
    if (kept.size() < kHeaderSize)
        return false;
    const auto flags = static_cast<uint16_t>(kept[8] << 8 | kept[9]);
    FoundFrame v23 = TakeV23Frame(found.id, flags, kept.data() + kHeaderSize, kept.size() - kHeaderSize, false);
    return v23.content && FieldReading(field, v23) == FieldReading(field, found);
}

// The whole frame for one of the seven texts.
Bytes TextFrame(std::string_view id, const std::string& text)
{
    uint8_t encoding = id3v2::EncodingFor(text);
    Bytes data{encoding};
    auto encoded = id3v2::EncodeString(text, encoding);
    data.insert(data.end(), encoded.begin(), encoded.end());
    return id3v2::RenderFrame(id, 0, data);
}

Bytes CommentFrame(const std::string& text, const std::string& language)
{
    uint8_t encoding = id3v2::EncodingFor(text);
    Bytes data{encoding};
    data.insert(data.end(), language.begin(), language.end());
    data.resize(4, ' ');
    // The empty description: a BOM of its own for UTF-16, as each string has one.
    auto description = id3v2::EncodeString("", encoding);
    auto terminator = id3v2::Terminator(encoding);
    auto encoded = id3v2::EncodeString(text, encoding);
    data.insert(data.end(), description.begin(), description.end());
    data.insert(data.end(), terminator.begin(), terminator.end());
    data.insert(data.end(), encoded.begin(), encoded.end());
    return id3v2::RenderFrame("COMM", 0, data);
}

} // namespace id3v2
