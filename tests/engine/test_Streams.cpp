// File streams: opening, refusing, lengths against independent decoders,
// source flags and the byte/time conversions.

#include "EngineFixture.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>

using enginetest::DecodedFrames;
using enginetest::EngineTest;
using enginetest::WavFrames;
using testsupport::Quote;
using enginetest::Sh;

namespace {

constexpr long long kMpegFrameSamples = 1152;

struct OpenedStream {
    HSTREAM handle;
    long long frames;  // our length in sample frames
    int channels;
};

OpenedStream OpenAndMeasure(const std::string& path, int channels) {
    const HSTREAM handle = BASS_StreamCreateFile(FALSE, path.c_str(), 0, 0, 0);
    EXPECT_NE(handle, 0u) << path << ": error " << BASS_ErrorGetCode();
    const QWORD bytes = BASS_StreamGetLength(handle);
    EXPECT_NE(bytes, static_cast<QWORD>(-1));
    EXPECT_EQ(bytes % (2 * channels), 0u) << "length is not whole frames";
    return {handle, static_cast<long long>(bytes / (2 * channels)), channels};
}

} // namespace

TEST_F(EngineTest, Mp3LengthsMatchMpg123WithinOneFrame) {
    REQUIRE_TOOL("lame");
    REQUIRE_TOOL("mpg123");
    struct Case {
        const char* name;
        int rate;
        int channels;
        const char* lame;
        double seconds;
    };
    // Without lame's Info tag the length is estimated from the file size;
    // the long ones catch an estimate that drifts with the frame count.
    const Case cases[] = {
        {"cbr128.mp3", 44100, 2, "-b 128", 3.3},
        {"vbr.mp3", 44100, 2, "-V 2", 3.3},
        {"mpeg2_mono.mp3", 22050, 1, "-b 32 -m m", 3.3},
        {"mpeg25_mono.mp3", 11025, 1, "-b 16 -m m", 3.3},
        {"no_info_tag.mp3", 48000, 2, "-b 160 -t", 3.3},
        {"no_info_mono64.mp3", 44100, 1, "-b 64 -t", 20.0},
        {"no_info_id3v1.mp3", 32000, 2, "-b 96 -t --tt Title --id3v1-only", 20.0},
        {"no_info_mpeg2.mp3", 24000, 2, "-b 40 -t", 20.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir_.File(c.name);
        testsupport::MakeMp3(path, c.seconds, c.rate, c.channels, c.lame);
        const long long reference = DecodedFrames("mpg123 -q -w %out %in", path, path + ".wav");
        ASSERT_GT(reference, 0);
        const OpenedStream stream = OpenAndMeasure(path, c.channels);
        EXPECT_NEAR(stream.frames, reference, kMpegFrameSamples);
        EXPECT_EQ(BASS_ChannelGetFlags(stream.handle), c.channels == 1 ? DWORD{BASS_SAMPLE_MONO} : 0u);
        BASS_StreamFree(stream.handle);
    }
}

TEST_F(EngineTest, LayerTwoAndMp3BehindALargeId3v2TagAreStreams) {
    REQUIRE_TOOL("ffmpeg");
    REQUIRE_TOOL("lame");
    const std::string source = dir_.File("tone.wav");
    ASSERT_EQ(Sh("sox -n -r 44100 -c 2 -b 16 " + Quote(source) + " synth 2 sine 300").exitCode, 0);

    const std::string layer2 = dir_.File("layer2.mp2");
    ASSERT_EQ(Sh("ffmpeg -loglevel error -y -i " + Quote(source) + " -c:a mp2 -b:a 192k " + Quote(layer2)).exitCode, 0);
    const long long reference = DecodedFrames("mpg123 -q -w %out %in", layer2, layer2 + ".wav");
    const OpenedStream stream = OpenAndMeasure(layer2, 2);
    EXPECT_NEAR(stream.frames, reference, kMpegFrameSamples);

    // A 200 KB frame in an ID3v2 tag is skipped by the tag's size, not
    // searched through as garbage.
    const std::string plain = dir_.File("plain.mp3");
    ASSERT_EQ(Sh("lame --quiet -b 128 " + Quote(source) + " " + Quote(plain)).exitCode, 0);
    const uint32_t frameSize = 200000;
    const uint32_t tagSize = 10 + frameSize;
    std::vector<uint8_t> tagged = {'I', 'D', '3', 3, 0, 0,
                                   static_cast<uint8_t>((tagSize >> 21) & 0x7F), static_cast<uint8_t>((tagSize >> 14) & 0x7F),
                                   static_cast<uint8_t>((tagSize >> 7) & 0x7F), static_cast<uint8_t>(tagSize & 0x7F),
                                   'P', 'R', 'I', 'V',
                                   static_cast<uint8_t>(frameSize >> 24), static_cast<uint8_t>(frameSize >> 16),
                                   static_cast<uint8_t>(frameSize >> 8), static_cast<uint8_t>(frameSize), 0, 0};
    tagged.resize(tagged.size() + frameSize, 0xFF);  // sync-like bytes inside the tag
    const std::vector<uint8_t> audio = testsupport::ReadBytes(plain);
    tagged.insert(tagged.end(), audio.begin(), audio.end());
    const std::string taggedPath = dir_.File("tagged.mp3");
    testsupport::WriteBytes(taggedPath, tagged);
    const HSTREAM handle = BASS_StreamCreateFile(FALSE, taggedPath.c_str(), 0, 0, 0);
    EXPECT_NE(handle, 0u) << "error " << BASS_ErrorGetCode();
    EXPECT_NEAR(static_cast<double>(BASS_StreamGetLength(handle)) / 176400.0, 2.0, 0.03);
}

TEST_F(EngineTest, OggAndWavLengthsMatchSox) {
    REQUIRE_TOOL("oggenc");
    REQUIRE_TOOL("sox");
    const std::string source = dir_.File("tone.wav");
    ASSERT_EQ(Sh("sox -n -r 32000 -c 2 -b 16 " + Quote(source) + " synth 2.345 sine 500").exitCode, 0);
    const std::string ogg = dir_.File("tone.ogg");
    ASSERT_EQ(Sh("oggenc -Q -q 3 -o " + Quote(ogg) + " " + Quote(source)).exitCode, 0);

    const OpenedStream wav = OpenAndMeasure(source, 2);
    EXPECT_EQ(wav.frames, WavFrames(source));
    EXPECT_EQ(BASS_ChannelGetFlags(wav.handle), 0u);

    const OpenedStream vorbis = OpenAndMeasure(ogg, 2);
    EXPECT_NEAR(vorbis.frames, DecodedFrames("sox %in %out", ogg, ogg + ".wav"), kMpegFrameSamples);
    EXPECT_NEAR(BASS_ChannelBytes2Seconds(vorbis.handle, BASS_StreamGetLength(vorbis.handle)), 2.345f, 0.001f);
}

TEST_F(EngineTest, AProgramThatEndsWithStreamsOpenExitsCleanly) {
    REQUIRE_TOOL("oggenc");
    REQUIRE_TOOL("sox");
    const std::string wav = dir_.File("tone.wav");
    ASSERT_EQ(Sh("sox -n -r 32000 -c 2 -b 16 " + Quote(wav) + " synth 0.5 sine 500").exitCode, 0);
    const std::string ogg = dir_.File("tone.ogg");
    ASSERT_EQ(Sh("oggenc -Q -q 3 -o " + Quote(ogg) + " " + Quote(wav)).exitCode, 0);
    // The library frees what is still open as the program ends; the
    // decoders' libraries, bound when first needed, must still be there.
    EXPECT_EXIT(
        {
            if (!BASS_StreamCreateFile(FALSE, wav.c_str(), 0, 0, 0) || !BASS_StreamCreateFile(FALSE, ogg.c_str(), 0, 0, 0))
                std::_Exit(3);
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(EngineTest, MonoSourcesAreFlaggedAndEightBitOnesDecodeTo16Bits) {
    REQUIRE_TOOL("sox");
    const std::string mono8 = dir_.File("mono8.wav");
    ASSERT_EQ(Sh("sox -n -r 8000 -c 1 -b 8 -e unsigned-integer " + Quote(mono8) + " synth 0.5 sine 300").exitCode, 0);
    const OpenedStream stream = OpenAndMeasure(mono8, 1);
    // The flags describe the channel's own samples, which are 16-bit.
    EXPECT_EQ(BASS_ChannelGetFlags(stream.handle), DWORD{BASS_SAMPLE_MONO});
    // Bytes are those of the decoded 16-bit mono PCM: 2 per frame.
    EXPECT_EQ(BASS_StreamGetLength(stream.handle), 4000u * 2);
}

namespace {

// Ogg's page checksum: CRC-32, polynomial 0x04C11DB7, not reflected, over
// the page with its checksum field zeroed.
void ResealOggPage(std::vector<uint8_t>& file, size_t page) {
    const size_t segments = file[page + 26];
    size_t length = 27 + segments;
    for (size_t i = 0; i < segments; ++i)
        length += file[page + 27 + i];
    std::fill_n(file.begin() + static_cast<long>(page) + 22, 4, 0);
    uint32_t crc = 0;
    for (size_t i = page; i < page + length; ++i) {
        crc ^= static_cast<uint32_t>(file[i]) << 24;
        for (int bit = 0; bit < 8; ++bit)
            crc = crc & 0x80000000u ? crc << 1 ^ 0x04C11DB7u : crc << 1;
    }
    for (int i = 0; i < 4; ++i)
        file[page + 22 + static_cast<size_t>(i)] = static_cast<uint8_t>(crc >> (8 * i));
}

size_t Find(const std::vector<uint8_t>& file, const std::string& text, size_t from = 0) {
    const auto found = std::search(file.begin() + static_cast<long>(from), file.end(), text.begin(), text.end());
    return found == file.end() ? std::string::npos : static_cast<size_t>(found - file.begin());
}

} // namespace

TEST_F(EngineTest, LengthsAreNeverTakenFromHeaderFieldsTheFileCannotHold) {
    REQUIRE_TOOL("lame");
    REQUIRE_TOOL("oggenc");
    const std::string source = dir_.File("source.wav");
    ASSERT_EQ(Sh("sox -n -r 44100 -c 2 -b 16 " + Quote(source) + " synth 3.3 sine 440").exitCode, 0);

    // An MP3 whose Info frame claims 2^31 - 1 frames (about 56 million s).
    const std::string mp3 = dir_.File("clean.mp3");
    ASSERT_EQ(Sh("lame --quiet -b 128 " + Quote(source) + " " + Quote(mp3)).exitCode, 0);
    std::vector<uint8_t> bytes = testsupport::ReadBytes(mp3);
    const size_t info = Find(bytes, "Info");
    ASSERT_LT(info, 200u);
    ASSERT_TRUE(bytes[info + 7] & 1) << "no frame count in the Info frame";
    for (size_t i = 0; i < 4; ++i)
        bytes[info + 8 + i] = i == 0 ? 0x7F : 0xFF;
    const std::string hostileMp3 = dir_.File("frame count.mp3");
    testsupport::WriteBytes(hostileMp3, bytes);
    const OpenedStream clean = OpenAndMeasure(mp3, 2);
    const OpenedStream hostile = OpenAndMeasure(hostileMp3, 2);
    // Counted from the frames, without the encoder's delay and padding
    // that came with the count: at most two frames more.
    EXPECT_NEAR(hostile.frames, clean.frames, 2 * kMpegFrameSamples);

    // Ogg Vorbis whose last granule position is far beyond what the file
    // holds: the length is unknown rather than that.
    const std::string ogg = dir_.File("clean.ogg");
    ASSERT_EQ(Sh("oggenc -Q -q 3 -o " + Quote(ogg) + " " + Quote(source)).exitCode, 0);
    bytes = testsupport::ReadBytes(ogg);
    size_t last = 0;
    for (size_t at = Find(bytes, "OggS"); at != std::string::npos; at = Find(bytes, "OggS", at + 1))
        last = at;
    for (size_t i = 0; i < 8; ++i)
        bytes[last + 6 + i] = i == 7 ? 0x00 : i == 6 ? 0x7F : 0xFF;
    ResealOggPage(bytes, last);
    const std::string hostileOgg = dir_.File("granule.ogg");
    testsupport::WriteBytes(hostileOgg, bytes);
    const HSTREAM granule = BASS_StreamCreateFile(FALSE, hostileOgg.c_str(), 0, 0, 0);
    ASSERT_NE(granule, 0u) << BASS_ErrorGetCode();
    EXPECT_EQ(BASS_StreamGetLength(granule), static_cast<QWORD>(-1));

    // Ogg Vorbis whose rate field is 0xFFFFFFFF: no negative length, no
    // playback that never ends; the stream is refused.
    bytes = testsupport::ReadBytes(ogg);
    const size_t rate = Find(bytes, "\x01vorbis") + 12;
    ASSERT_LT(rate, 100u);
    std::fill_n(bytes.begin() + static_cast<long>(rate), 4, 0xFF);
    ResealOggPage(bytes, 0);
    const std::string badRate = dir_.File("rate.ogg");
    testsupport::WriteBytes(badRate, bytes);
    EXPECT_EQ(BASS_StreamCreateFile(FALSE, badRate.c_str(), 0, 0, 0), 0u);
    EXPECT_EQ(BASS_ErrorGetCode(), DWORD{BASS_ERROR_FILEFORM});
}

TEST_F(EngineTest, ConversionsAgreeAndGiveWholeFrames) {
    REQUIRE_TOOL("sox");
    const std::string stereo = dir_.File("stereo.wav");
    const std::string mono = dir_.File("mono.wav");
    ASSERT_EQ(Sh("sox -n -r 44100 -c 2 -b 16 " + Quote(stereo) + " synth 1 sine 300").exitCode, 0);
    ASSERT_EQ(Sh("sox -n -r 22050 -c 1 -b 16 " + Quote(mono) + " synth 1 sine 300").exitCode, 0);
    const HSTREAM s = BASS_StreamCreateFile(FALSE, stereo.c_str(), 0, 0, 0);
    const HSTREAM m = BASS_StreamCreateFile(FALSE, mono.c_str(), 0, 0, 0);
    ASSERT_NE(s, 0u);
    ASSERT_NE(m, 0u);

    EXPECT_EQ(BASS_ChannelSeconds2Bytes(s, 1.0f), 176400u);
    EXPECT_EQ(BASS_ChannelSeconds2Bytes(m, 1.0f), 44100u);
    EXPECT_FLOAT_EQ(BASS_ChannelBytes2Seconds(s, 176400), 1.0f);
    EXPECT_FLOAT_EQ(BASS_ChannelBytes2Seconds(m, 44100), 1.0f);
    // Times that arrive as ms / 1000 in single precision land on the
    // intended frame, and always on a frame boundary.
    for (int ms : {1, 7, 300, 700, 999, 1234567}) {
        const float seconds = static_cast<float>(ms) / 1000.0f;
        const QWORD bytes = BASS_ChannelSeconds2Bytes(s, seconds);
        EXPECT_EQ(bytes % 4, 0u);
        EXPECT_EQ(bytes / 4, static_cast<QWORD>(std::llround(ms * 44.1))) << ms;
        EXPECT_NEAR(BASS_ChannelBytes2Seconds(s, bytes), seconds, 1.0 / 44100);
        EXPECT_EQ(BASS_ChannelSeconds2Bytes(m, seconds) % 2, 0u);
    }
    EXPECT_EQ(BASS_ChannelSeconds2Bytes(s, -1.0f), static_cast<QWORD>(-1));
    EXPECT_EQ(BASS_ErrorGetCode(), DWORD{BASS_ERROR_ILLPARAM});
}

TEST_F(EngineTest, FilesThatAreNoStreamAreRefusedWithACode) {
    const std::string missing = dir_.File("missing.mp3");
    EXPECT_EQ(BASS_StreamCreateFile(FALSE, missing.c_str(), 0, 0, 0), 0u);
    EXPECT_EQ(BASS_ErrorGetCode(), DWORD{BASS_ERROR_FILEOPEN});

    const std::string empty = dir_.File("empty.mp3");
    testsupport::WriteBytes(empty, {});
    EXPECT_EQ(BASS_StreamCreateFile(FALSE, empty.c_str(), 0, 0, 0), 0u);
    EXPECT_EQ(BASS_ErrorGetCode(), DWORD{BASS_ERROR_FILEFORM});

    // Text with stray sync-like bytes must not pass for MPEG audio.
    const std::string text = dir_.File("notes.mp3");
    std::vector<uint8_t> noise(100000);
    for (size_t i = 0; i < noise.size(); ++i)
        noise[i] = static_cast<uint8_t>("The quick brown fox jumps over the lazy dog. "[i % 45]);
    testsupport::WriteBytes(text, noise);
    EXPECT_EQ(BASS_StreamCreateFile(FALSE, text.c_str(), 0, 0, 0), 0u);
    EXPECT_EQ(BASS_ErrorGetCode(), DWORD{BASS_ERROR_FILEFORM});

    const std::string brokenOgg = dir_.File("broken.ogg");
    testsupport::WriteBytes(brokenOgg, {'O', 'g', 'g', 'S', 0, 2, 0, 0});
    EXPECT_EQ(BASS_StreamCreateFile(FALSE, brokenOgg.c_str(), 0, 0, 0), 0u);
    EXPECT_EQ(BASS_ErrorGetCode(), DWORD{BASS_ERROR_FILEFORM});

    EXPECT_EQ(BASS_StreamCreateFile(FALSE, nullptr, 0, 0, 0), 0u);
    EXPECT_EQ(BASS_ErrorGetCode(), DWORD{BASS_ERROR_ILLPARAM});
}

TEST_F(EngineTest, WrongKindsOfHandleAreRefusedHarmlessly) {
    REQUIRE_TOOL("sox");
    const std::string wav = dir_.File("short.wav");
    ASSERT_EQ(Sh("sox -n -r 44100 -c 2 -b 16 " + Quote(wav) + " synth 0.2 sine 300").exitCode, 0);
    const HSTREAM stream = BASS_StreamCreateFile(FALSE, wav.c_str(), 0, 0, 0);
    ASSERT_NE(stream, 0u);

    BASS_MusicFree(stream);  // not a music: nothing happens
    EXPECT_EQ(BASS_ErrorGetCode(), DWORD{BASS_ERROR_HANDLE});
    EXPECT_EQ(BASS_ChannelGetFlags(stream), 0u);

    BASS_StreamFree(stream);
    EXPECT_EQ(BASS_ErrorGetCode(), DWORD{BASS_OK});
    EXPECT_EQ(BASS_ChannelGetFlags(stream), static_cast<DWORD>(-1));
    EXPECT_EQ(BASS_ErrorGetCode(), DWORD{BASS_ERROR_HANDLE});
    BASS_StreamFree(stream);
    EXPECT_EQ(BASS_StreamGetLength(0), static_cast<QWORD>(-1));
    EXPECT_EQ(BASS_ChannelGetPosition(12345), static_cast<QWORD>(-1));
    EXPECT_FALSE(BASS_StreamPlay(12345, FALSE, 0));
}
