#include "CueSheet.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <vector>

#include "core/UserText.h"

namespace {

constexpr int64_t kFramesPerSecond = 75;

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

std::string_view TrimBlanks(std::string_view text)
{
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i] >= 'a' && a[i] <= 'z' ? static_cast<char>(a[i] - 32) : a[i];
        if (x != b[i])
            return false;
    }
    return true;
}

class LineError {
public:
    explicit LineError(std::string reason) : reason_(std::move(reason)) {}
    const std::string& Reason() const { return reason_; }

private:
    std::string reason_;
};

// The next word of a line, or the text between a pair of double quotes;
// empty at the end of the line.
std::string_view NextToken(std::string_view& rest)
{
    rest = TrimBlanks(rest);
    if (rest.empty())
        return {};
    size_t end = 0;
    std::string_view token;
    if (rest.front() == '"') {
        end = rest.find('"', 1);
        if (end == std::string_view::npos)
            throw LineError("unterminated quote");
        token = rest.substr(1, end - 1);
        ++end;
    } else {
        while (end < rest.size() && !IsBlank(rest[end]))
            ++end;
        token = rest.substr(0, end);
    }
    rest.remove_prefix(end);
    return token;
}

// A value that runs to the end of the line: the quoted text when it is
// quoted (anything after the closing quote ignored), else the whole rest,
// since sheets written by hand leave multi-word titles unquoted.
std::string TextValue(std::string_view rest)
{
    rest = TrimBlanks(rest);
    if (!rest.empty() && rest.front() == '"')
        return std::string(NextToken(rest));
    return std::string(rest);
}

