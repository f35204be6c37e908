#include "update/UpdateFileLocation.h"

namespace UpdateFileLocation
{
namespace
{
juce::File& overrideFolder()
{
    static juce::File folder;
    return folder;
}
} // namespace

juce::File folder()
{
    if (overrideFolder() != juce::File())
        return overrideFolder();

    return juce::File::getSpecialLocation (juce::File::currentExecutableFile).getParentDirectory();
}

juce::File file (const juce::String& fileName)
{
    return folder().getChildFile (fileName);
}

void setFolderForTesting (const juce::File& newFolder)
{
    overrideFolder() = newFolder;
}
} // namespace UpdateFileLocation
