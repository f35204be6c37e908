#pragma once

#include "device/FwBridge.h"

// The ten functions of the device library, resolved by name at start.
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

// Loads the device library like a DLL beside an .exe: from the executable's folder
// first, else from the system's library path.
namespace DeviceLibrary
{
/** The library's functions, loading it on first use; null when the library or one of
    its functions is missing (one line on the debug output names what). */
const FwBridgeApi* get();

/** Tests hand in a scripted library instead; null returns to the real one. */
void useForTesting (const FwBridgeApi* api);

/** The file name looked for. */
const char* fileName();
} // namespace DeviceLibrary
