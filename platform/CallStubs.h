#pragma once

/** Calls into exports whose names do not tell their convention. On 32-bit Windows a plain
    name ("HID_Write") may be a __stdcall function, which pops its arguments, or a __cdecl
    one, which leaves them to the caller; calling one as the other unbalances the stack.
*/
namespace CallStubs
{
using Function = void (*)();

struct Export
{
    Function function;
    int argumentBytes; // on the 32-bit stack
};

/** Replaces each export's function with one that may be called as FWBRIDGE_CALL whichever
    convention the export has; where there is only one, the exports stay as they are. The
    replacements live as long as the process (as a loaded device library does). False, with
    nothing replaced, when they cannot be made. */
bool wrap (Export* exports, int count);

/** How wrapped exports are called, for the debug output; null where they are not wrapped. */
const char* howCalled();

/** The convention a wrapped export showed at its last call: "__stdcall" where it popped its
    arguments, "__cdecl" where it left them to its caller. Null before its first call, for
    an export without arguments, and for functions that were not wrapped. */
const char* conventionSeen (Function wrapped);
} // namespace CallStubs
