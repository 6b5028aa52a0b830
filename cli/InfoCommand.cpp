// info: what the player knows of a file, from the reader its extension
// selects, from the player's stream information, and from opening it.
#include <cstdio>

#include "analysis/AudioFile.h"
#include "analysis/Errors.h"
#include "analysis/MPEGaudio.h"
#include "analysis/OggVorbis.h"
#include "analysis/WAVfile.h"
#include "analysis/WMAfile.h"
#include "cli/Commands.h"
#include "cli/ConsoleUi.h"
#include "cli/Report.h"
#include "cli/TagReport.h"
#include "playback/BASSChannel.h"

namespace {

using V = ReportValue;

V DescribeMpeg(const TMPEGaudio& reader)
{
    const VBRData& vbr = reader.VBR();
    V vbrObject = V::Object();
    vbrObject.Add("Found", V::Boolean(vbr.Found))
        .Add("ID", V::Text(vbr.ID))
        .Add("Frames", V::Integer(vbr.Frames))
        .Add("Bytes", V::Integer(vbr.Bytes))
        .Add("Scale", V::Integer(vbr.Scale))
        .Add("VendorID", V::Text(vbr.VendorID));
    const MPEGFrame& frame = reader.Frame();
    V frameObject = V::Object();
    frameObject.Add("Found", V::Boolean(frame.Found))
        .Add("Position", V::Integer(frame.Position))
        .Add("Size", V::Integer(frame.Size))
        .Add("VersionIndex", V::Integer(frame.VersionIndex))
        .Add("LayerIndex", V::Integer(frame.LayerIndex))
        .Add("BitRateIndex", V::Integer(frame.BitRateIndex))
        .Add("SampleRateIndex", V::Integer(frame.SampleRateIndex))
        .Add("Padding", V::Boolean(frame.Padding))
        .Add("ModeIndex", V::Integer(frame.ModeIndex));
    V object = V::Object();
    object.Add("FileLength", V::Integer(reader.FileLength()))
        .Add("EncoderText", V::Text(reader.EncoderText()))
        .Add("SampleRate", V::Integer(reader.SampleRate()))
        .Add("BitRate", V::Integer(reader.BitRate()))
        .Add("ChannelMode", V::Text(reader.ChannelMode()))
        .Add("Duration", V::Number(reader.Duration()))
        .Add("Valid", V::Boolean(reader.Valid()))
        .Add("VBR", std::move(vbrObject))
        .Add("Frame", std::move(frameObject))
        .Add("ID3v1", DescribeId3v1(reader.ID3v1()))
        .Add("ID3v2", DescribeId3v2(reader.ID3v2()));
    return object;
}

V DescribeOgg(const TOggVorbis& reader)
{
    V object = V::Object();
    object.Add("FileSize", V::Integer(reader.FileSize()))
        .Add("Channels", V::Integer(reader.Channels()))
        .Add("SampleRate", V::Integer(reader.SampleRate()))
        .Add("BitRateNominal", V::Integer(reader.BitRateNominal()))
        .Add("Samples", V::Integer(reader.Samples()))
        .Add("ID3v2Size", V::Integer(reader.ID3v2Size()))
        .Add("Title", V::Text(reader.Title()))
        .Add("Artist", V::Text(reader.Artist()))
        .Add("Album", V::Text(reader.Album()))
        .Add("Date", V::Text(reader.Date()))
        .Add("Genre", V::Text(reader.Genre()))
        .Add("Comment", V::Text(reader.Comment()))
        .Add("Track", V::Integer(reader.Track()))
        .Add("Vendor", V::Text(reader.Vendor()))
        .Add("Duration", V::Number(reader.Duration()))
        .Add("BitRate", V::Integer(reader.BitRate()))
        .Add("Valid", V::Boolean(reader.Valid()));
    return object;
}

V DescribeWma(const TWMAfile& reader)
{
    V object = V::Object();
    object.Add("Valid", V::Boolean(reader.Valid()))
        .Add("FileSize", V::Integer(reader.FileSize()))
        .Add("Channels", V::Integer(reader.Channels()))
        .Add("SampleRate", V::Integer(reader.SampleRate()))
        .Add("Duration", V::Number(reader.Duration()))
        .Add("BitRate", V::Integer(reader.BitRate()))
        .Add("Title", V::Text(reader.Title()))
        .Add("Artist", V::Text(reader.Artist()))
        .Add("Album", V::Text(reader.Album()))
        .Add("Year", V::Text(reader.Year()))
        .Add("Genre", V::Text(reader.Genre()))
        .Add("Comment", V::Text(reader.Comment()))
        .Add("Track", V::Integer(reader.Track()));
    return object;
}

V DescribeWav(const TWAVfile& reader)
{
    V object = V::Object();
    object.Add("Valid", V::Boolean(reader.Valid()))
        .Add("Channels", V::Integer(reader.Channels()))
        .Add("SampleRate", V::Integer(reader.SampleRate()))
        .Add("BitsPerSample", V::Integer(reader.BitsPerSample()))
        .Add("FileSize", V::Integer(reader.FileSize()))
        .Add("Duration", V::Number(reader.Duration()));
    return object;
}

V DescribeStreamInfo(const TStreamInfo& info)
{
    V object = V::Object();
    object.Add("FileName", V::Text(info.FileName))
        .Add("FileSize", V::Integer(info.FileSize))
        .Add("SampleRate", V::Integer(info.SampleRate))
        .Add("BitRate", V::Integer(info.BitRate))
        .Add("Duration", V::Integer(info.Duration))
        .Add("Channels", V::Integer(info.Channels))
        .Add("Title", V::Text(info.Title))
        .Add("Artist", V::Text(info.Artist))
        .Add("Album", V::Text(info.Album))
        .Add("Year", V::Text(info.Year))
        .Add("Genre", V::Text(info.Genre))
        .Add("GenreID", V::Integer(info.GenreID))
        .Add("Track", V::Integer(info.Track))
        .Add("Comment", V::Text(info.Comment));
    return object;
}

// The reader the player would choose for the file, run on it: its name,
// the Analyze result and its fields (all null without a reader).
void AddAnalysis(V& report, const std::string& fileName)
{
    V name, analyze, analysis;
    switch (FormatOfFile(fileName)) {
    case AudioFormat::MPEG: {
        TMPEGaudio reader;
        name = V::Text("TMPEGaudio");
        analyze = V::Boolean(reader.Analyze(fileName));
        analysis = DescribeMpeg(reader);
        break;
    }
    case AudioFormat::OggVorbis: {
        TOggVorbis reader;
        name = V::Text("TOggVorbis");
        analyze = V::Boolean(reader.Analyze(fileName));
        analysis = DescribeOgg(reader);
        break;
    }
    case AudioFormat::WMA: {
        TWMAfile reader;
        name = V::Text("TWMAfile");
        analyze = V::Boolean(reader.Analyze(fileName));
        analysis = DescribeWma(reader);
        break;
    }
    case AudioFormat::WAV: {
        TWAVfile reader;
        name = V::Text("TWAVfile");
        analyze = V::Boolean(reader.Analyze(fileName));
        analysis = DescribeWav(reader);
        break;
    }
    case AudioFormat::Module:
    case AudioFormat::Unknown: break;
    }
    report.Add("analyser", std::move(name)).Add("analyze", std::move(analyze)).Add("analysis", std::move(analysis));
}

} // namespace

