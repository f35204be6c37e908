#include "platform/ExecutableFile.h"

// JUCE asks Windows for the module's own file name (GetModuleFileNameW).
juce::File ExecutableFile::get()
{
    return juce::File::getSpecialLocation (juce::File::currentExecutableFile);
}
