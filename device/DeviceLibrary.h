#pragma once

#include "device/FwBridge.h"

#include <juce_core/juce_core.h>

/** The ten functions of the device library, resolved by name at start. */
struct FwBridgeApi
{
    HID_Initialize_t initialize = nullptr;
    HID_SetCallback_t setCallback = nullptr;
    HID_Start_t start = nullptr;
    HID_Stop_t stop = nullptr;
    HID_Finalize_t finalize = nullptr;
    HID_EnumHIDno_t enumHidNumbers = nullptr;
    HID_GetDeviceType_t getDeviceType = nullptr;
    HID_GetFirmwareVersion_t getFirmwareVersion = nullptr;
    HID_Input_t input = nullptr;
    HID_Write_t write = nullptr;

    bool isComplete() const noexcept;
};

/** Loads the device library like a DLL beside an .exe: from the executable's folder
    first, else from the system's library path.
*/
namespace DeviceLibrary
{
/** The library's functions, loading it on first use; null when the library or one of
    its functions is missing (one line on the debug output names what). */
const FwBridgeApi* get();

/** Other functions in place of the library's: a scripted device in the tests, none in
    the screen tour (a set with a function missing counts as a library that lacks it);
    null returns to the library. */
void useInstead (const FwBridgeApi* api);

/** The file name looked for. */
const char* fileName();

/** Where get() looks: the executable's folder, then the bare name for the system's
    library path. */
juce::StringArray defaultCandidates();

/** The library get() loads, or would: its path (for a bare name, that name on the
    system's library path) and what the file says it is, as the debug line and
    krv-update --version show it. */
juce::String describeDefault();

/** Loads the first candidate that opens (a path that is not there is passed over) and
    resolves the ten functions into api. On failure api is left empty and problem holds
    the one debug line that names what was missing. */
bool load (const juce::StringArray& candidates, FwBridgeApi& api, juce::String& problem);

/** Where api's plain names could be either convention: the debug line that says which its
    functions called so far showed; empty where there is nothing to say. */
juce::String conventionNote (const FwBridgeApi& api);
} // namespace DeviceLibrary
