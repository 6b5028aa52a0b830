// TMPEGaudio over any bytes. Besides the sanitizers' findings: the results
// that claim a stream obey the reader's own bounds, texts are UTF-8, and a
// reader that described another file before (one with both tags and a VBR
// header) describes this one exactly as a fresh reader does.
#include "Describe.h"
#include "FuzzSupport.h"
#include "Originals.h"
#include "analysis/MPEGaudio.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static fuzz::MemoryFile file("mpeg");
    static fuzz::MemoryFile earlier("earlier");
    static const bool prepared = (earlier.Assign(originals::XingMp3()), true);
    (void)prepared;
    file.Assign(data, size);

    TMPEGaudio mpeg;
    mpeg.Analyze(file.Path());
    const std::string described = fuzz::Describe(mpeg);
    if (mpeg.Valid()) {
        FUZZ_CHECK(mpeg.Frame().Found, described);
        FUZZ_CHECK(mpeg.BitRate() >= 8 && mpeg.BitRate() <= 448, described);
        FUZZ_CHECK(mpeg.Duration() >= 0.1, described);
    }
    if (mpeg.Frame().Found) {
        FUZZ_CHECK(mpeg.Frame().Position >= 0 && mpeg.Frame().Position < TMPEGaudio::kSearchPositions, described);
        FUZZ_CHECK(mpeg.FileLength() == int64_t(size), described);
        FUZZ_CHECK(mpeg.SampleRate() > 0, described);
    } else {
        FUZZ_CHECK(mpeg.FileLength() == 0 && !mpeg.ID3v1().Exists() && !mpeg.ID3v2().Exists(), described);
    }
    FUZZ_CHECK_UTF8(mpeg.EncoderText());
    FUZZ_CHECK_UTF8(mpeg.VBR().VendorID);
    FUZZ_CHECK(mpeg.ID3v2().Size() >= 0 && mpeg.ID3v2().Size() <= int64_t(size), described);

    TMPEGaudio reused;
    reused.Analyze(earlier.Path());
    reused.Analyze(file.Path());
    FUZZ_CHECK(fuzz::Describe(reused) == described, described + "\n  after another file: " + fuzz::Describe(reused));
    return 0;
}