int RunInfoCommand(const Arguments& arguments)
{
    Arguments args = arguments;
    bool json = TakeFlag(args, "--json");
    RejectUnknownOptions(args);
    if (args.size() != 1)
        throw UsageError("info takes one FILE");
    const std::string& fileName = args[0];
    // A file the readers cannot read would be described as a file with no
    // audio and no tags, which is not what it is.
    RequireReadableFile(fileName);

    V report = V::Object();
    report.Add("file", V::Text(fileName));
    AddAnalysis(report, fileName);

    ConsoleUi ui;
    TBASSChannel player(&ui);
    // Opening describes the file first: what it described is the stream
    // information, so the file is analysed once for both.
    const bool opened = player.PlayerReady() && player.Open(fileName);
    TStreamInfo info;
    bool infoOk = true;
    V playLength;
    if (opened) {
        info = player.StreamInfo();
        playLength = V::Integer(player.PlayLength());
    } else {
        infoOk = player.GetStreamInfo(fileName, info);
    }
    player.Close();
    report.Add("streamInfo", DescribeStreamInfo(info)).Add("streamInfoOk", V::Boolean(infoOk));
    report.Add("playLength", std::move(playLength));

    std::fputs((json ? FormatJson(report) : FormatText(report)).c_str(), stdout);
    return 0;
}
