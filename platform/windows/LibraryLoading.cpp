#include "platform/LibraryLoading.h"

juce::StringArray LibraryLoading::candidates (const juce::File& besideExecutable)
{
    return { besideExecutable.getFullPathName() };
}

HMODULE LibraryLoading::load (const juce::String& candidate)
{
    // Once per process, before the first library: neither the working folder nor PATH is
    // searched for any DLL from then on.
    static const bool restricted = SetDefaultDllDirectories (LOAD_LIBRARY_SEARCH_DEFAULT_DIRS) != 0;
    juce::ignoreUnused (restricted);

    return LoadLibraryExW (candidate.toWideCharPointer(), nullptr,
                           LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
}
