#pragma once

#include "device/HidHandler.h"
#include "platform/Win32.h"

#include <atomic>
#include <cstdint>

struct FwBridgeApi;

/** The low-level link: starts and stops the device library, owns the hidden window that
    receives its messages, and keeps the HID number of the current device.
*/
class HidUtil
{
public:
    HidUtil() = default;
    virtual ~HidUtil();

    bool start (HidHandler* owner, int modelIndex);
    void stop();
    bool lookup();
    bool release();
    int readFirmwareVersion();
    int readInput (std::uint8_t* buffer, int capacity);
    bool write (const std::uint8_t* data, int length);

    int getHidNumber() const noexcept { return hidNumber.load(); }

    static constexpr const char* windowClassName = "HID_WINDOW_CALLBACK";
    static constexpr int acceptedDeviceTypes[2] = { 0, 7 };

    static HidUtil* getActiveInstance() noexcept { return activeInstance.load(); }

private:
    static LRESULT CALLBACK windowProcedure (HWND, UINT, WPARAM, LPARAM);
    int acceptedType() const noexcept;

    HidHandler* owner = nullptr;
    int modelIndex = 0;
    HINSTANCE instance = nullptr;
    HWND window = nullptr;
    std::atomic<int> hidNumber { -1 };
    const FwBridgeApi* api = nullptr;

    static std::atomic<HidUtil*> activeInstance;

    HidUtil (const HidUtil&) = delete;
    HidUtil& operator= (const HidUtil&) = delete;
};
