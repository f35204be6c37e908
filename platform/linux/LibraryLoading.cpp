// LoadLibraryA, GetProcAddress and FreeLibrary over the dynamic loader. A library opened
// by path is opened from there; a bare name is looked up on the system's library path.
#include "platform/LibraryLoading.h"
#include "platform/LibraryLoadError.h"
#include "platform/Win32.h"

#include <dlfcn.h>

#include <string>

namespace
{
thread_local std::string lastError;
}

HMODULE LoadLibraryA (LPCSTR fileName)
{
    if (fileName == nullptr)
        return nullptr;

    if (auto* handle = dlopen (fileName, RTLD_NOW | RTLD_LOCAL))
        return handle;

    const char* why = dlerror();
    lastError = why != nullptr ? why : std::string ("cannot load ") + fileName;
    return nullptr;
}

FARPROC GetProcAddress (HMODULE module, LPCSTR procedureName)
{
    if (module == nullptr || procedureName == nullptr)
        return nullptr;

    return reinterpret_cast<FARPROC> (dlsym (module, procedureName));
}

BOOL FreeLibrary (HMODULE module)
{
    return module != nullptr && dlclose (module) == 0 ? 1 : 0;
}

juce::String LibraryLoadError::describeLast (const juce::String&)
{
    // The loader's message names the file itself.
    return juce::String (lastError);
}

juce::StringArray LibraryLoading::candidates (const juce::File& besideExecutable)
{
    return { besideExecutable.getFullPathName(), besideExecutable.getFileName() };
}

HMODULE LibraryLoading::load (const juce::String& candidate)
{
    return LoadLibraryA (candidate.toRawUTF8());
}

juce::String LibraryLoading::describe (const juce::String&)
{
    // A shared object carries no description of itself.
    return {};
}
