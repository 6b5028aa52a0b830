#include "ID3v1.h"

#include "TextCodec.h"
#include "files/BinaryFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sys/stat.h>

const std::array<std::string_view, 148> GenreNames = {
    "Blues", "Classic Rock", "Country", "Dance", "Disco", "Funk", "Grunge", "Hip-Hop", "Jazz", "Metal",
    "New Age", "Oldies", "Other", "Pop", "R&B", "Rap", "Reggae", "Rock", "Techno", "Industrial",
    "Alternative", "Ska", "Death Metal", "Pranks", "Soundtrack", "Euro-Techno", "Ambient", "Trip-Hop", "Vocal",
    "Jazz+Funk", "Fusion", "Trance", "Classical", "Instrumental", "Acid", "House", "Game", "Sound Clip", "Gospel",
    "Noise", "AlternRock", "Bass", "Soul", "Punk", "Space", "Meditative", "Instrumental Pop", "Instrumental Rock",
    "Ethnic", "Gothic", "Darkwave", "Techno-Industrial", "Electronic", "Pop-Folk", "Eurodance", "Dream",
    "Southern Rock", "Comedy", "Cult", "Gangsta", "Top 40", "Christian Rap", "Pop/Funk", "Jungle",
    "Native American", "Cabaret", "New Wave", "Psychadelic", "Rave", "Showtunes", "Trailer", "Lo-Fi", "Tribal",
    "Acid Punk", "Acid Jazz", "Polka", "Retro", "Musical", "Rock & Roll", "Hard Rock", "Folk", "Folk-Rock",
    "National Folk", "Swing", "Fast Fusion", "Bebob", "Latin", "Revival", "Celtic", "Bluegrass", "Avantgarde",
    "Gothic Rock", "Progessive Rock", "Psychedelic Rock", "Symphonic Rock", "Slow Rock", "Big Band", "Chorus",
    "Easy Listening", "Acoustic", "Humour", "Speech", "Chanson", "Opera", "Chamber Music", "Sonata", "Symphony",
    "Booty Bass", "Primus", "Porn Groove", "Satire", "Slow Jam", "Club", "Tango", "Samba", "Folklore", "Ballad",
    "Power Ballad", "Rhythmic Soul", "Freestyle", "Duet", "Punk Rock", "Drum Solo", "A capella", "Euro-House",
    "Dance Hall", "Goa", "Drum & Bass", "Club-House", "Hardcore", "Terror", "Indie", "BritPop", "Negerpunk",
    "Polsk Punk", "Beat", "Christian Gangsta Rap", "Heavy Metal", "Black Metal", "Crossover",
    "Contemporary Christian", "Christian Rock", "Merengue", "Salsa", "Trash Metal", "Anime", "JPop", "Synthpop",
};

namespace {

constexpr size_t kTagSize = 128;
constexpr size_t kTextLength = 30;
constexpr size_t kYearLength = 4;

// Field offsets inside the 128 bytes.
constexpr size_t kTitleAt = 3;
constexpr size_t kArtistAt = 33;
constexpr size_t kAlbumAt = 63;
constexpr size_t kYearAt = 93;
constexpr size_t kCommentAt = 97;
constexpr size_t kZeroByteAt = 125;
constexpr size_t kTrackAt = 126;
constexpr size_t kGenreAt = 127;

using TagBytes = std::array<uint8_t, kTagSize>;

bool ReadLastBlock(BinaryFile& file, TagBytes& block)
{
    int64_t size = file.Size();
    if (size < static_cast<int64_t>(kTagSize))
        return false;
    return file.Seek(size - static_cast<int64_t>(kTagSize)) && file.ReadExact(block.data(), block.size());
}

bool HasTagMark(const TagBytes& block)
{
    return block[0] == 'T' && block[1] == 'A' && block[2] == 'G';
}

std::string TextAt(const TagBytes& block, size_t offset, size_t length)
{
    std::string_view raw(reinterpret_cast<const char*>(block.data()) + offset, length);
    return Latin1ToUtf8(TrimControlRight(raw));
}

void PutText(TagBytes& block, size_t offset, size_t length, const std::string& utf8)
{
    std::string latin1 = Utf8ToLatin1(utf8);
    std::memcpy(block.data() + offset, latin1.data(), std::min(latin1.size(), length));
}

std::string FitText(std::string_view value, size_t maxChars)
{
    return Utf8Left(TrimControlRight(value), maxChars);
}

// The owner-write bit is this platform's counterpart of clearing the
// read-only attribute; the file keeps it afterwards.
bool MakeOwnerWritable(BinaryFile& file)
{
    struct stat st {};
    if (::fstat(file.Descriptor(), &st) != 0)
        return false;
    if (st.st_mode & S_IWUSR)
        return true;
    return ::fchmod(file.Descriptor(), (st.st_mode & 07777) | S_IWUSR) == 0;
}

std::optional<std::string> ResolvedPath(const std::string& fileName)
{
    std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(fileName.c_str(), nullptr), &std::free);
    return resolved ? std::optional<std::string>(resolved.get()) : std::nullopt;
}

} // namespace

TID3v1::TID3v1()
{
    Reset();
}

void TID3v1::Reset()
{
    exists_ = false;
    versionID_ = 1;
    title_.clear();
    artist_.clear();
    album_.clear();
    year_.clear();
    comment_.clear();
    track_ = 0;
    genreID_ = 255;
    origin_.reset();
}

bool TID3v1::ReadTag(const std::string& fileName)
{
    Reset();
    TagBytes block{};
    BinaryFile file;
    if (!file.Open(fileName, BinaryFile::Mode::Read))
        return false;
    const std::optional<std::string> path = ResolvedPath(fileName);
    const std::optional<FileIdentity> identity = IdentityOfDescriptor(file.Descriptor());
    if (path && identity)
        origin_ = ReadOrigin{*path, *identity};
    if (!ReadLastBlock(file, block))
        return false;
    TakeBlock(block);
    return true;
}

