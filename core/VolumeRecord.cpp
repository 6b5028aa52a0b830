#include "VolumeRecord.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>

namespace {

constexpr uint8_t kUnsynchronised = 0x80;
constexpr uint8_t kExtendedHeader = 0x40;
constexpr uint8_t kFooter = 0x10;

uint32_t SynchsafeAt(const uint8_t* p)
{
    return uint32_t{p[0]} << 21 | uint32_t{p[1]} << 14 | uint32_t{p[2]} << 7 | p[3];
}

void PutSize(uint8_t* p, uint32_t size, bool synchsafe)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(synchsafe ? (size >> (7 * (3 - i))) & 0x7F : size >> (8 * (3 - i)));
}

bool IsFrameIdChar(uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }

// A TXXX frame with ISO-8859-1 texts.
std::vector<uint8_t> UserTextFrame(std::string_view description, std::string_view value, uint8_t major)
{
    std::string frame("TXXX\0\0\0\0\0\0\0", 11);
    frame.append(description).append(1, '\0').append(value);
    std::vector<uint8_t> bytes(frame.begin(), frame.end());
    PutSize(&bytes[4], static_cast<uint32_t>(bytes.size() - 10), major == 4);
    return bytes;
}

std::vector<uint8_t> RecordFrame(const VolumeRecord& record, uint8_t major)
{
    std::vector<uint8_t> frame = UserTextFrame(kVolumeRecordName, RenderVolumeRecord(record), major);
    // File alter preservation: the record describes this audio only, and
    // taggers (the cutter among them) drop it from a file made of other audio.
    frame[8] = major == 4 ? 0x20 : 0x40;
    return frame;
}

// Reads an integer of the record; false unless the whole token is one.
template <typename T>
bool Number(std::string_view token, T& value, int base = 10)
{
    const auto [end, error] = std::from_chars(token.data(), token.data() + token.size(), value, base);
    return error == std::errc() && end == token.data() + token.size() && !token.empty();
}

std::vector<std::string_view> Split(std::string_view text, char separator)
{
    std::vector<std::string_view> parts;
    for (size_t at = 0;;) {
        const size_t next = text.find(separator, at);
        parts.push_back(text.substr(at, next == std::string_view::npos ? std::string_view::npos : next - at));
        if (next == std::string_view::npos)
            return parts;
        at = next + 1;
    }
}

} // namespace

std::string RenderVolumeRecord(const VolumeRecord& record)
{
    std::string text = record.TagAdded ? "1 added" : "1 kept";
    for (const VolumeStep& step : record.Steps) {
        char hash[17];
        std::snprintf(hash, sizeof hash, "%016llx", static_cast<unsigned long long>(step.SideInfoHash));
        text += '\n';
        text += hash;
        text += ' ' + std::to_string(step.TagGrowth) + ' ';
        for (size_t i = 0; i < step.Runs.size(); ++i) {
            const GainRun& run = step.Runs[i];
            text += (i ? "," : "") + std::to_string(run.First) + ':' + std::to_string(run.Count) + ':' +
                    std::to_string(run.Steps);
        }
    }
    return text;
}

std::optional<VolumeRecord> ParseVolumeRecord(std::string_view text)
{
    const std::vector<std::string_view> lines = Split(text, '\n');
    VolumeRecord record;
    if (lines[0] != "1 added" && lines[0] != "1 kept")
        return std::nullopt;
    record.TagAdded = lines[0] == "1 added";
    for (size_t i = 1; i < lines.size(); ++i) {
        const std::vector<std::string_view> fields = Split(lines[i], ' ');
        VolumeStep step;
        if (fields.size() != 3 || !Number(fields[0], step.SideInfoHash, 16) || !Number(fields[1], step.TagGrowth) ||
            step.TagGrowth < 0)
            return std::nullopt;
        if (!fields[2].empty()) {
            for (std::string_view token : Split(fields[2], ',')) {
                const std::vector<std::string_view> parts = Split(token, ':');
                GainRun run;
                if (parts.size() != 3 || !Number(parts[0], run.First) || !Number(parts[1], run.Count) ||
                    !Number(parts[2], run.Steps) || run.First < 0 || run.Count < 1 || run.Steps < -255 ||
                    run.Steps > 255)
                    return std::nullopt;
                step.Runs.push_back(run);
            }
        }
        record.Steps.push_back(std::move(step));
    }
    // Only the form written here: a record read otherwise would be written
    // back in other bytes, and undo would not give the file back exactly.
    if (RenderVolumeRecord(record) != text)
        return std::nullopt;
    return record;
}