std::optional<int64_t> Digits(std::string_view text, size_t maxDigits)
{
    // from_chars would take a minus sign too.
    if (text.empty() || text.size() > maxDigits || text.find_first_not_of("0123456789") != std::string_view::npos)
        return std::nullopt;
    int64_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

// MM:SS:FF in milliseconds, to the nearest one (a frame is 13 1/3 ms).
int64_t IndexTimeMs(std::string_view text)
{
    size_t first = text.find(':');
    size_t second = first == std::string_view::npos ? first : text.find(':', first + 1);
    if (second == std::string_view::npos || text.find(':', second + 1) != std::string_view::npos)
        throw LineError("INDEX time '" + std::string(text) + "' is not MM:SS:FF");
    auto minutes = Digits(text.substr(0, first), 6);
    auto seconds = Digits(text.substr(first + 1, second - first - 1), 2);
    auto frames = Digits(text.substr(second + 1), 2);
    if (!minutes || !seconds || !frames)
        throw LineError("INDEX time '" + std::string(text) + "' is not MM:SS:FF");
    if (*seconds > 59)
        throw LineError("INDEX time '" + std::string(text) + "' has " + std::to_string(*seconds) +
                        " seconds (at most 59)");
    if (*frames >= kFramesPerSecond)
        throw LineError("INDEX time '" + std::string(text) + "' has " + std::to_string(*frames) +
                        " frames (at most 74)");
    int64_t totalFrames = (*minutes * 60 + *seconds) * kFramesPerSecond + *frames;
    return (totalFrames * 1000 + kFramesPerSecond / 2) / kFramesPerSecond;
}

class SheetReader {
public:
    void Line(std::string_view line, int32_t number)
    {
        lineNumber_ = number;
        std::string_view rest = line;
        std::string_view command = NextToken(rest);
        if (EqualsIgnoringCase(command, "TITLE"))
            (track_ ? track_->Title : sheet_.Title) = TextValue(rest);
        else if (EqualsIgnoringCase(command, "PERFORMER"))
            (track_ ? track_->Performer : sheet_.Performer) = TextValue(rest);
        else if (EqualsIgnoringCase(command, "REM"))
            Remark(rest);
        else if (EqualsIgnoringCase(command, "FILE"))
            File(rest);
        else if (EqualsIgnoringCase(command, "TRACK"))
            Track(rest);
        else if (EqualsIgnoringCase(command, "INDEX"))
            Index(rest);
        else
            CheckQuotes(rest);
    }

    CueSheet Finish(int32_t lineCount)
    {
        lineNumber_ = std::max(lineCount, 1);
        EndTrack();
        if (sheet_.Tracks.empty())
            throw LineError("the sheet has no TRACK");
        return std::move(sheet_);
    }

    int32_t LineNumber() const { return lineNumber_; }

private:
    void Remark(std::string_view rest)
    {
        std::string_view field = NextToken(rest);
        if (EqualsIgnoringCase(field, "DATE"))
            sheet_.Date = TextValue(rest);
        else if (EqualsIgnoringCase(field, "GENRE"))
            sheet_.Genre = TextValue(rest);
        else
            CheckQuotes(rest);
    }

    void File(std::string_view rest)
    {
        if (fileLine_ != 0)
            throw LineError("a second FILE (first on line " + std::to_string(fileLine_) +
                            "): the times of a sheet of several files are not times of one");
        fileLine_ = lineNumber_;
        sheet_.File = std::string(NextToken(rest));
        CheckQuotes(rest);
    }

    void Track(std::string_view rest)
    {
        EndTrack();
        std::string_view numberText = NextToken(rest);
        auto number = Digits(numberText, 3);
        if (!number || *number == 0)
            throw LineError("TRACK '" + std::string(numberText) + "' is not a track number");
        CheckQuotes(rest);
        track_ = CueTrack();
        track_->Number = static_cast<int32_t>(*number);
        track_->Line = lineNumber_;
        trackHasStart_ = false;
    }

    void Index(std::string_view rest)
    {
        if (!track_)
            throw LineError("INDEX before any TRACK");
        std::string_view numberText = NextToken(rest);
        auto number = Digits(numberText, 2);
        if (!number)
            throw LineError("INDEX '" + std::string(numberText) + "' is not an index number");
        std::string_view timeText = NextToken(rest);
        int64_t startMs = IndexTimeMs(timeText);
        if (*number != 1)
            return;  // the pregap (INDEX 00) and subindexes move no track start
        if (trackHasStart_)
            throw LineError("a second INDEX 01 in track " + std::to_string(track_->Number));
        if (!sheet_.Tracks.empty() && startMs <= sheet_.Tracks.back().StartMs)
            throw LineError("track " + std::to_string(track_->Number) + " starts at " + std::string(timeText) +
                            ", not after track " + std::to_string(sheet_.Tracks.back().Number));
        track_->StartMs = startMs;
        trackHasStart_ = true;
    }

    void EndTrack()
    {
        if (!track_)
            return;
        if (!trackHasStart_) {
            lineNumber_ = track_->Line;
            throw LineError("track " + std::to_string(track_->Number) + " has no INDEX 01");
        }
        sheet_.Tracks.push_back(std::move(*track_));
        track_.reset();
    }

    // The words of a skipped command still must not open a quote they
    // never close: such a sheet was cut short or mangled.
    static void CheckQuotes(std::string_view rest)
    {
        for (rest = TrimBlanks(rest); !rest.empty(); rest = TrimBlanks(rest))
            NextToken(rest);
    }

    CueSheet sheet_;
    std::optional<CueTrack> track_;
    bool trackHasStart_ = false;
    int32_t fileLine_ = 0;
    int32_t lineNumber_ = 0;
};

} // namespace

ParseResult<CueSheet> ParseCueSheet(std::string_view bytes)
{
    std::string text = UserTextAsUtf8(bytes);
    std::vector<std::string_view> lines = TextLines(text);
    SheetReader reader;
    try {
        for (size_t i = 0; i < lines.size(); ++i)
            reader.Line(lines[i], static_cast<int32_t>(i + 1));
        return ParseResult<CueSheet>::Ok(reader.Finish(static_cast<int32_t>(lines.size())));
    } catch (const LineError& error) {
        return ParseResult<CueSheet>::Refused("line " + std::to_string(reader.LineNumber()) + ": " + error.Reason());
    }
}

ParseResult<CueSheet> ReadCueSheet(const std::string& path)
{
    ParseResult<std::string> bytes = ReadUserText(path);
    if (!bytes)
        return ParseResult<CueSheet>::Refused(bytes.Error);
    return ParseCueSheet(*bytes.Value);
}

std::optional<std::string> CueSheetBeside(const std::string& audioPath)
{
    namespace fs = std::filesystem;
    fs::path audio(audioPath);
    fs::path stem = audio;
    stem.replace_extension();
    for (const fs::path& candidate : {fs::path(stem) += ".cue", fs::path(stem) += ".CUE", fs::path(audio) += ".cue"}) {
        std::error_code error;
        if (fs::is_regular_file(candidate, error))
            return candidate.string();
    }
    return std::nullopt;
}
