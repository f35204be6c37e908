#include "platform/ExecutableFile.h"

#include <climits>
#include <unistd.h>

juce::File ExecutableFile::get()
{
    // The kernel's own record of the file, however the program was started.
    char path[PATH_MAX];
    const auto length = ::readlink ("/proc/self/exe", path, sizeof (path));
    if (length > 0 && static_cast<size_t> (length) < sizeof (path))
        return juce::File (juce::String::fromUTF8 (path, static_cast<int> (length)));

    return juce::File::getSpecialLocation (juce::File::currentExecutableFile);
}
