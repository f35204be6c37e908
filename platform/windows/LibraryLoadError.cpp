#include "platform/LibraryLoadError.h"

#include "platform/Win32.h"

#include <iterator>

juce::String LibraryLoadError::describeLast (const juce::String& fileName)
{
    const auto code = GetLastError();
    wchar_t text[512] {};
    const auto length = FormatMessageW (FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                                        0, text, (DWORD) std::size (text), nullptr);
    const auto words = juce::String (text, (size_t) length).trim();
    return fileName + ": " + (words.isNotEmpty() ? words : juce::String ("error")) + " (" + juce::String ((int) code) + ")";
}
