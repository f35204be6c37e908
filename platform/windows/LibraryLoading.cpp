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

juce::String LibraryLoading::describe (const juce::String& path)
{
    DWORD ignored = 0;
    const auto size = GetFileVersionInfoSizeW (path.toWideCharPointer(), &ignored);
    juce::HeapBlock<char> info (size == 0 ? 1 : size, true);
    if (size == 0 || ! GetFileVersionInfoW (path.toWideCharPointer(), 0, size, info.get()))
        return {};

    // The first language the resource has, as Explorer shows it.
    struct Translation
    {
        WORD language, codePage;
    };
    Translation* translation = nullptr;
    UINT length = 0;
    if (! VerQueryValueW (info.get(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**> (&translation), &length)
        || length < sizeof (Translation))
        return {};

    const auto value = [&] (const char* name) {
        const auto key = juce::String::formatted ("\\StringFileInfo\\%04x%04x\\", translation->language, translation->codePage) + name;
        wchar_t* text = nullptr;
        UINT characters = 0;
        if (VerQueryValueW (info.get(), key.toWideCharPointer(), reinterpret_cast<void**> (&text), &characters) && characters > 0)
            return juce::String (text).trim();
        return juce::String();
    };

    return juce::StringArray { value ("FileDescription"), value ("FileVersion") }.joinIntoString (" ").trim();
}
