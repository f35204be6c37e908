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

// Names a function gets under other conventions or without undecorated exports, given the
// bytes of arguments on the 32-bit stack. A decorated __stdcall name with the right byte
// count proves the convention the loader calls with (as MinGW's and MSVC's linkers write
// it): it is taken. The others never are, and none of them is called while loading.
struct Decoration
{
    const char* format;
    const char* meaning;
    bool taken;
};

const Decoration decorations[] = {
    { "%s@%d", "decorated __stdcall names", true },
    { "_%s@%d", "decorated __stdcall names", true },
    { "_%s", "__cdecl names", false },
    { "@%s@%d", "__fastcall names", false }
};

template <typename Fn>
void resolve (HMODULE library, const char* name, int argumentCount, Fn& function,
              juce::StringArray& missing, juce::StringArray& misnamed, juce::StringArray& decorated,
              juce::String& convention)
{
    // Through a function pointer without parameters, the one cast GCC takes between them.
    const auto take = [&] (const char* exported) {
        function = reinterpret_cast<Fn> (reinterpret_cast<void (*)()> (GetProcAddress (library, exported)));
        return function != nullptr;
    };

    if (take (name))
        return;

    for (const auto& decoration : decorations)
    {
        char decoratedName[64];
        std::snprintf (decoratedName, sizeof (decoratedName), decoration.format, name, 4 * argumentCount);
        if (decoration.taken)
        {
            if (take (decoratedName))
            {
                decorated.add (decoratedName);
                return;
            }
        }
        else if (GetProcAddress (library, decoratedName) != nullptr)
        {
            misnamed.add (decoratedName);
            if (convention.isEmpty())
                convention = decoration.meaning;
            break;
        }
    }

    missing.add (name);
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

    juce::StringArray missing, misnamed, decorated;
    juce::String convention;
    resolve (library, "HID_Initialize", 1, api.initialize, missing, misnamed, decorated, convention);
    resolve (library, "HID_SetCallback", 4, api.setCallback, missing, misnamed, decorated, convention);
    resolve (library, "HID_Start", 0, api.start, missing, misnamed, decorated, convention);
    resolve (library, "HID_Stop", 0, api.stop, missing, misnamed, decorated, convention);
    resolve (library, "HID_Finalize", 0, api.finalize, missing, misnamed, decorated, convention);
    resolve (library, "HID_EnumHIDno", 1, api.enumHidNumbers, missing, misnamed, decorated, convention);
    resolve (library, "HID_GetDeviceType", 1, api.getDeviceType, missing, misnamed, decorated, convention);
    resolve (library, "HID_GetFirmwareVersion", 3, api.getFirmwareVersion, missing, misnamed, decorated, convention);
    resolve (library, "HID_Input", 3, api.input, missing, misnamed, decorated, convention);
    resolve (library, "HID_Write", 3, api.write, missing, misnamed, decorated, convention);

    if (! missing.isEmpty())
    {
        problem = juce::String ("device library: ") + fileName() + " lacks " + missing.joinIntoString (", ");
        if (! misnamed.isEmpty())
            problem << " under those names; it exports " << misnamed.joinIntoString (", ") << " (" << convention
                    << "), but a " << fileName() << " must export __stdcall names";
        api = {};
        FreeLibrary (library);
        return false;
    }

    if (! decorated.isEmpty())
    {
        const auto note = juce::String ("device library: ") + fileName() + " exports decorated __stdcall names ("
                          + decorated.joinIntoString (", ") + "), called as __stdcall\n";
        OutputDebugStringA (note.toRawUTF8());
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
