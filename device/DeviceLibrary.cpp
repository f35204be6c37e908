#include "device/DeviceLibrary.h"

#include "platform/CallStubs.h"
#include "platform/ExecutableFile.h"
#include "platform/LibraryLoadError.h"
#include "platform/LibraryLoading.h"
#include "platform/Win32.h"

#include <cstdio>
#include <iterator>
#include <map>
#include <mutex>
#include <type_traits>

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

// What one of the ten functions was found as: a plain name is wrapped (platform/CallStubs.h),
// since it does not tell whether the function is __stdcall or __cdecl.
struct Found
{
    CallStubs::Function address = nullptr;
    bool plain = false;
};

Found resolve (HMODULE library, const char* name, int argumentCount, juce::StringArray& missing,
               juce::StringArray& misnamed, juce::StringArray& decorated, juce::String& convention)
{
    // Through a function pointer without parameters, the one cast GCC takes between them.
    const auto find = [library] (const char* exported) {
        return reinterpret_cast<CallStubs::Function> (GetProcAddress (library, exported));
    };

    if (auto address = find (name))
        return { address, true };

    for (const auto& decoration : decorations)
    {
        char decoratedName[64];
        std::snprintf (decoratedName, sizeof (decoratedName), decoration.format, name, 4 * argumentCount);
        if (decoration.taken)
        {
            if (auto address = find (decoratedName))
            {
                decorated.add (decoratedName);
                return { address, false };
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
    return {};
}

template <auto member>
void store (FwBridgeApi& api, CallStubs::Function function)
{
    using Fn = std::remove_reference_t<decltype (api.*member)>;
    api.*member = reinterpret_cast<Fn> (function);
}

template <auto member>
CallStubs::Function stored (const FwBridgeApi& api)
{
    return reinterpret_cast<CallStubs::Function> (api.*member);
}

struct Function
{
    const char* name;
    int argumentCount;
    void (*store) (FwBridgeApi&, CallStubs::Function);
    CallStubs::Function (*stored) (const FwBridgeApi&);
};

template <auto member>
constexpr Function entry (const char* name, int argumentCount)
{
    return { name, argumentCount, store<member>, stored<member> };
}

const Function functions[] = {
    entry<&FwBridgeApi::initialize> ("HID_Initialize", 1),
    entry<&FwBridgeApi::setCallback> ("HID_SetCallback", 4),
    entry<&FwBridgeApi::start> ("HID_Start", 0),
    entry<&FwBridgeApi::stop> ("HID_Stop", 0),
    entry<&FwBridgeApi::finalize> ("HID_Finalize", 0),
    entry<&FwBridgeApi::enumHidNumbers> ("HID_EnumHIDno", 1),
    entry<&FwBridgeApi::getDeviceType> ("HID_GetDeviceType", 1),
    entry<&FwBridgeApi::getFirmwareVersion> ("HID_GetFirmwareVersion", 3),
    entry<&FwBridgeApi::input> ("HID_Input", 3),
    entry<&FwBridgeApi::write> ("HID_Write", 3),
};
constexpr int functionCount = (int) std::size (functions);
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

    juce::StringArray missing, misnamed, decorated, plain;
    juce::String convention;
    Found found[functionCount];
    for (int i = 0; i < functionCount; ++i)
        found[i] = resolve (library, functions[i].name, functions[i].argumentCount, missing, misnamed, decorated, convention);

    if (! missing.isEmpty())
    {
        problem = juce::String ("device library: ") + fileName() + " lacks " + missing.joinIntoString (", ");
        if (! misnamed.isEmpty())
            problem << " under those names; it exports " << misnamed.joinIntoString (", ") << " (" << convention
                    << "), but a " << fileName() << " must export plain or decorated __stdcall names";
        FreeLibrary (library);
        return false;
    }

    CallStubs::Export wrapped[functionCount];
    int wrappedCount = 0;
    for (int i = 0; i < functionCount; ++i)
        if (found[i].plain)
            wrapped[wrappedCount++] = { found[i].address, 4 * functions[i].argumentCount };

    if (! CallStubs::wrap (wrapped, wrappedCount))
    {
        problem = juce::String ("device library: ") + fileName() + " loaded, but the calls into its functions could not be prepared";
        FreeLibrary (library);
        return false;
    }

    for (int i = 0, next = 0; i < functionCount; ++i)
    {
        if (found[i].plain)
        {
            found[i].address = wrapped[next++].function;
            plain.add (functions[i].name);
        }
        functions[i].store (api, found[i].address);
    }

    juce::StringArray notes;
    if (! decorated.isEmpty())
        notes.add ("exports decorated __stdcall names (" + decorated.joinIntoString (", ") + "), called as __stdcall");
    if (! plain.isEmpty() && CallStubs::howCalled() != nullptr)
        notes.add ("exports plain names (" + plain.joinIntoString (", ") + "), " + CallStubs::howCalled());
    if (! notes.isEmpty())
        OutputDebugStringA ((juce::String ("device library: ") + fileName() + " " + notes.joinIntoString ("; ") + "\n").toRawUTF8());

    // A loaded library stays loaded for the life of the process.
    return true;
}

juce::String conventionNote (const FwBridgeApi& api)
{
    // Functions called so far, by the convention they showed.
    std::map<juce::String, juce::StringArray> seen;
    for (const auto& function : functions)
        if (const auto* convention = CallStubs::conventionSeen (function.stored (api)))
            seen[convention].add (function.name);

    if (seen.empty())
        return {};

    const auto prefix = juce::String ("device library: ") + fileName() + "'s functions ";
    if (seen.size() == 1)
    {
        const auto& [convention, names] = *seen.begin();
        const auto what = convention == "__stdcall" ? " popped their own arguments"
                          : convention == "__cdecl" ? " left their arguments to the caller"
                                                    : " moved the stack as neither does";
        return prefix + "are " + convention + ": " + names.joinIntoString (" and ") + what;
    }

    juce::StringArray parts;
    for (const auto& [convention, names] : seen)
        parts.add (names.joinIntoString (", ") + " " + convention);
    return prefix + "mix conventions: " + parts.joinIntoString ("; ");
}

juce::StringArray defaultCandidates()
{
    return LibraryLoading::candidates (ExecutableFile::get().getSiblingFile (fileName()));
}

juce::String describeDefault()
{
    const auto candidates = defaultCandidates();
    for (const auto& candidate : candidates)
    {
        const bool isPath = candidate.containsChar ('/') || candidate.containsChar ('\\');
        if (isPath && ! juce::File (candidate).existsAsFile())
            continue;
        if (! isPath)
            return candidate + " from the system's library path";
        const auto said = LibraryLoading::describe (candidate);
        return candidate + (said.isNotEmpty() ? " (" + said + ")" : " (no version information)");
    }
    return "none: no " + candidates.joinIntoString (", no ");
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
        // Which library a user's trace came from: ours, or a maker's put in its place.
        OutputDebugStringA (((loadedOk ? "device library: loaded " + describeDefault() : problem) + "\n").toRawUTF8());
    }

    return loadedOk ? &loadedApi : nullptr;
}

void useInstead (const FwBridgeApi* api)
{
    std::lock_guard<std::mutex> guard (loadLock);
    testApi = api;
}
} // namespace DeviceLibrary
