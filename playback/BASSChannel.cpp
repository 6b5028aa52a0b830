#include "BASSChannel.h"

#include "RT_BASSWMA.h"
#include "RT_bass.h"

#include "analysis/AudioFile.h"
#include "analysis/TextCodec.h"
#include "files/BinaryFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <cmath>
#include <cstdint>
#include <iostream>
#include <limits>
#include <mutex>

static_assert(sizeof(BASS_INFO) == 56, "the library's information record is 56 bytes");

namespace {

constexpr DWORD kRequiredVersion = 0x00080001; // 1.8: major in the low half, minor in the high half
constexpr DWORD kDirectSoundForEffects = 8;
constexpr DWORD kAllOfTheMusic = static_cast<DWORD>(-1);

// Seconds (possibly the library's negative error value) to whole
// milliseconds, rounded halves to even, kept inside the 32-bit range.
uint32_t SecondsToMs(double seconds)
{
    const double ms = std::nearbyint(seconds * 1000.0);
    if (!(ms > 0))
        return 0;
    return ms >= static_cast<double>(std::numeric_limits<uint32_t>::max()) ? std::numeric_limits<uint32_t>::max()
                                                                            : static_cast<uint32_t>(ms);
}

// What the player keeps of a file's description: whole milliseconds, and a
// track number of one byte.
TStreamInfo StreamInfoOf(const std::string& fileName, const AudioProperties& properties)
{
    TStreamInfo info;
    info.FileName = fileName;
    if (!properties.Valid)
        return info;
    info.FileSize = properties.FileSize;
    info.SampleRate = properties.SampleRate;
    info.BitRate = properties.BitRate;
    info.Duration = SecondsToMs(properties.Duration);
    info.Channels = properties.Channels;
    info.Title = properties.Title;
    info.Artist = properties.Artist;
    info.Album = properties.Album;
    info.Year = properties.Year;
    info.Genre = properties.Genre;
    info.GenreID = properties.GenreID;
    info.Track = static_cast<uint8_t>(properties.Track);
    info.Comment = properties.Comment;
    return info;
}

PlayerOutput outputOfNewPlayers = PlayerOutput::SoundDevice;

// The library's binding and its output are the process's, not a player's:
// players on several threads at once (a split of many files) share them,
// the first binds and starts them, the last to go frees them. A second
// BASS_Init would fail while the first holds the output, and the first
// player's BASS_Free would pull it from under the others.
struct SharedLibraryState {
    std::mutex mutex;
    int players = 0;
    bool bassLoaded = false;
    bool playerReady = false;
    BASS_INFO info{};
    bool dx8EffectReady = false;
    std::string bassDllVer;
    // Tried once: a missing add-on is not looked for again.
    bool wmaTried = false;
    bool wmaReady = false;
};

SharedLibraryState& Library()
{
    static SharedLibraryState state;
    return state;
}

} // namespace

struct TBASSChannel::Private {
    MessagePrompter* prompter = nullptr;
    TChannelType channelType = ctUnknown;
    DWORD channel = 0;
    bool bassLoaded = false;
    BASS_INFO info{};
    bool playerReady = false;
    std::string libraryFolder;
    std::string bassDllVer;
    std::string streamName;
    TStreamInfo streamInfo;
    bool dx8EffectReady = false;
};

TBASSChannel::TBASSChannel(MessagePrompter* prompter, const std::string& libraryFolder)
    : d(std::make_unique<Private>())
{
    d->prompter = prompter;
    d->libraryFolder = libraryFolder;

    SharedLibraryState& library = Library();
    std::lock_guard lock(library.mutex);
    if (library.players++ > 0) {
        d->bassLoaded = library.bassLoaded;
        d->playerReady = library.playerReady;
        d->info = library.info;
        d->dx8EffectReady = library.dx8EffectReady;
        d->bassDllVer = library.bassDllVer;
        return;
    }
    StartLibrary();
    library.bassLoaded = d->bassLoaded;
    library.playerReady = d->playerReady;
    library.info = d->info;
    library.dx8EffectReady = d->dx8EffectReady;
    library.bassDllVer = d->bassDllVer;
}

