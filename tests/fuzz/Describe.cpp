#include "Describe.h"

#include <cstring>
#include <sstream>

#include "analysis/ID3v1.h"
#include "analysis/ID3v2.h"
#include "analysis/MPEGaudio.h"
#include "analysis/OggVorbis.h"
#include "analysis/WAVfile.h"
#include "analysis/WMAfile.h"

namespace fuzz {

namespace {

// Doubles by their bits: two readings of one file must agree exactly.
uint64_t Bits(double value)
{
    uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

} // namespace

std::string Describe(const TID3v1& tag)
{
    std::ostringstream out;
    out << "v1 " << tag.Exists() << ' ' << int(tag.VersionID()) << " [" << tag.Title() << "][" << tag.Artist()
        << "][" << tag.Album() << "][" << tag.Year() << "][" << tag.Comment() << "] " << int(tag.Track()) << ' '
        << int(tag.GenreID()) << " [" << tag.Genre() << ']';
    return out.str();
}

std::string Describe(const TID3v2& tag)
{
    std::ostringstream out;
    out << "v2 " << tag.Exists() << ' ' << int(tag.VersionID()) << ' ' << tag.Size() << " [" << tag.Title() << "]["
        << tag.Artist() << "][" << tag.Album() << "] " << int(tag.Track()) << " [" << tag.Year() << "]["
        << tag.Genre() << "][" << tag.Comment() << ']';
    return out.str();
}

std::string Describe(const TMPEGaudio& mpeg)
{
    std::ostringstream out;
    const MPEGFrame& frame = mpeg.Frame();
    const VBRData& vbr = mpeg.VBR();
    out << "mpeg " << mpeg.FileLength() << " [" << mpeg.EncoderText() << "] vbr " << vbr.Found << ' ' << vbr.ID
        << ' ' << vbr.Frames << ' ' << vbr.Bytes << ' ' << int(vbr.Scale) << " [" << vbr.VendorID << "] frame "
        << frame.Found << ' ' << frame.Position << ' ' << frame.Size << ' ' << int(frame.VersionIndex) << ' '
        << int(frame.LayerIndex) << ' ' << frame.BitRateIndex << ' ' << frame.SampleRateIndex << ' '
        << frame.Padding << ' ' << int(frame.ModeIndex) << ' ' << mpeg.SampleRate() << ' ' << mpeg.BitRate() << ' '
        << mpeg.ChannelMode() << ' ' << Bits(mpeg.Duration()) << ' ' << mpeg.Valid() << " | "
        << Describe(mpeg.ID3v1()) << " | " << Describe(mpeg.ID3v2());
    return out.str();
}

std::string Describe(const TOggVorbis& ogg)
{
    std::ostringstream out;
    out << "ogg " << ogg.FileSize() << ' ' << int(ogg.Channels()) << ' ' << ogg.SampleRate() << ' '
        << ogg.BitRateNominal() << ' ' << ogg.Samples() << ' ' << ogg.ID3v2Size() << " [" << ogg.Title() << "]["
        << ogg.Artist() << "][" << ogg.Album() << "][" << ogg.Date() << "][" << ogg.Genre() << "]["
        << ogg.Comment() << "] " << ogg.Track() << " [" << ogg.Vendor() << "] " << Bits(ogg.Duration()) << ' '
        << ogg.BitRate() << ' ' << ogg.Valid();
    return out.str();
}

std::string Describe(const TWMAfile& wma)
{
    std::ostringstream out;
    out << "wma " << wma.Valid() << ' ' << wma.FileSize() << ' ' << int(wma.Channels()) << ' ' << wma.SampleRate()
        << ' ' << Bits(wma.Duration()) << ' ' << wma.BitRate() << " [" << wma.Title() << "][" << wma.Artist()
        << "][" << wma.Album() << "][" << wma.Year() << "][" << wma.Genre() << "][" << wma.Comment() << "] "
        << wma.Track();
    return out.str();
}

std::string Describe(const TWAVfile& wav)
{
    std::ostringstream out;
    out << "wav " << wav.Valid() << ' ' << int(wav.Channels()) << ' ' << wav.SampleRate() << ' '
        << int(wav.BitsPerSample()) << ' ' << wav.FileSize() << ' ' << Bits(wav.Duration());
    return out.str();
}

} // namespace fuzz
