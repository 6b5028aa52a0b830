// Every export of the WMA add-on as a weak do-nothing definition.
#include "basswma.h"

#pragma GCC diagnostic ignored "-Wunused-parameter"

extern "C" {
#define FAKE_BASSWMA_STUB(ret, name, params, fail) __attribute__((weak)) ret BASSDEF name params { return fail; }
BASSWMA_ENTRY_POINTS(FAKE_BASSWMA_STUB)
#undef FAKE_BASSWMA_STUB
}