void TBASSChannel::StartLibrary()
{
    d->bassLoaded = LoadBASS(d->libraryFolder, "libbass.so");
    if (!d->bassLoaded)
        return;
    if (BASS_GetVersion() < kRequiredVersion) {
        ShowError("BASS version is not 1.8 or higher");
        return;
    }
    // The output needs no window here: message boxes go through the prompter.
    const int device = outputOfNewPlayers == PlayerOutput::Silent ? 0 : -1;
    if (!BASS_Init(device, 44100, 0, nullptr)) {
        ShowError("Can't initialize device");
        return;
    }
    if (!BASS_Start())
        return;
    d->playerReady = true;

    d->info.size = sizeof(BASS_INFO);
    BASS_GetInfo(&d->info);
    d->dx8EffectReady = d->info.dsver >= kDirectSoundForEffects;
    if (!d->dx8EffectReady)
        ShowMessage("Warning", "DirectX Ver 8 are not installed.\r\nSound effects except flanger are disabled.",
                    MessageIcon::Warning);

    const DWORD version = BASS_GetVersion();
    d->bassDllVer = std::to_string(version & 0xFFFF) + "." + std::to_string(version >> 16);
}

void TBASSChannel::SetOutputOfNewPlayers(PlayerOutput output)
{
    outputOfNewPlayers = output;
}

bool TBASSChannel::BindWmaAddOn() const
{
    if (!d->playerReady)
        return false;
    SharedLibraryState& library = Library();
    std::lock_guard lock(library.mutex);
    if (!library.wmaTried) {
        library.wmaTried = true;
        library.wmaReady = LoadBASSWMA(d->libraryFolder, "libbasswma.so");
    }
    return library.wmaReady;
}

TBASSChannel::~TBASSChannel()
{
    SharedLibraryState& library = Library();
    std::lock_guard lock(library.mutex);
    if (--library.players > 0) {
        // The others go on: this player's stream goes with it. The last
        // player's goes with the library.
        FreeChannel();
        return;
    }
    if (library.bassLoaded) {
        BASS_Free();
        UnloadBASS();
    }
    if (library.wmaReady)
        UnloadBASSWMA();
    library.bassLoaded = library.playerReady = library.dx8EffectReady = false;
    library.info = {};
    library.bassDllVer.clear();
    library.wmaTried = library.wmaReady = false;
}

void TBASSChannel::SetPrompter(MessagePrompter* prompter)
{
    d->prompter = prompter;
}

void TBASSChannel::ShowMessage(const std::string& caption, const std::string& text, MessageIcon icon)
{
    if (d->prompter)
        d->prompter->ShowMessage(caption, text, icon);
    else
        std::cerr << caption << ": " << text << std::endl;
}

namespace {

// The system's reason when the file cannot be read at all (missing, not
// permitted, a folder), on a line of its own; empty for a readable file
// that simply holds no stream the readers know.
std::string UnreadableReason(const std::string& fileName)
{
    struct stat status {};
    if (::stat(fileName.c_str(), &status) != 0)
        return "\r\n" + SystemErrorText(errno);
    if (S_ISDIR(status.st_mode))
        return "\r\n" + SystemErrorText(EISDIR);
    if (!S_ISREG(status.st_mode))
        return {};
    BinaryFile file;
    char first = 0;
    if (!file.Open(fileName, O_RDONLY | O_CLOEXEC | O_NONBLOCK, 0)
        || (status.st_size > 0 && file.Read(&first, 1) != 1))
        return "\r\n" + SystemErrorText(errno);
    return {};
}

} // namespace

void TBASSChannel::ShowError(const std::string& text)
{
    const DWORD code = BASS_ErrorGetCode ? BASS_ErrorGetCode() : 0;
    ShowMessage("Error", text + "\r\n(error code: " + std::to_string(code) + ")", MessageIcon::Error);
}

bool TBASSChannel::GetStreamInfo(const std::string& fileName, TStreamInfo& info)
{
    const AudioProperties properties = DescribeFile(fileName);
    info = StreamInfoOf(fileName, properties);
    return properties.Valid;
}

void TBASSChannel::FreeChannel()
{
    if (d->channelType == ctStream || d->channelType == ctWMA)
        BASS_StreamFree(d->channel);
    else if (d->channelType == ctMusic)
        BASS_MusicFree(d->channel);
    d->channelType = ctUnknown;
    d->channel = 0;
    ChannelFreed();
}

