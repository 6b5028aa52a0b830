// TID3v1 over any bytes: texts are UTF-8 and no longer than 30 Latin-1
// characters (4 for the year), the genre text is the table's entry for the
// number or empty past the table's end, and an object that held another
// tag before reads this one as a fresh object does. Parsed from the bytes
// in memory, it reads as from the file.
#include "Describe.h"
#include "FuzzSupport.h"
#include "Originals.h"
#include "analysis/ID3v1.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static fuzz::MemoryFile file("id3v1");
    static fuzz::MemoryFile earlier("earlier");
    static const bool prepared = (earlier.Assign(originals::XingMp3()), true);
    (void)prepared;
    file.Assign(data, size);

    TID3v1 tag;
    const bool read = tag.ReadTag(file.Path());
    const std::string described = fuzz::Describe(tag);
    FUZZ_CHECK(read == (size >= 128), described);
    for (const std::string* text : {&tag.Title(), &tag.Artist(), &tag.Album(), &tag.Comment()}) {
        FUZZ_CHECK_UTF8(*text);
        FUZZ_CHECK(text->size() <= 2 * 30u, described);
    }
    FUZZ_CHECK(tag.Year().size() <= 2 * 4u, described);
    if (tag.GenreID() < GenreNames.size())
        FUZZ_CHECK(tag.Genre() == GenreNames[tag.GenreID()], described);
    else
        FUZZ_CHECK(tag.Genre().empty(), described);

    TID3v1 reused;
    reused.ReadTag(earlier.Path());
    reused.ReadTag(file.Path());
    FUZZ_CHECK(fuzz::Describe(reused) == described, described + "\n  after another tag: " + fuzz::Describe(reused));

    TID3v1 parsed;
    FUZZ_CHECK(parsed.Parse({data, size}) == read, described);
    FUZZ_CHECK(fuzz::Describe(parsed) == described, described + "\n  parsed from the bytes: " + fuzz::Describe(parsed));
    return 0;
}