void AppendGainSteps(std::vector<GainRun>& runs, int steps)
{
    if (!runs.empty() && runs.back().Steps == steps) {
        ++runs.back().Count;
        return;
    }
    const int64_t next = runs.empty() ? 0 : runs.back().First + runs.back().Count;
    runs.push_back({next, 1, steps});
}

int64_t LeadingTagBytes(std::span<const uint8_t> header)
{
    if (header.size() < 10 || header[0] != 'I' || header[1] != 'D' || header[2] != '3')
        return 0;
    return 10 + static_cast<int64_t>(SynchsafeAt(&header[6]));
}

std::optional<RecordTag> ReadRecordTag(std::vector<uint8_t> bytes, std::string& reason)
{
    RecordTag tag;
    if (bytes.empty()) {
        tag.Bytes = {'I', 'D', '3', 3, 0, 0, 0, 0, 0, 0};
        return tag;
    }
    tag.Exists = true;
    tag.Bytes = std::move(bytes);
    const std::vector<uint8_t>& b = tag.Bytes;
    const uint8_t major = b[3];
    if (major != 3 && major != 4) {
        reason = "its ID3v2 tag is of version 2." + std::to_string(major) + ", which cannot hold the record";
        return std::nullopt;
    }
    if ((b[6] | b[7] | b[8] | b[9]) & 0x80) {
        reason = "its ID3v2 tag's size is not written as ID3v2 writes it";
        return std::nullopt;
    }
    if (b[5] & (kUnsynchronised | kExtendedHeader | (major == 4 ? kFooter : 0))) {
        reason = "its ID3v2 tag is unsynchronised or has an extended header or a footer, which the record "
                 "cannot be added to without rewriting the tag";
        return std::nullopt;
    }
    const auto end = static_cast<int64_t>(b.size());
    int64_t at = 10;
    while (at + 10 <= end && b[static_cast<size_t>(at)] != 0) {
        const uint8_t* frame = &b[static_cast<size_t>(at)];
        if (!IsFrameIdChar(frame[0]) || !IsFrameIdChar(frame[1]) || !IsFrameIdChar(frame[2]) ||
            !IsFrameIdChar(frame[3])) {
            reason = "its ID3v2 tag holds bytes that are neither frames nor padding";
            return std::nullopt;
        }
        const int64_t size =
            major == 4 ? SynchsafeAt(frame + 4)
                       : static_cast<int64_t>(uint32_t{frame[4]} << 24 | uint32_t{frame[5]} << 16 |
                                              uint32_t{frame[6]} << 8 | frame[7]);
        if (at + 10 + size > end) {
            reason = "a frame of its ID3v2 tag runs past the tag's end";
            return std::nullopt;
        }
        const std::string_view body(reinterpret_cast<const char*>(frame + 10), static_cast<size_t>(size));
        if (std::string_view(reinterpret_cast<const char*>(frame), 4) == "TXXX" && body.size() > kVolumeRecordName.size() + 1 &&
            body[0] == 0 && body.substr(1, kVolumeRecordName.size()) == kVolumeRecordName &&
            body[1 + kVolumeRecordName.size()] == 0) {
            tag.Record = ParseVolumeRecord(body.substr(2 + kVolumeRecordName.size()));
            if (!tag.Record) {
                reason = "its record of volume changes cannot be read";
                return std::nullopt;
            }
            tag.RecordAt = at;
            tag.RecordBytes = 10 + size;
        }
        at += 10 + size;
    }
    tag.FramesEnd = std::min(at, end);
    for (int64_t i = tag.FramesEnd; i < end; ++i)
        if (b[static_cast<size_t>(i)] != 0) {
            reason = "its ID3v2 tag's padding is not zeros";
            return std::nullopt;
        }
    return tag;
}

