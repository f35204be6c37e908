#include "update/UpdateFileLocation.h"

#include "platform/ExecutableFile.h"

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

    return ExecutableFile::get().getParentDirectory();
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
