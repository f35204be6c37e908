#include "device/DeviceLibrary.h"

#include "platform/ExecutableFile.h"
#include "platform/LibraryLoadError.h"
#include "platform/LibraryLoading.h"
#include "platform/Win32.h"

#include <cstdio>
#include <mutex>

bool FwBridgeApi::isComplete() const noexcept
{
    return initialize != nullptr && setCallback != nullptr && start != nullptr && stop != nullptr
           && finalize != nullptr && enumHidNumbers != nullptr && getDeviceType != nullptr
           && getFirmwareVersion != nullptr && input != nullptr && write != nullptr;
}

namespace DeviceLibrary
{
namespace
{
std::mutex loadLock;
const FwBridgeApi* testApi = nullptr;
bool loadAttempted = false;
FwBridgeApi loadedApi;
bool loadedOk = false;

// Decorations a name gets under other conventions or without undecorated exports, given
// the bytes of arguments on the 32-bit stack. None of them is ever called.
struct Decoration
{
    const char* format;
    const char* meaning;
};

const Decoration decorations[] = {
    { "%s@%d", "decorated __stdcall names" },
    { "_%s@%d", "decorated __stdcall names" },
    { "_%s", "__cdecl names" },
    { "@%s@%d", "__fastcall names" }
};

template <typename Fn>
void resolve (HMODULE library, const char* name, int argumentCount, Fn& function,
              juce::StringArray& missing, juce::StringArray& misnamed, juce::String& convention)
{
    // Through a function pointer without parameters, the one cast GCC takes between them.
    function = reinterpret_cast<Fn> (reinterpret_cast<void (*)()> (GetProcAddress (library, name)));
    if (function != nullptr)
        return;

    missing.add (name);

    for (const auto& decoration : decorations)
    {
        char decorated[64];
        std::snprintf (decorated, sizeof (decorated), decoration.format, name, 4 * argumentCount);
        if (GetProcAddress (library, decorated) != nullptr)
        {
            misnamed.add (decorated);
            if (convention.isEmpty())
                convention = decoration.meaning;
            return;
        }
    }
}
} // namespace

const char* fileName()
{
    return KRV_DEVICE_LIBRARY_FILE_NAME;
}

bool load (const juce::StringArray& candidates, FwBridgeApi& api, juce::String& problem)
{
    api = {};
    HMODULE library = nullptr;
    juce::StringArray failures;

    for (const auto& candidate : candidates)
    {
        const bool isPath = candidate.containsChar ('/') || candidate.containsChar ('\\');
        if (isPath && ! juce::File (candidate).existsAsFile())
        {
            failures.add ("no " + candidate);
            continue;
        }

        library = LibraryLoading::load (candidate);
        if (library != nullptr)
            break;
        failures.add (LibraryLoadError::describeLast (candidate));
    }

    if (library == nullptr)
    {
        problem = juce::String ("device library: ") + fileName() + " not loaded: " + failures.joinIntoString ("; ");
        return false;
    }

    juce::StringArray missing, misnamed;
    juce::String convention;
    resolve (library, "HID_Initialize", 1, api.initialize, missing, misnamed, convention);
    resolve (library, "HID_SetCallback", 4, api.setCallback, missing, misnamed, convention);
    resolve (library, "HID_Start", 0, api.start, missing, misnamed, convention);
    resolve (library, "HID_Stop", 0, api.stop, missing, misnamed, convention);
    resolve (library, "HID_Finalize", 0, api.finalize, missing, misnamed, convention);
    resolve (library, "HID_EnumHIDno", 1, api.enumHidNumbers, missing, misnamed, convention);
    resolve (library, "HID_GetDeviceType", 1, api.getDeviceType, missing, misnamed, convention);
    resolve (library, "HID_GetFirmwareVersion", 3, api.getFirmwareVersion, missing, misnamed, convention);
    resolve (library, "HID_Input", 3, api.input, missing, misnamed, convention);
    resolve (library, "HID_Write", 3, api.write, missing, misnamed, convention);

    if (! missing.isEmpty())
    {
        problem = juce::String ("device library: ") + fileName() + " lacks " + missing.joinIntoString (", ");
        if (! misnamed.isEmpty())
            problem << " under those names; it exports " << misnamed.joinIntoString (", ") << " (" << convention
                    << "), but a " << fileName() << " must export undecorated __stdcall names";
        api = {};
        FreeLibrary (library);
        return false;
    }

    // A loaded library stays loaded for the life of the process.
    return true;
}

juce::StringArray defaultCandidates()
{
    return LibraryLoading::candidates (ExecutableFile::get().getSiblingFile (fileName()));
}

const FwBridgeApi* get()
{
    std::lock_guard<std::mutex> guard (loadLock);

    // A scripted library without all ten functions stands for one that lacks some.
    if (testApi != nullptr)
        return testApi->isComplete() ? testApi : nullptr;

    if (! loadAttempted)
    {
        loadAttempted = true;
        juce::String problem;
        loadedOk = load (defaultCandidates(), loadedApi, problem);
        if (! loadedOk)
            OutputDebugStringA ((problem + "\n").toRawUTF8());
    }

    return loadedOk ? &loadedApi : nullptr;
}

void useInstead (const FwBridgeApi* api)
{
    std::lock_guard<std::mutex> guard (loadLock);
    testApi = api;
}
} // namespace DeviceLibrary
