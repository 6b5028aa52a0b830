// TOggVorbis over any bytes: no exception for a file that opens, a valid
// stream has one or two channels and a length, the decoded texts are UTF-8
// and within the reader's limit, and a reader used before for a fully tagged stream
// describes this file as a fresh one does.
#include "Describe.h"
#include "FuzzSupport.h"
#include "Originals.h"
#include "analysis/Errors.h"
#include "analysis/OggVorbis.h"

namespace {

std::string AnalyzeOrFail(TOggVorbis& ogg, const std::string& path)
{
    try {
        ogg.Analyze(path);
    } catch (const CorvellaError& error) {
        fuzz::Fail(__FILE__, __LINE__, "Analyze", std::string("error on a file that opens: ") + error.what());
    }
    return fuzz::Describe(ogg);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static fuzz::MemoryFile file("ogg");
    static fuzz::MemoryFile earlier("earlier");
    static const bool prepared = (earlier.Assign(originals::OggVorbis()), true);
    (void)prepared;
    file.Assign(data, size);

    TOggVorbis ogg;
    const std::string described = AnalyzeOrFail(ogg, file.Path());
    if (ogg.Valid()) {
        FUZZ_CHECK(ogg.FileSize() == int64_t(size), described);
        FUZZ_CHECK(ogg.ID3v2Size() >= 0 && ogg.ID3v2Size() <= int64_t(size), described);
        FUZZ_CHECK(ogg.Channels() == 1 || ogg.Channels() == 2, described);
        FUZZ_CHECK(ogg.Duration() > 0.1, described);
    }
    // The vendor text is kept as the file has it, undecoded.
    for (const std::string* text : {&ogg.Title(), &ogg.Artist(), &ogg.Album(), &ogg.Date(), &ogg.Genre(),
                                    &ogg.Comment()}) {
        FUZZ_CHECK_UTF8(*text);
        FUZZ_CHECK(text->size() <= 3 * 250u, described);
    }

    TOggVorbis reused;
    AnalyzeOrFail(reused, earlier.Path());
    const std::string again = AnalyzeOrFail(reused, file.Path());
    FUZZ_CHECK(again == described, described + "\n  after another file: " + again);
    return 0;
}
