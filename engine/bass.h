/*
 * bass.h - the audio library's public C interface (version 1.8).
 *
 * Contract
 * - Handles (streams, music, syncs) are 32-bit; 0 is never a valid handle and
 *   is what a failing call returns.
 * - Byte positions and lengths are bytes of the channel's decoded 16-bit PCM
 *   at the channel's own sample rate and channel count (44.1 kHz stereo:
 *   176400 bytes per second). They are 64-bit, except BASS_MusicGetLength's.
 * - Every call sets the error code that BASS_ErrorGetCode returns: BASS_OK on
 *   success, else one of the BASS_ERROR_ values below.
 * - Functions may be called from any thread; none of them blocks for longer
 *   than one output buffer (BASS_Free waits for the mixing thread, which
 *   may be in the middle of a long seek). Sync callbacks run on the
 *   library's own mixing thread; they must return quickly and must not wait
 *   for another thread that is calling the library. They may call the
 *   library themselves, except BASS_Free.
 * - Entry points marked "not available" exist so that a program binding the
 *   library by name finds all of them; they do nothing, return the failure
 *   value named in the list and set BASS_ERROR_NOTAVAIL.
 * - The calling convention is the platform's standard one for a shared
 *   library (stdcall on 32-bit Windows).
 *
 * Available operations (every other listed name is "not available"):
 *
 * Library and output
 * - BASS_GetVersion(): 0x00080001 (major 1 in the low word, minor 8 in the
 *   high word).
 * - BASS_ErrorGetCode(): the calling thread's code from its last call.
 * - BASS_Init(device, freq, flags, win): device -1 or 1 opens the default
 *   SDL2 output (signed 16-bit stereo at freq Hz, 44100 when freq is not in
 *   8000..192000), falling back to the silent output when there is no usable
 *   device or BASS_SILENT_OUTPUT_ENV is set; device 0 opens the silent
 *   output. The silent output consumes audio in real time, so positions and
 *   end syncs behave as with a sound card. win is not used. Errors:
 *   ALREADY, DEVICE.
 * - BASS_Free(): stops the output and frees every stream and music (their
 *   syncs never fire afterwards). Harmless when not initialised.
 * - BASS_Start(): TRUE once initialised (the output runs from BASS_Init on).
 * - BASS_GetInfo(info): info->size must be at least 56; fills the record.
 *   dsver is 9, latency the device buffer in ms (0 for the silent output).
 * - BASS_GetDeviceDescription(n): "No sound" for 0, "Default output" for
 *   1, else NULL with DEVICE.
 * - BASS_SetBufferLength(seconds): how far the mixer renders ahead
 *   (clamped to 0.01..2, default 0.1); returns the value in force.
 * - BASS_SetGlobalVolumes(music, sample, stream): 0..100 each (above 100
 *   counts as 100); a negative value leaves that volume unchanged. Music
 *   volume scales module music, stream volume every file stream (WMA
 *   included). BASS_GetGlobalVolumes writes the three current values; any
 *   pointer may be NULL. Both work before BASS_Init too.
 *
 * Channels (streams and music)
 * - BASS_StreamCreateFile(mem, file, offset, length, flags): file is a
 *   zero-terminated UTF-8 path; mem must be FALSE (NOTAVAIL) and offset and
 *   length 0 (ILLPARAM); of the flags only BASS_STREAM_DECODE counts: it
 *   makes a decoding channel, which is never played (BASS_StreamPlay
 *   refuses it with DECODE) and whose PCM BASS_ChannelGetData reads. Decodes MPEG-1/2/2.5 layers
 *   I-III, Ogg Vorbis and WAV (also AIFF, AU, RF64, Wave64) by content, not
 *   by name. WMA (ASF) files are refused with FILEFORM: only the add-on
 *   plays them. The length is taken from headers; the file is never scanned
 *   through. Errors: INIT, FILEOPEN, FILEFORM, MEM.
 * - BASS_MusicLoad(mem, file, offset, length, flags): MOD, S3M, XM, IT, MTM
 *   and the other formats libopenmpt reads; with mem TRUE, file points to
 *   length bytes at offset. Rendered as 44.1 kHz stereo; played once
 *   through. The play length is always computed (BASS_MUSIC_CALCLEN is
 *   accepted and implied).
 * - BASS_StreamFree / BASS_MusicFree(handle): frees the channel, playing or
 *   not; a handle of the other kind is refused with HANDLE and left alone.
 *   Once it returns no end sync of the channel is called any more: one
 *   already running on the mixing thread is waited for (unless that sync
 *   itself is the caller).
 * - BASS_StreamGetLength(handle): bytes (a whole number of frames);
 *   (QWORD)-1 with NOTAVAIL when the decoder cannot tell.
 * - BASS_MusicGetLength(handle, playlen): playlen nonzero: the play length
 *   in bytes (capped at 0xFFFFFFFE); playlen 0: the number of orders.
 * - BASS_MusicGetName(handle): the title, valid while the music lives.
 * - BASS_ChannelGetFlags(handle): BASS_SAMPLE_8BITS when the source stores
 *   8-bit samples, BASS_SAMPLE_MONO when it has one channel.
 * - BASS_StreamPlay(handle, flush, flags) / BASS_MusicPlay(handle): play
 *   from the current position (flush TRUE rewinds to 0 first); TRUE also
 *   when already playing.
 * - BASS_ChannelPause(handle): keeps the position (NOPLAY when not
 *   playing). BASS_ChannelResume(handle): continues from it (NOPAUSE when
 *   not paused). BASS_ChannelStop(handle): halts without rewinding.
 * - BASS_ChannelGetPosition(handle): bytes heard so far, following the
 *   output (device buffer included); at the end it equals the length.
 * - BASS_ChannelSetPosition(handle, bytes): moves there (rounded down to a
 *   frame); POSITION beyond the length. The call returns at once; the
 *   mixing thread carries out the seek.
 * - BASS_ChannelGetData(handle, buffer, length): decoding channels only
 *   (NOTDECODE otherwise): decodes up to length bytes (rounded down to whole
 *   frames) from the channel's position into buffer and moves the position
 *   on; returns the number of bytes, or (DWORD)-1 with ENDED once the end
 *   is reached. Reads may come from any one thread at a time per channel.
 * - BASS_ChannelIsActive(handle): BASS_ACTIVE_STOPPED/PLAYING/PAUSED.
 * - BASS_ChannelBytes2Seconds(handle, bytes): seconds as a float.
 *   BASS_ChannelSeconds2Bytes(handle, seconds): bytes of the nearest whole
 *   frame; ILLPARAM for a negative or non-finite time.
 * - BASS_ChannelSetSync(handle, BASS_SYNC_END, param, proc, user): proc is
 *   called (sync, channel, 0, user) exactly once each time the channel's
 *   last frame has been heard, on the mixing thread, with no lock held.
 *   param is ignored; other types are refused with ILLTYPE. A sync stays
 *   until BASS_ChannelRemoveSync or until the channel is freed.
 *
 * The list BASS_ENTRY_POINTS holds every exported function in the order a
 * binding fetches them: X(return type, name, (parameters), failure value).
 * Define BASS_NO_PROTOTYPES before including this header to get the types
 * and the list without function prototypes (for run-time binding).
 */