bool TID3v1::Parse(std::span<const uint8_t> bytes)
{
    Reset();
    if (bytes.size() < kTagSize)
        return false;
    TagBytes block{};
    std::copy(bytes.end() - kTagSize, bytes.end(), block.begin());
    TakeBlock(block);
    return true;
}

void TID3v1::TakeBlock(const std::array<uint8_t, 128>& block)
{
    if (!HasTagMark(block))
        return;
    exists_ = true;
    bool trackByte = (block[kZeroByteAt] == 0 && block[kTrackAt] != 0)
        || (block[kZeroByteAt] == 0x20 && block[kTrackAt] != 0x20);
    versionID_ = trackByte ? 2 : 1;
    title_ = TextAt(block, kTitleAt, kTextLength);
    artist_ = TextAt(block, kArtistAt, kTextLength);
    album_ = TextAt(block, kAlbumAt, kTextLength);
    year_ = TextAt(block, kYearAt, kYearLength);
    if (versionID_ == 2) {
        comment_ = TextAt(block, kCommentAt, kZeroByteAt - kCommentAt);
        track_ = block[kTrackAt];
    } else {
        comment_ = TextAt(block, kCommentAt, kTextLength);
    }
    genreID_ = block[kGenreAt];
}

std::array<uint8_t, 128> TID3v1::RenderTag() const
{
    TagBytes block{};
    block[0] = 'T';
    block[1] = 'A';
    block[2] = 'G';
    PutText(block, kTitleAt, kTextLength, title_);
    PutText(block, kArtistAt, kTextLength, artist_);
    PutText(block, kAlbumAt, kTextLength, album_);
    PutText(block, kYearAt, kYearLength, year_);
    PutText(block, kCommentAt, kTextLength, comment_);
    if (track_ != 0) {
        block[kZeroByteAt] = 0;
        block[kTrackAt] = track_;
    }
    block[kGenreAt] = genreID_;
    return block;
}

void TID3v1::FollowOwnWrite(const ReadOrigin& before, const ReadOrigin& after)
{
    if (origin_ == before)
        origin_ = after;
}

bool TID3v1::WriteTag(const std::string& fileName)
{
    writeError_.clear();
    changedSinceRead_ = false;
    auto fail = [&](const std::string& what, const BinaryFile& file) {
        writeError_ = what + " \"" + fileName + "\". "
            + (file.LastError().empty() ? SystemErrorText(errno) : file.LastError());
        return false;
    };
    auto changed = [&] {
        changedSinceRead_ = true;
        writeError_ = ChangedSinceReadText(fileName);
        return false;
    };
    BinaryFile reader;
    if (!reader.Open(fileName, BinaryFile::Mode::Read))
        return fail("Cannot open file", reader);
    const std::optional<std::string> path = ResolvedPath(fileName);
    std::optional<FileIdentity> identity = IdentityOfDescriptor(reader.Descriptor());
    if (!path || !identity)
        return fail("Cannot open file", reader);
    // The tag in hand was read from this file: what another program did to
    // the file since would be undone by writing it back.
    if (origin_ && origin_->Path == *path && origin_->Identity != *identity)
        return changed();
    TagBytes existing{};
    if (!ReadLastBlock(reader, existing)) {
        writeError_ = "Cannot write an ID3v1 tag to \"" + fileName + "\": it is shorter than a tag.";
        return false;
    }
    if (!MakeOwnerWritable(reader))
        return fail("Cannot make writable file", reader);

    BinaryFile file;
    if (!file.Open(*path, BinaryFile::Mode::ReadWrite))
        return fail("Cannot open file", file);
    // Between the look and the opening for writing, the name may have come
    // to hold another file, or the file new bytes; making it writable
    // changes only its change time.
    const std::optional<FileIdentity> opened = IdentityOfDescriptor(file.Descriptor());
    if (!opened)
        return fail("Cannot open file", file);
    FileIdentity expected = *identity;
    expected.ChangedNs = opened->ChangedNs;
    if (*opened != expected || opened->ChangedNs < identity->ChangedNs)
        return changed();
    const int64_t size = opened->Size;
    // An old tag is overwritten where it stands, so a failing write can
    // never leave the file without one.
    int64_t at = HasTagMark(existing) ? size - static_cast<int64_t>(kTagSize) : size;
    TagBytes block = RenderTag();
    if (!file.Seek(at) || !file.Write(block.data(), block.size()) || !file.SyncToDisk())
        return fail("Cannot write file", file);
    // The next write back compares with the file as this one left it.
    if (origin_ && origin_->Path == *path) {
        const std::optional<FileIdentity> now = IdentityOfDescriptor(file.Descriptor());
        origin_ = now ? std::optional<ReadOrigin>(ReadOrigin{*path, *now}) : std::nullopt;
    }
    return true;
}

std::string TID3v1::Genre() const
{
    return genreID_ < GenreNames.size() ? std::string(GenreNames[genreID_]) : std::string();
}

void TID3v1::SetTitle(std::string_view value)
{
    title_ = FitText(value, kTextLength);
}

void TID3v1::SetArtist(std::string_view value)
{
    artist_ = FitText(value, kTextLength);
}

void TID3v1::SetAlbum(std::string_view value)
{
    album_ = FitText(value, kTextLength);
}

void TID3v1::SetYear(std::string_view value)
{
    year_ = FitText(value, kYearLength);
}

void TID3v1::SetComment(std::string_view value)
{
    comment_ = FitText(value, kTextLength);
}
