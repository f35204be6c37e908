#include "update/UpdateFileLoader.h"

#include "update/UpdateFile.h"
#include "update/UpdateFileLocation.h"

#include <limits>

int loadUpdateFile (const juce::String& fileName, const char* modelName, int* version, UpdateRecordInfo* records)
{
    if (version != nullptr)
        *version = -1;

    const auto file = UpdateFileLocation::file (fileName);

    // A folder of that name opens on Linux but holds no file.
    if (! file.existsAsFile())
        return 0;

    juce::HeapBlock<std::uint8_t> buffer;
    int bytesRead = 0;
    {
        juce::FileInputStream stream (file);
        if (! stream.openedOk())
            return 0;

        const juce::int64 length = stream.getTotalLength();
        if (length < 0 || length > std::numeric_limits<int>::max())
            return 0;

        buffer.malloc ((size_t) juce::jmax<juce::int64> (length, 1));
        if (buffer == nullptr)
            return 0;

        bytesRead = juce::jmax (0, stream.read (buffer.get(), (int) length));
    }

    // Only the bytes actually read are looked at: a file that shrank meanwhile reads as
    // truncated rather than as whatever the buffer held.
    return parseUpdateFile (buffer.get(), (size_t) bytesRead, modelName, version, records);
}