int64_t GrowthToHold(const RecordTag& tag, const VolumeRecord& record)
{
    const auto frame = static_cast<int64_t>(RecordFrame(record, tag.Bytes[3]).size());
    const int64_t needed = tag.FramesEnd - tag.RecordBytes + frame;
    return std::max<int64_t>(0, needed - static_cast<int64_t>(tag.Bytes.size()));
}

std::optional<std::vector<uint8_t>> RenderRecordTag(const RecordTag& tag, const std::optional<VolumeRecord>& record,
                                                    int64_t growBy)
{
    const std::vector<uint8_t>& old = tag.Bytes;
    const uint8_t major = old[3];
    std::vector<uint8_t> frames(old.begin(), old.begin() + tag.FramesEnd);
    const int64_t at = tag.RecordAt >= 0 ? tag.RecordAt : tag.FramesEnd;
    frames.erase(frames.begin() + at, frames.begin() + at + tag.RecordBytes);
    if (record) {
        const std::vector<uint8_t> frame = RecordFrame(*record, major);
        frames.insert(frames.begin() + at, frame.begin(), frame.end());
    }
    const int64_t size = static_cast<int64_t>(old.size()) + growBy;
    if (static_cast<int64_t>(frames.size()) > size)
        return std::nullopt;
    if (!record && frames.size() == 10 && size == 10 && tag.Record && tag.Record->TagAdded)
        return std::vector<uint8_t>{};
    frames.resize(static_cast<size_t>(size), 0);
    PutSize(&frames[6], static_cast<uint32_t>(size - 10), true);
    return frames;
}

std::vector<uint8_t> RenderUserTexts(const RecordTag& tag,
                                     const std::vector<std::pair<std::string, std::string>>& texts)
{
    const std::vector<uint8_t>& old = tag.Bytes;
    const uint8_t major = old[3];
    const auto sameText = [](std::string_view a, std::string_view b) {
        return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
                   return std::toupper(static_cast<unsigned char>(x)) == std::toupper(static_cast<unsigned char>(y));
               });
    };
    std::vector<uint8_t> frames(old.begin(), old.begin() + 10);
    for (int64_t at = 10; at < tag.FramesEnd;) {
        const uint8_t* frame = &old[static_cast<size_t>(at)];
        const int64_t size = major == 4 ? SynchsafeAt(frame + 4)
                                        : static_cast<int64_t>(uint32_t{frame[4]} << 24 | uint32_t{frame[5]} << 16 |
                                                               uint32_t{frame[6]} << 8 | frame[7]);
        const std::string_view body(reinterpret_cast<const char*>(frame + 10), static_cast<size_t>(size));
        bool replaced = false;
        if (std::string_view(reinterpret_cast<const char*>(frame), 4) == "TXXX" && !body.empty() &&
            (body[0] == 0 || body[0] == 3)) {
            const std::string_view description = body.substr(1, body.find('\0', 1) - 1);
            for (const auto& text : texts)
                replaced = replaced || sameText(description, text.first);
        }
        if (!replaced)
            frames.insert(frames.end(), frame, frame + 10 + size);
        at += 10 + size;
    }
    for (const auto& [description, value] : texts) {
        const std::vector<uint8_t> frame = UserTextFrame(description, value, major);
        frames.insert(frames.end(), frame.begin(), frame.end());
    }
    const size_t size = frames.size() > old.size() ? frames.size() + 1024 : old.size();
    frames.resize(size, 0);
    PutSize(&frames[6], static_cast<uint32_t>(size - 10), true);
    return frames;
}
