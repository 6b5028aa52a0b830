// EntryPointBinding: what the run-time bindings of the library (RT_bass)
// and its WMA add-on (RT_BASSWMA) share. Each names its entry points in an
// X-macro list of (ret, name, params, fail) and keeps one function-pointer
// variable per entry, named as the export; the macros below turn such a
// list into the pointer variables and the functions that fill and clear
// them, and BindOnce/Unbind keep a module handle and its pointers together.
// Main thread only.
#pragma once

#include <string>

#include "SharedLibrary.h"

#define RT_BIND_DEFINE_POINTER(ret, name, params, fail) ret(BASSDEF* name) params = nullptr;
#define RT_BIND_FETCH_POINTER(ret, name, params, fail) \
    name = reinterpret_cast<ret(BASSDEF*) params>(library.Symbol(#name)); \
    complete = complete && name != nullptr;
#define RT_BIND_CLEAR_POINTER(ret, name, params, fail) name = nullptr;

// Defines, in the including unit, FetchEntryPoints (stores every address,
// found or not, in list order; true when all were found) and
// ClearEntryPoints for the list.
#define RT_BIND_ENTRY_POINT_FUNCTIONS(LIST)                  \
    bool FetchEntryPoints(const SharedLibrary& library)      \
    {                                                        \
        bool complete = true;                                \
        LIST(RT_BIND_FETCH_POINTER)                          \
        return complete;                                     \
    }                                                        \
    void ClearEntryPoints() { LIST(RT_BIND_CLEAR_POINTER) }

// Binds folder/fileName all or nothing into owner, its handle into handle;
// true at once when handle shows a module bound already.
template <class Fetch, class Clear>
bool BindOnce(void*& handle, const std::string& folder, const std::string& fileName, SharedLibrary& owner, Fetch fetch,
              Clear clear)
{
    if (handle)
        return true;
    handle = BindAllOrNothing(JoinLibraryPath(folder, fileName), owner, fetch, clear);
    return handle != nullptr;
}

// Clears the pointers and the handle, then releases the module; nothing
// when none is bound.
template <class Clear>
void Unbind(void*& handle, SharedLibrary& owner, Clear clear)
{
    if (!handle)
        return;
    clear();
    handle = nullptr;
    owner.Release();
}
