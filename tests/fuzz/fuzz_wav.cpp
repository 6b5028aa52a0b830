// TWAVfile over any bytes: a valid file has one or two channels, no length
// is negative or infinite, and a reader used before describes this file as a
// fresh one does.
#include <cmath>

#include "Describe.h"
#include "FuzzSupport.h"
#include "Originals.h"
#include "analysis/WAVfile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static fuzz::MemoryFile file("wav");
    static fuzz::MemoryFile earlier("earlier");
    static const bool prepared = (earlier.Assign(originals::Wav()), true);
    (void)prepared;
    file.Assign(data, size);

    TWAVfile wav;
    wav.Analyze(file.Path());
    const std::string described = fuzz::Describe(wav);
    FUZZ_CHECK(std::isfinite(wav.Duration()) && wav.Duration() >= 0, described);
    // A rate or sample size of 0 in a valid header leaves the length free,
    // but never negative nor infinite.
    if (wav.Valid())
        FUZZ_CHECK(wav.Channels() == 1 || wav.Channels() == 2, described);

    TWAVfile reused;
    reused.Analyze(earlier.Path());
    reused.Analyze(file.Path());
    FUZZ_CHECK(fuzz::Describe(reused) == described, described + "\n  after another file: " + fuzz::Describe(reused));
    return 0;
}
