// A test double of the WMA add-on: FAKEBASS_WMA makes its stream creation
// succeed (handle 2); every call is logged like the library double's, and
// so is its loading ("AddOnLoaded").
#include "basswma.h"

#include "FakeLog.h"

using fakebass::Knob;
using fakebass::Log;

namespace {
const bool loadLogged = (Log("AddOnLoaded"), true);
}

extern "C" {

BASS_API HSTREAM BASSDEF BASS_WMA_StreamCreateFile(BOOL, const void* file, DWORD, DWORD, DWORD)
{
    Log(std::string("WMA_StreamCreateFile(") + static_cast<const char*>(file) + ")");
    return Knob("FAKEBASS_WMA") ? 2 : 0;
}

BASS_API HSYNC BASSDEF BASS_WMA_ChannelSetSync(HSTREAM handle, DWORD type, QWORD, SYNCPROC*, void*)
{
    Log("WMA_ChannelSetSync(" + std::to_string(handle) + "," + std::to_string(type) + ")");
    return 8;
}

} // extern "C"
