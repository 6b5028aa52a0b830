// Every export of the audio library as a weak do-nothing definition that
// returns the failure value; FakeBass.cpp overrides the few the tests drive.
#include "bass.h"

#pragma GCC diagnostic ignored "-Wunused-parameter"

extern "C" {
#define FAKE_BASS_STUB(ret, name, params, fail) __attribute__((weak)) ret BASSDEF name params { return fail; }
BASS_ENTRY_POINTS(FAKE_BASS_STUB)
#undef FAKE_BASS_STUB
}
