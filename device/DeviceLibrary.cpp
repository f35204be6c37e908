#include "device/DeviceLibrary.h"

#include "platform/Win32.h"

#include <juce_core/juce_core.h>

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

void trace (const juce::String& line)
{
    OutputDebugStringA ((line + "\n").toRawUTF8());
}

void* openLibrary()
{
    const auto besideExecutable = juce::File::getSpecialLocation (juce::File::currentExecutableFile)
                                      .getSiblingFile (fileName());
#if defined(_WIN32)
    if (auto* handle = LoadLibraryA (besideExecutable.getFullPathName().toRawUTF8()))
        return handle;
    return LoadLibraryA (fileName());
#else
    if (besideExecutable.existsAsFile())
    {
        if (auto* handle = dlopen (besideExecutable.getFullPathName().toRawUTF8(), RTLD_NOW | RTLD_LOCAL))
            return handle;
        trace ("device library: cannot load " + besideExecutable.getFullPathName() + ": " + juce::String (dlerror()));
    }
    return dlopen (fileName(), RTLD_NOW | RTLD_LOCAL);
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
bool resolve (void* library, const char* name, Fn& function, juce::StringArray& missing)
{
    function = reinterpret_cast<Fn> (findFunction (library, name));
    if (function == nullptr)
        missing.add (name);
    return function != nullptr;
}

void load()
{
    auto* library = openLibrary();
    if (library == nullptr)
    {
        trace (juce::String ("device library: ") + fileName() + " not found beside the executable or on the library path");
        return;
    }

    juce::StringArray missing;
    resolve (library, "HID_Initialize", loadedApi.initialize, missing);
    resolve (library, "HID_SetCallback", loadedApi.setCallback, missing);
    resolve (library, "HID_Start", loadedApi.start, missing);
    resolve (library, "HID_Stop", loadedApi.stop, missing);
    resolve (library, "HID_Finalize", loadedApi.finalize, missing);
    resolve (library, "HID_EnumHIDno", loadedApi.enumHidNumbers, missing);
    resolve (library, "HID_GetDeviceType", loadedApi.getDeviceType, missing);
    resolve (library, "HID_GetFirmwareVersion", loadedApi.getFirmwareVersion, missing);
    resolve (library, "HID_Input", loadedApi.input, missing);
    resolve (library, "HID_Write", loadedApi.write, missing);

    if (! missing.isEmpty())
    {
        trace (juce::String ("device library: ") + fileName() + " lacks " + missing.joinIntoString (", "));
        return;
    }

    // The library stays loaded for the life of the process.
    loadedOk = true;
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

const FwBridgeApi* get()
{
    std::lock_guard<std::mutex> guard (loadLock);

    if (testApi != nullptr)
        return testApi;

    if (! loadAttempted)
    {
        loadAttempted = true;
        load();
    }

    return loadedOk ? &loadedApi : nullptr;
}

void useForTesting (const FwBridgeApi* api)
{
    std::lock_guard<std::mutex> guard (loadLock);
    testApi = api;
}
} // namespace DeviceLibrary