#ifndef CORVELLA_BASS_H
#define CORVELLA_BASS_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32) && !defined(_WIN64)
#define BASSDEF __stdcall
#else
#define BASSDEF
#endif

#if defined(_WIN32)
#define BASS_API __declspec(dllexport)
#else
#define BASS_API __attribute__((visibility("default")))
#endif

typedef uint32_t DWORD;
typedef uint64_t QWORD;
typedef int BOOL;
typedef DWORD HMUSIC;   /* module music handle */
typedef DWORD HSAMPLE;  /* sample handle (not available) */
typedef DWORD HCHANNEL; /* sample playback channel (not available) */
typedef DWORD HSTREAM;  /* file stream handle */
typedef DWORD HSYNC;    /* sync handle */
typedef DWORD HDSP;     /* DSP handle (not available) */
typedef DWORD HFX;      /* effect handle (not available) */

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif

#define BASSVERSION 0x00080001 /* major 1 in the low word, minor 8 in the high word */

/* Error codes returned by BASS_ErrorGetCode. */
#define BASS_OK 0
#define BASS_ERROR_MEM 1       /* memory error */
#define BASS_ERROR_FILEOPEN 2  /* the file could not be opened */
#define BASS_ERROR_DRIVER 3    /* no usable output */
#define BASS_ERROR_HANDLE 5    /* invalid handle */
#define BASS_ERROR_FORMAT 6    /* unsupported sample format */
#define BASS_ERROR_POSITION 7  /* invalid position */
#define BASS_ERROR_INIT 8      /* BASS_Init has not been called successfully */
#define BASS_ERROR_START 9     /* BASS_Start has not been called */
#define BASS_ERROR_ALREADY 14  /* already initialised / already playing */
#define BASS_ERROR_NOPAUSE 16  /* not paused */
#define BASS_ERROR_ILLTYPE 19  /* an illegal type was specified */
#define BASS_ERROR_ILLPARAM 20 /* an illegal parameter was specified */
#define BASS_ERROR_DEVICE 23   /* illegal device number */
#define BASS_ERROR_NOPLAY 24   /* not playing */
#define BASS_ERROR_NOTFILE 27  /* the stream is not a file stream */
#define BASS_ERROR_FILEFORM 41 /* unsupported file format */
#define BASS_ERROR_NOTAVAIL 37 /* the operation is not available in this library */
#define BASS_ERROR_DECODE 38   /* the channel is a decoding channel: it cannot play */
#define BASS_ERROR_NOTDECODE 39 /* the channel is not a decoding channel */
#define BASS_ERROR_ENDED 45    /* the channel has reached its end */
#define BASS_ERROR_UNKNOWN ((DWORD)-1)

