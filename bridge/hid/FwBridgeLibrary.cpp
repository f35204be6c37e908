// The device library for real controllers (libfwbridge.so, fwbridge.dll): the ten
// functions over the bridge, the system's HID stack (SystemBackend) and its watch for
// arrivals and removals (DeviceMonitor).
#include "device/FwBridge.h"

#include "DeviceBridge.h"
#include "DeviceMonitor.h"
#include "SystemBackend.h"

#include <cstdlib>
#include <memory>
#include <mutex>

namespace
{
struct Library
{
    fwbridge::MessageTarget target;
    std::unique_ptr<fwbridge::HidBackend> backend;
    std::unique_ptr<fwbridge::DeviceBridge> bridge;
    std::unique_ptr<fwbridge::DeviceMonitor> monitor;
    std::mutex lifecycle; // start and stop
    std::mutex watchLock; // monitor, as the readers see it

    ~Library() { stop(); }

    int start()
    {
        std::lock_guard<std::mutex> guard (lifecycle);
        if (bridge != nullptr)
            return 1;

        backend = fwbridge::createSystemBackend();
        if (backend == nullptr)
            return 0;

        bridge = std::make_unique<fwbridge::DeviceBridge> (*backend, [this] (fwbridge::Event event, int number) { return target.post (event, number); });
        // A reader that fails before the watch runs is seen by the watch's first rescan.
        bridge->onReadError = [this] {
            std::lock_guard<std::mutex> watchGuard (watchLock);
            if (monitor != nullptr)
                monitor->wake();
        };
        // A log for bug reports: every report, arrival and removal, into the file named.
        if (const char* logPath = std::getenv ("KRV_HIDRAW_LOG"); logPath != nullptr && *logPath != 0)
            bridge->protocolLog.open (logPath);
        bridge->protocolLog.note ("started");
        bridge->rescan (false);

        target.enable (true);
        {
            std::lock_guard<std::mutex> watchGuard (watchLock);
            monitor = std::make_unique<fwbridge::DeviceMonitor> ([this] { bridge->rescan (true); });
        }
        return 1;
    }

    int stop()
    {
        std::lock_guard<std::mutex> guard (lifecycle);
        if (bridge == nullptr)
            return 1;

        target.enable (false);
        // The watch ends first, so no rescan opens anything again; readers may still wake it.
        monitor->stop();
        bridge->closeAll();
        {
            std::lock_guard<std::mutex> watchGuard (watchLock);
            monitor.reset();
        }
        bridge->protocolLog.note ("stopped");
        bridge.reset();
        backend.reset();
        return 1;
    }

    template <typename Fn>
    int withBridge (Fn&& fn)
    {
        // Calls come from the host's threads only between HID_Start and HID_Stop.
        return bridge != nullptr ? fn (*bridge) : 0;
    }
};

Library& library()
{
    static Library instance;
    return instance;
}
} // namespace

extern "C"
{
FWBRIDGE_EXPORT int FWBRIDGE_CALL HID_Initialize (void*)
{
    return 1;
}

FWBRIDGE_EXPORT int FWBRIDGE_CALL HID_SetCallback (void* window, unsigned inputMessage, unsigned arrivalMessage, unsigned removalMessage)
{
    library().target.setWindow (window, inputMessage, arrivalMessage, removalMessage);
    return 1;
}

FWBRIDGE_EXPORT int FWBRIDGE_CALL HID_Start (void)
{
    return library().start();
}

FWBRIDGE_EXPORT int FWBRIDGE_CALL HID_Stop (void)
{
    return library().stop();
}

FWBRIDGE_EXPORT int FWBRIDGE_CALL HID_Finalize (void)
{
    return library().stop();
}

FWBRIDGE_EXPORT int FWBRIDGE_CALL HID_EnumHIDno (int* numbers)
{
    if (numbers == nullptr)
        return 0;
    return library().withBridge ([numbers] (fwbridge::DeviceBridge& b) { return b.enumerate (numbers); });
}

FWBRIDGE_EXPORT int FWBRIDGE_CALL HID_GetDeviceType (int hidNumber)
{
    auto& lib = library();
    return lib.bridge != nullptr ? lib.bridge->deviceType (hidNumber) : -1;
}

FWBRIDGE_EXPORT int FWBRIDGE_CALL HID_GetFirmwareVersion (int typeCode, int* version, int count)
{
    return library().withBridge ([=] (fwbridge::DeviceBridge& b) { return b.firmwareVersion (typeCode, version, count); });
}

FWBRIDGE_EXPORT int FWBRIDGE_CALL HID_Input (int hidNumber, unsigned char* buffer, int* length)
{
    auto& lib = library();
    if (lib.bridge == nullptr)
    {
        if (length != nullptr)
            *length = 0;
        return 0;
    }
    return lib.bridge->input (hidNumber, buffer, length);
}

FWBRIDGE_EXPORT int FWBRIDGE_CALL HID_Write (int hidNumber, const unsigned char* data, int length)
{
    return library().withBridge ([=] (fwbridge::DeviceBridge& b) { return b.write (hidNumber, data, length); });
}
}
