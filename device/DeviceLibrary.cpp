#include "device/DeviceLibrary.h"

#include "platform/Win32.h"

#include <mutex>

#if ! defined(_WIN32)
 #include <dlfcn.h>
#endif

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

void* openOne (const juce::String& pathOrName, juce::String& error)
{
#if defined(_WIN32)
    if (auto* handle = LoadLibraryA (pathOrName.toRawUTF8()))
        return handle;
    error = "cannot load " + pathOrName;
    return nullptr;
#else
    if (auto* handle = dlopen (pathOrName.toRawUTF8(), RTLD_NOW | RTLD_LOCAL))
        return handle;
    const char* why = dlerror();
    error = why != nullptr ? juce::String (why) : "cannot load " + pathOrName;
    return nullptr;
#endif
}

void closeOne (void* library)
{
#if defined(_WIN32)
    FreeLibrary (static_cast<HMODULE> (library));
#else
    dlclose (library);
#endif
}

void* findFunction (void* library, const char* name)
{
#if defined(_WIN32)
    return reinterpret_cast<void*> (GetProcAddress (static_cast<HMODULE> (library), name));
#else
    return dlsym (library, name);
#endif
}

template <typename Fn>
void resolve (void* library, const char* name, Fn& function, juce::StringArray& missing)
{
    function = reinterpret_cast<Fn> (findFunction (library, name));
    if (function == nullptr)
        missing.add (name);
}
} // namespace

const char* fileName()
{
#if defined(_WIN32)
    return "fwbridge.dll";
#else
    return "libfwbridge.so";
#endif
}

bool load (const juce::StringArray& candidates, FwBridgeApi& api, juce::String& problem)
{
    api = {};
    void* library = nullptr;
    juce::StringArray failures;

    for (const auto& candidate : candidates)
    {
        const bool isPath = candidate.containsChar ('/') || candidate.containsChar ('\\');
        if (isPath && ! juce::File (candidate).existsAsFile())
        {
            failures.add ("no " + candidate);
            continue;
        }

        juce::String error;
        library = openOne (candidate, error);
        if (library != nullptr)
            break;
        failures.add (error);
    }

    if (library == nullptr)
    {
        problem = juce::String ("device library: ") + fileName() + " not loaded: " + failures.joinIntoString ("; ");
        return false;
    }

    juce::StringArray missing;
    resolve (library, "HID_Initialize", api.initialize, missing);
    resolve (library, "HID_SetCallback", api.setCallback, missing);
    resolve (library, "HID_Start", api.start, missing);
    resolve (library, "HID_Stop", api.stop, missing);
    resolve (library, "HID_Finalize", api.finalize, missing);
    resolve (library, "HID_EnumHIDno", api.enumHidNumbers, missing);
    resolve (library, "HID_GetDeviceType", api.getDeviceType, missing);
    resolve (library, "HID_GetFirmwareVersion", api.getFirmwareVersion, missing);
    resolve (library, "HID_Input", api.input, missing);
    resolve (library, "HID_Write", api.write, missing);

    if (! missing.isEmpty())
    {
        problem = juce::String ("device library: ") + fileName() + " lacks " + missing.joinIntoString (", ");
        api = {};
        closeOne (library);
        return false;
    }

    // A loaded library stays loaded for the life of the process.
    return true;
}

juce::StringArray defaultCandidates()
{
    const auto besideExecutable = juce::File::getSpecialLocation (juce::File::currentExecutableFile)
                                      .getSiblingFile (fileName());
    return { besideExecutable.getFullPathName(), juce::String (fileName()) };
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
