#include "AudioFile.h"

#include <algorithm>

#include "MPEGaudio.h"
#include "WAVfile.h"
#include "WMAfile.h"

namespace {

struct KnownExtension {
    const char* lower;
    AudioFormat format;
};

constexpr KnownExtension kKnownExtensions[] = {
    {"mp3", AudioFormat::MPEG}, {"ogg", AudioFormat::OggVorbis}, {"wav", AudioFormat::WAV},
    {"wma", AudioFormat::WMA},  {"mod", AudioFormat::Module},    {"xm", AudioFormat::Module},
    {"s3m", AudioFormat::Module}, {"it", AudioFormat::Module},
};

std::string LowerExtension(const std::string& fileName)
{
    const size_t dot = fileName.find_last_of('.');
    const size_t slash = fileName.find_last_of('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return {};
    std::string extension = fileName.substr(dot + 1);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c); });
    return extension;
}

// The descriptive texts, which every reader and tag offers under the same
// names; the year is passed in because the Ogg reader calls it the date.
template <class Described>
void CopyTexts(const Described& source, const std::string& year, AudioProperties& properties)
{
    properties.Title = source.Title();
    properties.Artist = source.Artist();
    properties.Album = source.Album();
    properties.Year = year;
    properties.Genre = source.Genre();
    properties.Track = source.Track();
    properties.Comment = source.Comment();
}

void DescribeMpeg(const std::string& fileName, AudioProperties& properties)
{
    TMPEGaudio mpeg;
    mpeg.Analyze(fileName);
    if (!(properties.Valid = mpeg.Valid()))
        return;
    properties.FileSize = mpeg.FileLength();
    properties.SampleRate = mpeg.SampleRate();
    properties.BitRate = mpeg.BitRate();
    properties.Duration = mpeg.Duration();
    properties.Channels = mpeg.ChannelMode() == "Mono" ? 1 : 2;
    if (mpeg.ID3v1().Exists()) {
        CopyTexts(mpeg.ID3v1(), mpeg.ID3v1().Year(), properties);
        properties.GenreID = mpeg.ID3v1().GenreID();
    } else if (mpeg.ID3v2().Exists()) {
        CopyTexts(mpeg.ID3v2(), mpeg.ID3v2().Year(), properties);
    }
}

void DescribeOgg(const std::string& fileName, AudioProperties& properties)
{
    TOggVorbis ogg;
    ogg.Analyze(fileName);
    properties.Comments = ogg.Comments();
    properties.CommentsWithinBounds = ogg.CommentHeaderWithinBounds();
    if (!(properties.Valid = ogg.Valid()))
        return;
    properties.FileSize = ogg.FileSize();
    properties.SampleRate = ogg.SampleRate();
    properties.BitRate = ogg.BitRate();
    properties.Duration = ogg.Duration();
    properties.Channels = ogg.Channels();
    CopyTexts(ogg, ogg.Date(), properties);
}

void DescribeWma(const std::string& fileName, AudioProperties& properties)
{
    TWMAfile wma;
    wma.Analyze(fileName);
    if (!(properties.Valid = wma.Valid()))
        return;
    properties.FileSize = wma.FileSize();
    properties.SampleRate = static_cast<uint32_t>(wma.SampleRate());
    properties.BitRate = wma.BitRate();
    properties.Duration = wma.Duration();
    properties.Channels = wma.Channels();
    CopyTexts(wma, wma.Year(), properties);
}

void DescribeWav(const std::string& fileName, AudioProperties& properties)
{
    TWAVfile wav;
    wav.Analyze(fileName);
    if (!(properties.Valid = wav.Valid()))
        return;
    properties.FileSize = wav.FileSize();
    properties.SampleRate = wav.SampleRate();
    properties.Duration = wav.Duration();
    properties.Channels = wav.Channels();
}

} // namespace

AudioFormat FormatOfFile(const std::string& fileName)
{
    const std::string extension = LowerExtension(fileName);
    for (const KnownExtension& known : kKnownExtensions)
        if (extension == known.lower)
            return known.format;
    return AudioFormat::Unknown;
}

const std::vector<std::string>& AudioFileExtensions()
{
    static const std::vector<std::string> extensions = [] {
        std::vector<std::string> all;
        for (const KnownExtension& known : kKnownExtensions)
            all.emplace_back(known.lower);
        return all;
    }();
    return extensions;
}

AudioProperties DescribeFile(const std::string& fileName)
{
    AudioProperties properties;
    properties.Format = FormatOfFile(fileName);
    switch (properties.Format) {
    case AudioFormat::MPEG: DescribeMpeg(fileName, properties); break;
    case AudioFormat::OggVorbis: DescribeOgg(fileName, properties); break;
    case AudioFormat::WMA: DescribeWma(fileName, properties); break;
    case AudioFormat::WAV: DescribeWav(fileName, properties); break;
    case AudioFormat::Module:
    case AudioFormat::Unknown: break;
    }
    return properties;
}
