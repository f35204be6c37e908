#pragma once

#include <juce_core/juce_core.h>

/** The running executable's own file, symbolic links followed: the folder that holds the
    device library and the update file. On Linux JUCE's currentExecutableFile reads the name
    the program was started by against the working folder, which names the wrong file when
    the program was found through PATH.
*/
namespace ExecutableFile
{
juce::File get();
}
