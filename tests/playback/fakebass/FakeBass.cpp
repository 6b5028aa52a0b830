// A test double of the audio library: just enough behaviour for the binding
// and the player's error paths, steered by FAKEBASS_* environment variables
// read at each call:
//   FAKEBASS_INIT_FAILS, FAKEBASS_START_FAILS, FAKEBASS_PLAY_FAILS,
//   FAKEBASS_STREAM_FAILS, FAKEBASS_MUSIC (module music loads),
//   FAKEBASS_DSVER (default 9), FAKEBASS_FLAGS (channel flags),
//   FAKEBASS_LENGTH (stream length in bytes, -1 = error value),
//   FAKEBASS_MUSIC_LENGTH, FAKEBASS_ERROR (code after a failure).
// Stream handle 1, music handle 3; 44.1 kHz stereo 16-bit byte arithmetic.
#include "bass.h"

#include "FakeLog.h"

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

#ifndef FAKE_BASS_VERSION
#define FAKE_BASS_VERSION 0x00080001
#endif

using fakebass::Knob;
using fakebass::KnobValue;
using fakebass::Log;

namespace {

constexpr double kBytesPerSecond = 176400.0;
constexpr DWORD kStreamHandle = 1;
constexpr DWORD kMusicHandle = 3;
constexpr HSYNC kSyncHandle = 7;

std::atomic<DWORD> lastError{BASS_OK};
int musicVolume = 70;
int sampleVolume = 60;
int streamVolume = 80;
QWORD position = 0;

std::mutex syncMutex;
SYNCPROC* syncProc = nullptr;
void* syncUser = nullptr;
DWORD syncChannel = 0;

BOOL Fail()
{
    lastError = static_cast<DWORD>(KnobValue("FAKEBASS_ERROR", BASS_ERROR_FILEFORM));
    return FALSE;
}

BOOL Succeed()
{
    lastError = BASS_OK;
    return TRUE;
}

std::string Text(const void* file)
{
    return file ? static_cast<const char*>(file) : "";
}

} // namespace

