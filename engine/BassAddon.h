/*
 * BassAddon.h - the private interface between the audio library and its
 * add-ons (not part of the public API; not bound by programs).
 *
 * An add-on decodes a format itself and hands the decoder to the library as
 * a table of C callbacks; the library then plays it like any stream. The
 * callbacks are called by one thread at a time (the library's mixer or the
 * thread freeing the stream) and must not throw.
 */
#ifndef CORVELLA_BASSADDON_H
#define CORVELLA_BASSADDON_H

#include "bass.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct BASS_ADDON_DECODER {
    void *state;       /* owned by the library from the call on */
    DWORD rate;        /* Hz */
    DWORD channels;    /* 1 or more */
    QWORD frames;      /* length in sample frames, (QWORD)-1 when unknown */
    /* Reads up to `frames` frames of interleaved signed 16-bit PCM; returns
     * the number read, 0 at the end. */
    QWORD(*read)(void *state, int16_t *out, QWORD frames);
    /* Moves to an absolute frame; FALSE when it cannot. */
    BOOL(*seek)(void *state, QWORD frame);
    /* Releases the state. */
    void(*close)(void *state);
    /* BASS_STREAM_DECODE makes a decoding channel; other flags are ignored. */
    DWORD flags;
} BASS_ADDON_DECODER;

/* Creates a stream from the decoder; returns its handle, or 0 with the error
 * code set. The library takes ownership of decoder->state in every case
 * (on failure it calls close at once). */
BASS_API HSTREAM BASSDEF BASS_Internal_AddStream(const BASS_ADDON_DECODER *decoder);

/* Sets the calling thread's error code, as BASS_ErrorGetCode reports it. */
BASS_API void BASSDEF BASS_Internal_SetError(DWORD code);

#ifdef __cplusplus
}
#endif

#endif /* CORVELLA_BASSADDON_H */
