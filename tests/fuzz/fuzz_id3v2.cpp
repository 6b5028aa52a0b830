// TID3v2 over any bytes: the size lies within the file, texts are UTF-8,
// and an object that held another tag (with kept frames) reads this one as
// a fresh object does. Parsed from the bytes in memory, it reads as from the
// file.
#include "Describe.h"
#include "FuzzSupport.h"
#include "Originals.h"
#include "analysis/ID3v2.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static fuzz::MemoryFile file("id3v2");
    static fuzz::MemoryFile earlier("earlier");
    static const bool prepared = (earlier.Assign(originals::XingMp3()), true);
    (void)prepared;
    file.Assign(data, size);

    TID3v2 tag;
    const bool read = tag.ReadTag(file.Path());
    const std::string described = fuzz::Describe(tag);
    FUZZ_CHECK(tag.Size() >= 0 && tag.Size() <= int64_t(size), described);
    if (tag.Exists())
        FUZZ_CHECK(tag.Size() == 0 || tag.Size() >= 10, described);
    for (const std::string* text : {&tag.Title(), &tag.Artist(), &tag.Album(), &tag.Year(), &tag.Genre(),
                                    &tag.Comment()})
        FUZZ_CHECK_UTF8(*text);

    TID3v2 reused;
    reused.ReadTag(earlier.Path());
    reused.ReadTag(file.Path());
    FUZZ_CHECK(fuzz::Describe(reused) == described, described + "\n  after another tag: " + fuzz::Describe(reused));
    FUZZ_CHECK(reused.RenderTag() == tag.RenderTag(), "the tag rendered after another tag differs");

    TID3v2 parsed;
    FUZZ_CHECK(parsed.Parse({data, size}) == read, described);
    FUZZ_CHECK(fuzz::Describe(parsed) == described, described + "\n  parsed from the bytes: " + fuzz::Describe(parsed));
    FUZZ_CHECK(parsed.RenderTag() == tag.RenderTag(), "the tag parsed from the bytes renders otherwise");
    return 0;
}
