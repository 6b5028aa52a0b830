// Writes the fuzz targets' starting inputs into OUTDIR/<target>/: the
// originals the mutation test starts from, small files made by the encoders
// the tests use (when they are installed), and for the cutter, descriptions
// of generated streams.
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "Originals.h"
#include "support/TestSupport.h"

namespace {

namespace fs = std::filesystem;
using originals::Bytes;

struct Corpus {
    fs::path root;

    void Add(const std::vector<std::string>& targets, const std::string& name, const Bytes& bytes) const
    {
        for (const std::string& target : targets) {
            fs::create_directories(root / target);
            testsupport::WriteBytes((root / target / name).string(), bytes);
        }
    }
};

// A tool-made file, or nothing when the tool is missing or fails.
Bytes Made(const std::string& tool, const std::string& commandLine, const std::string& path)
{
    if (!testsupport::HaveTool(tool))
        return {};
    if (testsupport::Run(commandLine).exitCode != 0)
        return {};
    return testsupport::ReadBytes(path);
}

Bytes Run(uint8_t op, std::array<uint8_t, 4> header, uint8_t count, uint8_t fill)
{
    return {op, header[0], header[1], header[2], header[3], uint8_t(count - 1), fill};
}

// The cutter's input: player answers, times as 1/32768ths of the length,
// offset in 50 ms steps, flags (1 tags on the parts, 2 ID3v2 in front,
// 4 ID3v1 behind, 8 first part to the audio end, 16 gapless), then the
// stream.
Bytes CutPlan(uint32_t lengthMs, int16_t bitRate, uint16_t start, uint16_t end, int8_t offset, uint8_t flags,
              const std::vector<Bytes>& stream)
{
    Bytes plan;
    originals::PutLE(plan, lengthMs, 4);
    originals::PutLE(plan, uint16_t(bitRate), 2);
    originals::PutLE(plan, start, 2);
    originals::PutLE(plan, end, 2);
    plan.push_back(uint8_t(offset));
    plan.push_back(flags);
    for (const Bytes& piece : stream)
        plan.insert(plan.end(), piece.begin(), piece.end());
    return plan;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_corpus OUTDIR\n");
        return 2;
    }
    const Corpus corpus{argv[1]};
    const std::vector<std::string> mpeg = {"mpeg", "frame_walk", "id3v1", "id3v2", "tag_roundtrip", "volume"};
    corpus.Add(mpeg, "xing-both-tags.mp3", originals::XingMp3());
    corpus.Add(mpeg, "info-id3v24-footer.mp3", originals::InfoMp3());
    corpus.Add(mpeg, "vbri-id3v22.mp3", originals::VbriMp3());
    corpus.Add({"mpeg", "frame_walk"}, "layer1-then-layer2.mp2", originals::LayerIandII());
    corpus.Add({"ogg", "id3v2"}, "vorbis-behind-id3v2.ogg", originals::OggVorbis());
    corpus.Add({"wma"}, "asf-all-descriptions.wma", originals::Wma());
    corpus.Add({"wav"}, "pcm16-stereo.wav", originals::Wav());

    testsupport::TempDir scratch;
    const std::string mp3 = scratch.File("lame.mp3");
    const std::string wav = scratch.File("sox.wav");
    if (testsupport::HaveTool("lame") && testsupport::HaveTool("sox")) {
        try {
            testsupport::MakeMp3(mp3, 0.3, 8000, 1, "-V 4 --tt Title --ta Artist --tg Rock --add-id3v2");
            corpus.Add(mpeg, "lame-vbr-8khz.mp3", testsupport::ReadBytes(mp3));
            const std::string protectedMp3 = scratch.File("lame-crc.mp3");
            testsupport::MakeMp3(protectedMp3, 0.3, 16000, 2, "-b 32 -p");
            corpus.Add({"volume"}, "lame-crc-mpeg2.mp3", testsupport::ReadBytes(protectedMp3));
        } catch (const std::exception& error) {
            std::fprintf(stderr, "no lame file: %s\n", error.what());
        }
    }
    const Bytes soxWav = Made("sox", "sox -n -r 8000 -c 1 -b 16 " + testsupport::Quote(wav) + " synth 0.05 sine 440", wav);
    if (!soxWav.empty())
        corpus.Add({"wav"}, "sox-8khz-mono.wav", soxWav);
    const std::string ogg = scratch.File("oggenc.ogg");
    const Bytes oggBytes = Made("oggenc", "oggenc -Q -c TITLE=Ogg -c ARTIST=Someone -o " + testsupport::Quote(ogg) + " "
                                              + testsupport::Quote(wav), ogg);
    if (!oggBytes.empty())
        corpus.Add({"ogg"}, "oggenc-8khz-mono.ogg", oggBytes);
    const std::string wma = scratch.File("ffmpeg.wma");
    const Bytes wmaBytes = Made("ffmpeg", "ffmpeg -loglevel error -y -i " + testsupport::Quote(wav)
                                              + " -c:a wmav2 -b:a 32k -metadata title=Wma -metadata author=Someone "
                                              + testsupport::Quote(wma), wma);
    if (!wmaBytes.empty())
        corpus.Add({"wma"}, "ffmpeg-wmav2.wma", wmaBytes);

    const std::array<uint8_t, 4> mpeg1l3 = {0xFF, 0xFB, 0x90, 0x44};   // 128 kbit/s, 44.1 kHz, 417 bytes
    const std::array<uint8_t, 4> mpeg1l3hi = {0xFF, 0xFB, 0xB0, 0x44}; // 192 kbit/s
    const std::array<uint8_t, 4> mpeg2l3 = {0xFF, 0xF3, 0x84, 0xC4};   // MPEG 2, mono, 64 kbit/s
    const std::array<uint8_t, 4> mpeg1l2 = {0xFF, 0xFD, 0x88, 0x40};   // Layer II, 128 kbit/s, 32 kHz
    corpus.Add({"cutter"}, "cbr-xing-tags-windows.plan",
               CutPlan(20000, 128, 8192, 24576, 0, 1 | 2 | 4,
                       {Run(4, mpeg1l3, 255, 0x55), Run(0, mpeg1l3, 255, 0xAA), Run(0, mpeg1l3, 255, 0)}));
    corpus.Add({"cutter"}, "mpeg2-garbage-between.plan",
               CutPlan(3000, 64, 4000, 20000, -2, 4,
                       {Run(0, mpeg2l3, 40, 0x11), Bytes{2, 6, 0xFF, 0xFB, 0x90, 0x44, 0, 0}, Run(0, mpeg2l3, 60, 0xFF)}));
    corpus.Add({"cutter"}, "vbr-mix-truncated-end.plan",
               CutPlan(9000, 160, 0, 16384, 10, 1 | 2 | 8,
                       {Run(12, mpeg1l3, 1, 0), Run(0, mpeg1l3hi, 100, 0x33), Run(1, mpeg1l3, 100, 0x44),
                        Bytes{3, 200}}));
    corpus.Add({"cutter"}, "gapless-lame-extension.plan",
               CutPlan(8000, 128, 4096, 20000, 0, 1 | 2 | 4 | 16,
                       {Run(4, mpeg1l3, 200, 0x21), Run(0, mpeg1l3, 120, 0x42)}));
    corpus.Add({"cutter"}, "layer2-offset-past-end.plan",
               CutPlan(4000, 128, 30000, 40000, 100, 1 | 4, {Run(0, mpeg1l2, 120, 0x77)}));
    return 0;
}