bool TBASSChannel::Open(const std::string& fileName)
{
    if (!d->playerReady) {
        ShowMessage("Confirm", "Player is not ready !", MessageIcon::Confirmation);
        return false;
    }
    const AudioProperties properties = DescribeFile(fileName);
    const bool module = properties.Format == AudioFormat::Module;
    TStreamInfo info = StreamInfoOf(fileName, properties);
    if (!module && !properties.Valid) {
        ShowError("Invalid stream file(" + fileName + ") !" + UnreadableReason(fileName));
        return false;
    }

    if (!properties.CommentsWithinBounds) {
        // Every decoder the library tries would read the whole header into memory.
        const TOggVorbis::CommentExtent& comments = properties.Comments;
        const std::string what = comments.Bytes > TOggVorbis::kMostCommentHeaderBytes
            ? "more than " + std::to_string(TOggVorbis::kMostCommentHeaderBytes) + " bytes"
            : std::to_string(comments.Count) + " comments, more than " + std::to_string(TOggVorbis::kMostComments);
        ShowMessage("Error", "The comment header of " + fileName + " is too large to play (" + what + ").",
                    MessageIcon::Error);
        return false;
    }

    FreeChannel();
    HSTREAM stream = 0;
    if (!module && (stream = BASS_StreamCreateFile(FALSE, fileName.c_str(), 0, 0, 0))) {
        d->channel = stream;
        d->channelType = ctStream;
    } else if (!module && BindWmaAddOn()
               && (d->channel = BASS_WMA_StreamCreateFile(FALSE, fileName.c_str(), 0, 0, 0))) {
        d->channelType = ctWMA;
    } else if ((d->channel = BASS_MusicLoad(FALSE, fileName.c_str(), 0, 0, BASS_MUSIC_CALCLEN))) {
        d->channelType = ctMusic;
    } else {
        ShowError("Can't play the file");
        return false;
    }
    if (BASS_ChannelGetFlags(d->channel) & BASS_SAMPLE_8BITS) {
        // Which kind of handle it is does not matter: the other call is refused.
        BASS_MusicFree(d->channel);
        BASS_StreamFree(d->channel);
        d->channelType = ctUnknown;
        d->channel = 0;
        ShowError("Sound card does not support 16-bit sources.");
        return false;
    }

    if (module)
        info = DescribeMusic(fileName);
    d->streamName = fileName;
    d->streamInfo = info;
    return true;
}

TStreamInfo TBASSChannel::DescribeMusic(const std::string& fileName) const
{
    TStreamInfo info;
    info.FileName = fileName;
    if (struct stat status {}; ::stat(fileName.c_str(), &status) == 0)
        info.FileSize = status.st_size;
    info.Channels = (BASS_ChannelGetFlags(d->channel) & BASS_SAMPLE_MONO) ? 1 : 2;
    // The library renders music as 16-bit samples.
    const QWORD bytesPerSecond = BASS_ChannelSeconds2Bytes(d->channel, 1.0f);
    if (bytesPerSecond != static_cast<QWORD>(-1))
        info.SampleRate = static_cast<uint32_t>(bytesPerSecond / (2u * info.Channels));
    info.Duration = PlayLength();
    if (const char* name = BASS_MusicGetName(d->channel))
        info.Title = Latin1ToUtf8(name);
    return info;
}

void TBASSChannel::Close()
{
    FreeChannel();
    d->streamName.clear();
    d->streamInfo.FileName.clear();
    d->streamInfo.SampleRate = 0;
}

uint32_t TBASSChannel::PlayLength() const
{
    uint64_t bytes = 0;
    switch (d->channelType) {
    case ctUnknown:
        return 0;
    case ctStream:
    case ctWMA: {
        const auto length = static_cast<int64_t>(BASS_StreamGetLength(d->channel));
        bytes = length < 0 ? 0 : static_cast<uint64_t>(length);
        break;
    }
    case ctMusic:
        bytes = BASS_MusicGetLength(d->channel, kAllOfTheMusic);
        break;
    }
    return BytesToMs(bytes);
}

uint32_t TBASSChannel::BytesToMs(uint64_t bytes) const
{
    return SecondsToMs(BASS_ChannelBytes2Seconds(d->channel, bytes));
}

TChannelType TBASSChannel::ChannelType() const
{
    return d->channelType;
}

bool TBASSChannel::PlayerReady() const
{
    return d->playerReady;
}

bool TBASSChannel::WMAReady() const
{
    return BindWmaAddOn();
}

std::string TBASSChannel::Version() const
{
    return "1.2";
}

std::string TBASSChannel::BASSDLLVer() const
{
    return d->bassDllVer;
}

bool TBASSChannel::DX8EffectReady() const
{
    return d->dx8EffectReady;
}

const std::string& TBASSChannel::StreamName() const
{
    return d->streamName;
}

const TStreamInfo& TBASSChannel::StreamInfo() const
{
    return d->streamInfo;
}

uint32_t TBASSChannel::Channel() const
{
    return d->channel;
}