/* BASS_ChannelGetFlags values. */
#define BASS_SAMPLE_8BITS 1
#define BASS_SAMPLE_MONO 2

/* BASS_StreamCreateFile flag: a decoding channel, read with BASS_ChannelGetData. */
#define BASS_STREAM_DECODE 0x200000

/* BASS_MusicLoad flag: compute the whole play length at load time. */
#define BASS_MUSIC_CALCLEN 0x2000

/* BASS_ChannelSetSync type: the channel reached its end. */
#define BASS_SYNC_END 2

/* BASS_ChannelIsActive results. */
#define BASS_ACTIVE_STOPPED 0
#define BASS_ACTIVE_PLAYING 1
#define BASS_ACTIVE_STALLED 2
#define BASS_ACTIVE_PAUSED 3

/* Environment variable: when set to a non-empty value other than "0",
 * BASS_Init opens the silent real-time output instead of a sound device. */
#define BASS_SILENT_OUTPUT_ENV "CORVELLA_SILENT_OUTPUT"

/* The output's description, 56 bytes; the caller sets size to 56. */
typedef struct BASS_INFO {
    DWORD size;     /* size of this record: 56 */
    DWORD flags;    /* device capabilities (0) */
    DWORD hwsize;   /* hardware memory (0) */
    DWORD hwfree;   /* free hardware memory (0) */
    DWORD freesam;  /* free sample slots (0) */
    DWORD free3d;   /* free 3D sample slots (0) */
    DWORD minrate;  /* lowest sample rate supported */
    DWORD maxrate;  /* highest sample rate supported */
    DWORD eax;      /* EAX support (0) */
    DWORD minbuf;   /* smallest useful buffer length, ms */
    DWORD dsver;    /* DirectSound version: 8 or more, effects are not used */
    DWORD latency;  /* output latency, ms */
    DWORD initflags;/* flags given to BASS_Init */
    DWORD speakers; /* number of output channels */
} BASS_INFO;

typedef struct BASS_3DVECTOR {
    float x, y, z;
} BASS_3DVECTOR;

/* End-of-channel callback: runs on the library's own thread. user is the
 * value given to BASS_ChannelSetSync (pointer-sized). */
