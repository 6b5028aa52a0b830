/*
 * basswma.h - the WMA add-on of the audio library (libbasswma).
 *
 * The add-on decodes Windows Media Audio files into channels of the main
 * library: a handle it returns is used with every BASS_Channel... function
 * and freed with BASS_StreamFree. The contract of bass.h (handles, bytes,
 * errors, threads, "not available" entry points) holds here too; only
 * BASS_WMA_StreamCreateFile and BASS_WMA_ChannelSetSync are available.
 * The main library must be loaded (and BASS_Init called) before a stream
 * is created.
 *
 * - BASS_WMA_StreamCreateFile(mem, file, offset, length, flags): file is a
 *   zero-terminated UTF-8 path of an ASF file holding WMA 1/2, Pro,
 *   Lossless or Voice audio, decoded with FFmpeg to 16-bit PCM at its own
 *   rate and channel count. mem must be FALSE (NOTAVAIL), offset and length
 *   0 (ILLPARAM); of the flags only BASS_STREAM_DECODE counts (a decoding
 *   channel, as with BASS_StreamCreateFile). The length comes from the header's play
 *   duration. Errors: INIT, FILEOPEN (no such file), FILEFORM (not WMA).
 * - BASS_WMA_ChannelSetSync: the same as BASS_ChannelSetSync.
 *
 * BASSWMA_ENTRY_POINTS lists the exports in the order a binding fetches them.
 */
#ifndef CORVELLA_BASSWMA_H
#define CORVELLA_BASSWMA_H

#include "bass.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef DWORD HWMENCODE; /* encoder handle (not available) */

#define BASSWMA_ENTRY_POINTS(X) \
    X(HSTREAM, BASS_WMA_StreamCreateFile, (BOOL mem, const void *file, DWORD offset, DWORD length, DWORD flags), 0) \
    X(HSYNC, BASS_WMA_ChannelSetSync, (HSTREAM handle, DWORD type, QWORD param, SYNCPROC *proc, void *user), 0) \
    X(void *, BASS_WMA_GetIWMReader, (HSTREAM handle), 0) \
    X(const DWORD *, BASS_WMA_EncodeGetRates, (DWORD freq, DWORD flags), 0) \
    X(HWMENCODE, BASS_WMA_EncodeOpenFile, (DWORD freq, DWORD flags, DWORD bitrate, const char *file), 0) \
    X(HWMENCODE, BASS_WMA_EncodeOpenNetwork, (DWORD freq, DWORD flags, DWORD bitrate, DWORD port, DWORD clients), 0) \
    X(DWORD, BASS_WMA_EncodeGetPort, (HWMENCODE handle), 0) \
    X(BOOL, BASS_WMA_EncodeSetNotify, (HWMENCODE handle, void *proc, void *user), FALSE) \
    X(DWORD, BASS_WMA_EncodeGetClients, (HWMENCODE handle), (DWORD)-1) \
    X(BOOL, BASS_WMA_EncodeSetTag, (HWMENCODE handle, const char *tag, const char *text), FALSE) \
    X(BOOL, BASS_WMA_EncodeWrite, (HWMENCODE handle, const void *buffer, DWORD length), FALSE) \
    X(void, BASS_WMA_EncodeClose, (HWMENCODE handle), )

#ifndef BASS_NO_PROTOTYPES
#define BASSWMA_DECLARE_PROTOTYPE(ret, name, params, fail) BASS_API ret BASSDEF name params;
BASSWMA_ENTRY_POINTS(BASSWMA_DECLARE_PROTOTYPE)
#undef BASSWMA_DECLARE_PROTOTYPE
#endif

#ifdef __cplusplus
}
#endif

#endif /* CORVELLA_BASSWMA_H */
