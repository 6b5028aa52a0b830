#include "PartNames.h"

#include <algorithm>
#include <array>
#include <set>

namespace {

constexpr std::string_view kExtension = ".mp3";
constexpr std::string_view kFields[] = {"n", "k", "title", "artist", "album", "source"};

bool IsControl(char c)
{
    return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
}

std::string Replaced(std::string_view text, std::string_view refused)
{
    std::string result(text);
    for (char& c : result)
        if (IsControl(c) || refused.find(c) != std::string_view::npos)
            c = '_';
    return result;
}

// Tag texts may hold anything; a name must be valid on the file systems the
// parts may be copied to.
std::string PortableFieldText(std::string_view text, std::string_view whenEmpty)
{
    size_t first = text.find_first_not_of(' ');
    size_t last = text.find_last_not_of(' ');
    text = first == std::string_view::npos ? whenEmpty : text.substr(first, last - first + 1);
    return Replaced(text, "/\\:*?\"<>|");
}

std::string Padded(int64_t number, int64_t count)
{
    std::string digits = std::to_string(number);
    size_t width = std::to_string(std::max(number, count)).size();
    return std::string(width - digits.size(), '0') + digits;
}

// The text cut to at most maxBytes, on a UTF-8 character boundary.
void CutToBytes(std::string& text, size_t maxBytes)
{
    if (text.size() <= maxBytes)
        return;
    size_t end = maxBytes;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end;
    text.resize(end);
}

// Windows drops the dots and blanks at the end of a name.
std::string Trimmed(std::string text)
{
    while (!text.empty() && (text.back() == ' ' || text.back() == '.'))
        text.pop_back();
    return text;
}

struct TemplatePiece {
    std::string_view Text;
    bool IsField = false;
};

// Literal text and "{field}" pieces; a "{" without its "}" is literal.
std::vector<TemplatePiece> TemplatePieces(std::string_view nameTemplate)
{
    std::vector<TemplatePiece> pieces;
    size_t at = 0;
    while (at < nameTemplate.size()) {
        size_t open = nameTemplate.find('{', at);
        size_t close = open == std::string_view::npos ? open : nameTemplate.find('}', open);
        if (close == std::string_view::npos) {
            pieces.push_back({nameTemplate.substr(at), false});
            break;
        }
        if (open > at)
            pieces.push_back({nameTemplate.substr(at, open - at), false});
        pieces.push_back({nameTemplate.substr(open + 1, close - open - 1), true});
        at = close + 1;
    }
    return pieces;
}

bool IsKnownField(std::string_view name)
{
    return std::find(std::begin(kFields), std::end(kFields), name) != std::end(kFields);
}

std::string FoldedAscii(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

} // namespace

std::string NameTemplateError(std::string_view nameTemplate)
{
    if (nameTemplate.find_first_not_of(" .") == std::string_view::npos)
        return "the name template is empty";
    for (const TemplatePiece& piece : TemplatePieces(nameTemplate))
        if (piece.IsField && !IsKnownField(piece.Text))
            return "unknown field {" + std::string(piece.Text) +
                   "} in the name template (fields: {n} {k} {title} {artist} {album} {source})";
    return {};
}

std::string PartNameFromTemplate(std::string_view nameTemplate, const PartNameFields& fields)
{
    std::string number = Padded(fields.Number, fields.Count);
    std::array<std::string, 6> values = {
        number,
        std::to_string(fields.Number),
        PortableFieldText(fields.Title, "Track " + number),
        PortableFieldText(fields.Artist, "Unknown Artist"),
        PortableFieldText(fields.Album, "Unknown Album"),
        fields.Source,
    };
    std::vector<TemplatePiece> pieces = TemplatePieces(nameTemplate);
    auto assemble = [&] {
        std::string name;
        for (const TemplatePiece& piece : pieces) {
            auto known = std::find(std::begin(kFields), std::end(kFields), piece.Text);
            if (!piece.IsField)
                name += Replaced(piece.Text, "/");
            else if (known == std::end(kFields))
                name += "{" + std::string(piece.Text) + "}";
            else
                name += values[static_cast<size_t>(known - std::begin(kFields))];
        }
        return Trimmed(name);
    };
    std::string stem = assemble();
    // Room for " (9999)" as well, so that a name made distinct still fits.
    const size_t maxStem = kMaxPartNameBytes - kExtension.size() - 7;
    // The longest text the template uses gives up the excess; a tag text
    // may be 64 KiB long, so it goes at once, not a character at a time.
    while (stem.size() > maxStem) {
        std::string* longest = nullptr;
        for (const TemplatePiece& piece : pieces) {
            auto known = std::find(std::begin(kFields) + 2, std::end(kFields), piece.Text);
            std::string* value = known == std::end(kFields) || !piece.IsField
                                     ? nullptr
                                     : &values[static_cast<size_t>(known - std::begin(kFields))];
            if (value && (!longest || value->size() > longest->size()))
                longest = value;
        }
        if (!longest || longest->empty())
            break;
        size_t excess = stem.size() - maxStem;
        CutToBytes(*longest, longest->size() > excess ? longest->size() - excess : 0);
        stem = assemble();
    }
    if (stem.size() > maxStem) {  // the template's own text is that long
        CutToBytes(stem, maxStem);
        stem = Trimmed(stem);
    }
    if (stem.empty())
        stem = number;
    return stem + std::string(kExtension);
}

std::string PortablePartName(std::string_view typed)
{
    std::string stem = PortableFieldText(typed, {});
    if (stem.size() >= kExtension.size() && FoldedAscii(stem.substr(stem.size() - kExtension.size())) == kExtension)
        stem.resize(stem.size() - kExtension.size());
    CutToBytes(stem, kMaxPartNameBytes - kExtension.size());
    stem = Trimmed(stem);
    return stem.empty() ? std::string() : stem + std::string(kExtension);
}

ParseResult<std::vector<std::string>> PartNamesFromTemplate(std::string_view nameTemplate,
                                                           const std::vector<SplitPart>& parts,
                                                           std::string_view sourceBaseName, std::string_view album,
                                                           std::string_view sourceArtist)
{
    using Result = ParseResult<std::vector<std::string>>;
    if (std::string error = NameTemplateError(nameTemplate); !error.empty())
        return Result::Refused(error);
    std::vector<std::string> names;
    std::set<std::string> taken;
    const auto count = static_cast<int64_t>(parts.size());
    for (int64_t i = 0; i < count; ++i) {
        const SplitPart& part = parts[static_cast<size_t>(i)];
        PartNameFields fields{std::string(sourceBaseName), std::string(album), part.Title,
                              part.Performer.empty() ? std::string(sourceArtist) : part.Performer, i + 1, count};
        std::string name = PartNameFromTemplate(nameTemplate, fields);
        std::string stem = name.substr(0, name.size() - kExtension.size());
        // Case folded: the parts may land on a file system that ignores it.
        for (int copy = 2; taken.count(FoldedAscii(name)) != 0; ++copy)
            name = stem + " (" + std::to_string(copy) + ")" + std::string(kExtension);
        taken.insert(FoldedAscii(name));
        names.push_back(std::move(name));
    }
    return Result::Ok(std::move(names));
}

TagTexts PartTagTexts(const TagTexts& source, const SplitPart& part, int64_t number, int64_t count)
{
    TagTexts tags = source;
    if (!part.Title.empty())
        tags.Title = part.Title;
    if (!part.Performer.empty())
        tags.Artist = part.Performer;
    tags.Track = number;
    tags.TrackTotal = std::to_string(count);
    return tags;
}
