#pragma once

#include "platform/Win32.h"

#include <juce_core/juce_core.h>

/** Where and how the device library is loaded. */
namespace LibraryLoading
{
/** The files to try, in order: beside the executable and, on Linux, then by bare name on
    the system's library path. Windows tries nothing else: a DLL planted in the working
    folder or on PATH must never be loaded. */
juce::StringArray candidates (const juce::File& besideExecutable);

/** Loads one candidate. On Windows by its wide path (any letters), with the library's own
    folder and System32 searched for its dependencies, after the process's own search has
    been restricted to the system's safe folders. */
HMODULE load (const juce::String& candidate);

/** What a library file says it is, without loading it: its description and version
    where the system keeps them in the file (Windows' version resource), else empty. */
juce::String describe (const juce::String& path);
} // namespace LibraryLoading