typedef void(BASSDEF SYNCPROC)(HSYNC handle, DWORD channel, DWORD data, void *user);

#define BASS_ENTRY_POINTS(X) \
    X(DWORD, BASS_GetVersion, (void), 0) \
    X(const char *, BASS_GetDeviceDescription, (DWORD devnum), 0) \
    X(float, BASS_SetBufferLength, (float length), 0.0f) \
    X(void, BASS_SetGlobalVolumes, (int musvol, int samvol, int strvol), ) \
    X(void, BASS_GetGlobalVolumes, (DWORD *musvol, DWORD *samvol, DWORD *strvol), ) \
    X(void, BASS_SetLogCurves, (BOOL volume, BOOL pan), ) \
    X(void, BASS_Set3DAlgorithm, (DWORD algo), ) \
    X(DWORD, BASS_ErrorGetCode, (void), 0) \
    X(BOOL, BASS_Init, (int device, DWORD freq, DWORD flags, void *win), FALSE) \
    X(void, BASS_Free, (void), ) \
    X(void *, BASS_GetDSoundObject, (DWORD object), 0) \
    X(void, BASS_GetInfo, (BASS_INFO *info), ) \
    X(float, BASS_GetCPU, (void), 0.0f) \
    X(BOOL, BASS_Start, (void), FALSE) \
    X(BOOL, BASS_Stop, (void), FALSE) \
    X(BOOL, BASS_Pause, (void), FALSE) \
    X(BOOL, BASS_SetVolume, (DWORD volume), FALSE) \
    X(int, BASS_GetVolume, (void), -1) \
    X(BOOL, BASS_Set3DFactors, (float distf, float rollf, float doppf), FALSE) \
    X(BOOL, BASS_Get3DFactors, (float *distf, float *rollf, float *doppf), FALSE) \
    X(BOOL, BASS_Set3DPosition, (const BASS_3DVECTOR *pos, const BASS_3DVECTOR *vel, const BASS_3DVECTOR *front, const BASS_3DVECTOR *top), FALSE) \
    X(BOOL, BASS_Get3DPosition, (BASS_3DVECTOR *pos, BASS_3DVECTOR *vel, BASS_3DVECTOR *front, BASS_3DVECTOR *top), FALSE) \
    X(void, BASS_Apply3D, (void), ) \
    X(BOOL, BASS_SetEAXParameters, (int env, float vol, float decay, float damp), FALSE) \
    X(BOOL, BASS_GetEAXParameters, (DWORD *env, float *vol, float *decay, float *damp), FALSE) \
    X(HMUSIC, BASS_MusicLoad, (BOOL mem, const void *file, DWORD offset, DWORD length, DWORD flags), 0) \
    X(void, BASS_MusicFree, (HMUSIC handle), ) \
    X(const char *, BASS_MusicGetName, (HMUSIC handle), 0) \
    X(DWORD, BASS_MusicGetLength, (HMUSIC handle, DWORD playlen), (DWORD)-1) \
    X(BOOL, BASS_MusicPlay, (HMUSIC handle), FALSE) \
    X(BOOL, BASS_MusicPlayEx, (HMUSIC handle, DWORD pos, int flags, BOOL reset), FALSE) \
    X(BOOL, BASS_MusicSetAmplify, (HMUSIC handle, DWORD amp), FALSE) \
    X(BOOL, BASS_MusicSetPanSep, (HMUSIC handle, DWORD pan), FALSE) \
    X(BOOL, BASS_MusicSetPositionScaler, (HMUSIC handle, DWORD scale), FALSE) \
    X(HSAMPLE, BASS_SampleLoad, (BOOL mem, const void *file, DWORD offset, DWORD length, DWORD max, DWORD flags), 0) \
    X(void *, BASS_SampleCreate, (DWORD length, DWORD freq, DWORD max, DWORD flags), 0) \
    X(HSAMPLE, BASS_SampleCreateDone, (void), 0) \
    X(void, BASS_SampleFree, (HSAMPLE handle), ) \
    X(BOOL, BASS_SampleGetInfo, (HSAMPLE handle, void *info), FALSE) \
    X(BOOL, BASS_SampleSetInfo, (HSAMPLE handle, const void *info), FALSE) \
    X(HCHANNEL, BASS_SamplePlay, (HSAMPLE handle), 0) \
    X(HCHANNEL, BASS_SamplePlayEx, (HSAMPLE handle, DWORD start, int freq, int volume, int pan, BOOL loop), 0) \
    X(HCHANNEL, BASS_SamplePlay3D, (HSAMPLE handle, const BASS_3DVECTOR *pos, const BASS_3DVECTOR *orient, const BASS_3DVECTOR *vel), 0) \
    X(HCHANNEL, BASS_SamplePlay3DEx, (HSAMPLE handle, const BASS_3DVECTOR *pos, const BASS_3DVECTOR *orient, const BASS_3DVECTOR *vel, DWORD start, int freq, int volume, BOOL loop), 0) \
    X(BOOL, BASS_SampleStop, (HSAMPLE handle), FALSE) \
    X(HSTREAM, BASS_StreamCreate, (DWORD freq, DWORD flags, void *proc, void *user), 0) \
    X(HSTREAM, BASS_StreamCreateFile, (BOOL mem, const void *file, DWORD offset, DWORD length, DWORD flags), 0) \
    X(void, BASS_StreamFree, (HSTREAM handle), ) \
    X(QWORD, BASS_StreamGetLength, (HSTREAM handle), (QWORD)-1) \
    X(BOOL, BASS_StreamPlay, (HSTREAM handle, BOOL flush, DWORD flags), FALSE) \
    X(BOOL, BASS_CDInit, (const char *drive, DWORD flags), FALSE) \
    X(void, BASS_CDFree, (void), ) \
    X(BOOL, BASS_CDInDrive, (void), FALSE) \
    X(BOOL, BASS_CDPlay, (DWORD track, BOOL loop, BOOL wait), FALSE) \
    X(DWORD, BASS_ChannelGetFlags, (DWORD handle), (DWORD)-1) \
    X(BOOL, BASS_ChannelStop, (DWORD handle), FALSE) \
    X(BOOL, BASS_ChannelPause, (DWORD handle), FALSE) \
    X(BOOL, BASS_ChannelResume, (DWORD handle), FALSE) \
    X(BOOL, BASS_ChannelSetAttributes, (DWORD handle, int freq, int volume, int pan), FALSE) \
    X(BOOL, BASS_ChannelGetAttributes, (DWORD handle, DWORD *freq, DWORD *volume, int *pan), FALSE) \
    X(BOOL, BASS_ChannelSet3DAttributes, (DWORD handle, int mode, float min, float max, int iangle, int oangle, int outvol), FALSE) \
    X(BOOL, BASS_ChannelGet3DAttributes, (DWORD handle, DWORD *mode, float *min, float *max, DWORD *iangle, DWORD *oangle, DWORD *outvol), FALSE) \
    X(BOOL, BASS_ChannelSet3DPosition, (DWORD handle, const BASS_3DVECTOR *pos, const BASS_3DVECTOR *orient, const BASS_3DVECTOR *vel), FALSE) \
    X(BOOL, BASS_ChannelGet3DPosition, (DWORD handle, BASS_3DVECTOR *pos, BASS_3DVECTOR *orient, BASS_3DVECTOR *vel), FALSE) \
    X(BOOL, BASS_ChannelSetPosition, (DWORD handle, QWORD pos), FALSE) \
    X(QWORD, BASS_ChannelGetPosition, (DWORD handle), (QWORD)-1) \
    X(DWORD, BASS_ChannelGetLevel, (DWORD handle), (DWORD)-1) \
    X(DWORD, BASS_ChannelGetData, (DWORD handle, void *buffer, DWORD length), (DWORD)-1) \
    X(HSYNC, BASS_ChannelSetSync, (DWORD handle, DWORD type, QWORD param, SYNCPROC *proc, void *user), 0) \
    X(BOOL, BASS_ChannelRemoveSync, (DWORD handle, HSYNC sync), FALSE) \
    X(HDSP, BASS_ChannelSetDSP, (DWORD handle, void *proc, void *user), 0) \
    X(BOOL, BASS_ChannelRemoveDSP, (DWORD handle, HDSP dsp), FALSE) \
    X(BOOL, BASS_ChannelSetEAXMix, (DWORD handle, float mix), FALSE) \
    X(BOOL, BASS_ChannelGetEAXMix, (DWORD handle, float *mix), FALSE) \
    X(HSTREAM, BASS_StreamCreateURL, (const char *url, DWORD offset, DWORD flags, const char *save), 0) \
    X(DWORD, BASS_StreamGetFilePosition, (HSTREAM handle, DWORD mode), (DWORD)-1) \
    X(DWORD, BASS_CDGetTracks, (void), (DWORD)-1) \
    X(DWORD, BASS_CDGetTrackLength, (DWORD track), (DWORD)-1) \
    X(DWORD, BASS_ChannelIsActive, (DWORD handle), 0) \
    X(const char *, BASS_CDGetID, (DWORD id), 0) \
    X(HFX, BASS_ChannelSetFX, (DWORD handle, DWORD type), 0) \
    X(BOOL, BASS_ChannelRemoveFX, (DWORD handle, HFX fx), FALSE) \
    X(BOOL, BASS_FXSetParameters, (HFX handle, const void *par), FALSE) \
    X(BOOL, BASS_FXGetParameters, (HFX handle, void *par), FALSE) \
    X(BOOL, BASS_ChannelSetLink, (DWORD handle, DWORD chan), FALSE) \
    X(BOOL, BASS_ChannelRemoveLink, (DWORD handle, DWORD chan), FALSE) \
    X(BOOL, BASS_MusicPreBuf, (HMUSIC handle), FALSE) \
    X(BOOL, BASS_StreamPreBuf, (HSTREAM handle), FALSE) \
    X(BOOL, BASS_Update, (void), FALSE) \
    X(const char *, BASS_StreamGetTags, (HSTREAM handle, DWORD tags), 0) \
    X(float, BASS_ChannelBytes2Seconds, (DWORD handle, QWORD pos), -1.0f) \
    X(QWORD, BASS_ChannelSeconds2Bytes, (DWORD handle, float pos), (QWORD)-1) \
    X(BOOL, BASS_SetCLSID, (const void *clsid), FALSE) \
    X(BOOL, BASS_MusicSetChannelVol, (HMUSIC handle, DWORD channel, DWORD volume), FALSE) \
    X(DWORD, BASS_MusicGetChannelVol, (HMUSIC handle, DWORD channel), (DWORD)-1) \
    X(const char *, BASS_RecordGetDeviceDescription, (DWORD devnum), 0) \
    X(BOOL, BASS_RecordInit, (int device), FALSE) \
    X(void, BASS_RecordFree, (void), ) \
    X(void, BASS_RecordGetInfo, (void *info), ) \
    X(BOOL, BASS_RecordStart, (DWORD freq, DWORD flags, void *proc, void *user), FALSE) \
    X(BOOL, BASS_CDDoor, (BOOL open), FALSE) \
    X(const char *, BASS_RecordGetInputName, (DWORD input), 0) \
    X(BOOL, BASS_RecordSetInput, (DWORD input, DWORD setting), FALSE) \
    X(DWORD, BASS_RecordGetInput, (DWORD input), (DWORD)-1) \
    X(BOOL, BASS_SetNetConfig, (DWORD option, DWORD value), FALSE) \
    X(BOOL, BASS_ChannelSlideAttributes, (DWORD handle, int freq, int volume, int pan, DWORD time), FALSE) \
    X(DWORD, BASS_ChannelIsSliding, (DWORD handle), 0)

#ifndef BASS_NO_PROTOTYPES
#define BASS_DECLARE_PROTOTYPE(ret, name, params, fail) BASS_API ret BASSDEF name params;
BASS_ENTRY_POINTS(BASS_DECLARE_PROTOTYPE)
#undef BASS_DECLARE_PROTOTYPE
#endif

#ifdef __cplusplus
}
#endif

#endif /* CORVELLA_BASS_H */
