#pragma once

#include <juce_core/juce_core.h>

/** Why the last LoadLibraryA of this thread, given fileName, failed: the system's own
    words, naming the file.
*/
class LibraryLoadError
{
public:
    static juce::String describeLast (const juce::String& fileName);
};
