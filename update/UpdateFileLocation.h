#pragma once

#include <juce_core/juce_core.h>

/** Where the update file is looked for: the folder of the running executable, whatever
    the working folder is. Tests point it elsewhere; the product never does.
*/
namespace UpdateFileLocation
{
juce::File folder();
juce::File file (const juce::String& fileName);
void setFolderForTesting (const juce::File& folder); // an empty File restores the default
} // namespace UpdateFileLocation