extern "C" {

BASS_API DWORD BASSDEF BASS_GetVersion(void) { return FAKE_BASS_VERSION; }

BASS_API DWORD BASSDEF BASS_ErrorGetCode(void) { return lastError; }

BASS_API BOOL BASSDEF BASS_Init(int device, DWORD freq, DWORD flags, void*)
{
    Log("Init(" + std::to_string(device) + "," + std::to_string(freq) + "," + std::to_string(flags) + ")");
    if (Knob("FAKEBASS_INIT_FAILS")) {
        lastError = BASS_ERROR_DRIVER;
        return FALSE;
    }
    return Succeed();
}

BASS_API BOOL BASSDEF BASS_Start(void)
{
    Log("Start");
    return Knob("FAKEBASS_START_FAILS") ? Fail() : Succeed();
}

BASS_API void BASSDEF BASS_Free(void) { Log("Free"); }

BASS_API void BASSDEF BASS_GetInfo(BASS_INFO* info)
{
    if (!info || info->size != sizeof(BASS_INFO))
        return;
    info->dsver = static_cast<DWORD>(KnobValue("FAKEBASS_DSVER", 9));
}

BASS_API void BASSDEF BASS_GetGlobalVolumes(DWORD* musvol, DWORD* samvol, DWORD* strvol)
{
    *musvol = static_cast<DWORD>(musicVolume);
    *samvol = static_cast<DWORD>(sampleVolume);
    *strvol = static_cast<DWORD>(streamVolume);
}

BASS_API void BASSDEF BASS_SetGlobalVolumes(int musvol, int samvol, int strvol)
{
    Log("SetGlobalVolumes(" + std::to_string(musvol) + "," + std::to_string(samvol) + "," + std::to_string(strvol) + ")");
    if (musvol >= 0)
        musicVolume = musvol;
    if (samvol >= 0)
        sampleVolume = samvol;
    if (strvol >= 0)
        streamVolume = strvol;
}

BASS_API HSTREAM BASSDEF BASS_StreamCreateFile(BOOL mem, const void* file, DWORD offset, DWORD length, DWORD flags)
{
    Log("StreamCreateFile(" + std::to_string(mem) + "," + Text(file) + "," + std::to_string(offset) + "," +
        std::to_string(length) + "," + std::to_string(flags) + ")");
    if (Knob("FAKEBASS_STREAM_FAILS"))
        return Fail();
    position = 0;
    Succeed();
    return kStreamHandle;
}

BASS_API HMUSIC BASSDEF BASS_MusicLoad(BOOL mem, const void* file, DWORD offset, DWORD length, DWORD flags)
{
    Log("MusicLoad(" + std::to_string(mem) + "," + Text(file) + "," + std::to_string(offset) + "," +
        std::to_string(length) + "," + std::to_string(flags) + ")");
    if (!Knob("FAKEBASS_MUSIC"))
        return Fail();
    Succeed();
    return kMusicHandle;
}

BASS_API void BASSDEF BASS_StreamFree(HSTREAM handle) { Log("StreamFree(" + std::to_string(handle) + ")"); }

BASS_API void BASSDEF BASS_MusicFree(HMUSIC handle) { Log("MusicFree(" + std::to_string(handle) + ")"); }

BASS_API DWORD BASSDEF BASS_ChannelGetFlags(DWORD) { return static_cast<DWORD>(KnobValue("FAKEBASS_FLAGS", 0)); }

BASS_API QWORD BASSDEF BASS_StreamGetLength(HSTREAM)
{
    return static_cast<QWORD>(KnobValue("FAKEBASS_LENGTH", 10 * 176400));
}

BASS_API DWORD BASSDEF BASS_MusicGetLength(HMUSIC, DWORD playlen)
{
    Log("MusicGetLength(" + std::to_string(static_cast<int>(playlen)) + ")");
    return static_cast<DWORD>(KnobValue("FAKEBASS_MUSIC_LENGTH", 5 * 176400));
}

BASS_API BOOL BASSDEF BASS_StreamPlay(HSTREAM handle, BOOL flush, DWORD flags)
{
    Log("StreamPlay(" + std::to_string(handle) + "," + std::to_string(flush) + "," + std::to_string(flags) + ")");
    return Knob("FAKEBASS_PLAY_FAILS") ? Fail() : Succeed();
}

BASS_API BOOL BASSDEF BASS_MusicPlay(HMUSIC handle)
{
    Log("MusicPlay(" + std::to_string(handle) + ")");
    return Knob("FAKEBASS_PLAY_FAILS") ? Fail() : Succeed();
}

BASS_API BOOL BASSDEF BASS_ChannelPause(DWORD handle)
{
    Log("ChannelPause(" + std::to_string(handle) + ")");
    return Succeed();
}

BASS_API BOOL BASSDEF BASS_ChannelResume(DWORD handle)
{
    Log("ChannelResume(" + std::to_string(handle) + ")");
    return Succeed();
}

BASS_API BOOL BASSDEF BASS_ChannelStop(DWORD handle)
{
    Log("ChannelStop(" + std::to_string(handle) + ")");
    return Succeed();
}

BASS_API QWORD BASSDEF BASS_ChannelGetPosition(DWORD) { return position; }

BASS_API BOOL BASSDEF BASS_ChannelSetPosition(DWORD handle, QWORD pos)
{
    Log("ChannelSetPosition(" + std::to_string(handle) + "," + std::to_string(pos) + ")");
    position = pos;
    return Succeed();
}

BASS_API float BASSDEF BASS_ChannelBytes2Seconds(DWORD, QWORD pos)
{
    return static_cast<float>(static_cast<double>(pos) / kBytesPerSecond);
}

BASS_API QWORD BASSDEF BASS_ChannelSeconds2Bytes(DWORD, float pos)
{
    return static_cast<QWORD>(static_cast<double>(pos) * 44100.0) * 4;
}

BASS_API HSYNC BASSDEF BASS_ChannelSetSync(DWORD handle, DWORD type, QWORD param, SYNCPROC* proc, void* user)
{
    Log("ChannelSetSync(" + std::to_string(handle) + "," + std::to_string(type) + "," + std::to_string(param) + ")");
    std::lock_guard lock(syncMutex);
    syncProc = proc;
    syncUser = user;
    syncChannel = handle;
    Succeed();
    return kSyncHandle;
}

// Test hook: runs the end sync last set, on a thread of its own, as the
// library's mixing thread would; returns once the callback has returned.
BASS_API void FakeBASS_FireEnd(void)
{
    std::lock_guard lock(syncMutex);
    if (!syncProc)
        return;
    std::thread([] { syncProc(kSyncHandle, syncChannel, 0, syncUser); }).join();
}

} // extern "C"
