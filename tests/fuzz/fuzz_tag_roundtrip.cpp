// Both tags of any file, rendered and read back, and written onto a copy of
// the file.
//
// In memory: a file holding only the two rendered tags reads back the same
// fields (as the setters store them), and rendering what was read back
// gives the same bytes again. On disk: saving each tag with a new title
// either fails and leaves the file byte for byte as it was, or succeeds,
// reads back what was saved, and keeps every byte of the audio.
#include <fstream>

#include "Describe.h"
#include "FuzzSupport.h"
#include "analysis/ID3v1.h"
#include "analysis/ID3v2.h"

namespace {

using fuzz::Bytes;

const char* const kNewTitle = "Fuzz \xC3\xBC title";

std::string Fields(const TID3v2& tag)
{
    return tag.Title() + '|' + tag.Artist() + '|' + tag.Album() + '|' + std::to_string(tag.Track()) + '|'
        + tag.Year() + '|' + tag.Genre() + '|' + tag.Comment();
}

std::string Fields(const TID3v1& tag)
{
    return tag.Title() + '|' + tag.Artist() + '|' + tag.Album() + '|' + tag.Year() + '|' + tag.Comment() + '|'
        + std::to_string(tag.Track()) + '|' + std::to_string(tag.GenreID());
}

// The fields as the tag page would store them again: the setters drop
// trailing characters of codes 0 to 32, which a file may hold.
TID3v2 AsSet(const TID3v2& read)
{
    TID3v2 tag = read;
    tag.SetTitle(read.Title());
    tag.SetArtist(read.Artist());
    tag.SetAlbum(read.Album());
    tag.SetYear(read.Year());
    tag.SetGenre(read.Genre());
    tag.SetComment(read.Comment());
    return tag;
}

TID3v1 AsSet(const TID3v1& read)
{
    TID3v1 tag = read;
    tag.SetTitle(read.Title());
    tag.SetArtist(read.Artist());
    tag.SetAlbum(read.Album());
    tag.SetYear(read.Year());
    tag.SetComment(read.Comment());
    return tag;
}

void RenderAndReadBack(const TID3v2& v2, const TID3v1& v1)
{
    static fuzz::MemoryFile rendered("rendered");
    Bytes both = v2.RenderTag();
    const size_t v2Size = both.size();
    const auto v1Bytes = v1.RenderTag();
    both.insert(both.end(), v1Bytes.begin(), v1Bytes.end());
    rendered.Assign(both);

    TID3v2 back2;
    back2.ReadTag(rendered.Path());
    FUZZ_CHECK(back2.Exists() && back2.VersionID() == 3 && back2.Size() == int64_t(v2Size), fuzz::Describe(back2));
    FUZZ_CHECK(Fields(back2) == Fields(v2), Fields(v2) + "\n  read back: " + Fields(back2));
    FUZZ_CHECK(back2.RenderTag() == Bytes(both.begin(), both.begin() + long(v2Size)),
               "rendering the tag read back gives other bytes: " + Fields(v2));

    TID3v1 back1;
    back1.ReadTag(rendered.Path());
    FUZZ_CHECK(back1.Exists(), fuzz::Describe(back1));
    FUZZ_CHECK(Fields(back1) == Fields(v1), Fields(v1) + "\n  read back: " + Fields(back1));
    FUZZ_CHECK(back1.RenderTag() == v1Bytes, "rendering the ID3v1 tag read back gives other bytes: " + Fields(v1));
}

// Where the audio starts behind a leading tag: after the size its header
// gives, and after a v2.4 footer that stands there.
size_t AudioStart(const Bytes& file, const TID3v2& tag)
{
    if (!tag.Exists() || tag.Size() == 0)
        return 0;
    size_t start = size_t(tag.Size());
    const bool footer = tag.VersionID() >= 4 && file.size() > 5 && (file[5] & 0x10);
    if (footer && start + 10 <= file.size() && file[start] == '3' && file[start + 1] == 'D' && file[start + 2] == 'I')
        start += 10;
    return start;
}

void WriteOntoCopy(const Bytes& input)
{
    const std::string path = fuzz::ScratchFolder() + "/song.mp3";
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(input.data()), std::streamsize(input.size()));
    }
    TID3v2 v2;
    v2.ReadTag(path);
    const size_t audioStart = AudioStart(input, v2);
    v2.SetTitle(kNewTitle);
    const bool written = v2.WriteTag(path);
    const Bytes after = fuzz::ReadWholeFile(path);
    if (!written) {
        FUZZ_CHECK(after == input, "a failed ID3v2 write changed the file");
        return;
    }
    TID3v2 back;
    back.ReadTag(path);
    // A field that was not set comes back as it was read, its frame written
    // back whole, or as the setters store it when its frame had to be made
    // anew (trailing control characters dropped); the title comes back as set.
    FUZZ_CHECK(Fields(back) == Fields(v2) || Fields(back) == Fields(AsSet(v2)),
               Fields(v2) + "\n  saved and read back: " + Fields(back));
    FUZZ_CHECK(after.size() >= size_t(back.Size()), fuzz::Describe(back));
    FUZZ_CHECK(Bytes(after.begin() + back.Size(), after.end()) == Bytes(input.begin() + long(audioStart), input.end()),
               "the audio behind the ID3v2 tag changed: " + fuzz::Describe(back));

    // The ID3v1 tag goes over an old one where it stands, else at the end.
    TID3v1 v1;
    v1.ReadTag(path);
    const bool hadV1 = v1.Exists();
    v1.SetTitle(kNewTitle);
    const bool v1Written = v1.WriteTag(path);
    const Bytes saved = fuzz::ReadWholeFile(path);
    if (!v1Written) {
        FUZZ_CHECK(saved == after, "a failed ID3v1 write changed the file");
        return;
    }
    const size_t kept = hadV1 ? after.size() - 128 : after.size();
    FUZZ_CHECK(saved.size() == kept + 128 && std::equal(after.begin(), after.begin() + long(kept), saved.begin()),
               "the ID3v1 write changed bytes in front of its tag");
    TID3v1 back1;
    back1.ReadTag(path);
    FUZZ_CHECK(Fields(back1) == Fields(AsSet(v1)), Fields(v1) + "\n  saved and read back: " + Fields(back1));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static fuzz::MemoryFile file("tags");
    file.Assign(data, size);
    TID3v2 v2;
    v2.ReadTag(file.Path());
    TID3v1 v1;
    v1.ReadTag(file.Path());
    RenderAndReadBack(AsSet(v2), AsSet(v1));
    // A file shorter than a tag is refused by the ID3v1 writer anyway; the
    // interesting files hold a tag and some audio.
    WriteOntoCopy(Bytes(data, data + size));
    return 0;
}
