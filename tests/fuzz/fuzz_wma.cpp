// TWMAfile over any bytes: a valid stream has plausible values, texts are
// UTF-8 and within the reader's limit, and a reader used before for a fully
// tagged file describes this one as a fresh one does.
#include "Describe.h"
#include "FuzzSupport.h"
#include "Originals.h"
#include "analysis/WMAfile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static fuzz::MemoryFile file("wma");
    static fuzz::MemoryFile earlier("earlier");
    static const bool prepared = (earlier.Assign(originals::Wma()), true);
    (void)prepared;
    file.Assign(data, size);

    TWMAfile wma;
    wma.Analyze(file.Path());
    const std::string described = fuzz::Describe(wma);
    if (wma.Valid()) {
        FUZZ_CHECK(wma.Channels() == 1 || wma.Channels() == 2, described);
        FUZZ_CHECK(wma.SampleRate() >= 8000 && wma.SampleRate() <= 96000, described);
        FUZZ_CHECK(wma.Duration() > 0, described);
    }
    for (const std::string* text : {&wma.Title(), &wma.Artist(), &wma.Album(), &wma.Year(), &wma.Genre(),
                                    &wma.Comment()}) {
        FUZZ_CHECK_UTF8(*text);
        FUZZ_CHECK(text->size() <= 3 * 250u, described);
    }

    TWMAfile reused;
    reused.Analyze(earlier.Path());
    reused.Analyze(file.Path());
    FUZZ_CHECK(fuzz::Describe(reused) == described, described + "\n  after another file: " + fuzz::Describe(reused));
    return 0;
}
