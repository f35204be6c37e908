// libfwbridge.so for real controllers: hidapi's hidraw backend for reading and writing,
// a libudev monitor for arrival and removal.
#include "device/FwBridge.h"

#include "DeviceBridge.h"
#include "HidapiBackend.h"

#include <hidapi/hidapi.h>
#include <libudev.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>

namespace
{
struct Library
{
    fwbridge::MessageTarget target;
    fwbridge::HidapiBackend backend;
    std::unique_ptr<fwbridge::DeviceBridge> bridge;
    std::mutex lifecycle; // start and stop
    std::thread monitor;
    std::atomic<bool> stopping { false };
    int wakeFd = -1;
    bool started = false;

    ~Library() { stop(); }

    void wake()
    {
        const std::uint64_t one = 1;
        if (wakeFd >= 0)
            (void) ::write (wakeFd, &one, sizeof (one));
    }

    void monitorLoop()
    {
        udev* context = udev_new();
        udev_monitor* events = context != nullptr ? udev_monitor_new_from_netlink (context, "udev") : nullptr;
        if (events != nullptr
            && (udev_monitor_filter_add_match_subsystem_devtype (events, "hidraw", nullptr) < 0
                || udev_monitor_enable_receiving (events) < 0))
        {
            udev_monitor_unref (events);
            events = nullptr;
        }

        const int eventFd = events != nullptr ? udev_monitor_get_fd (events) : -1;

        // Anything that came between the first look and the subscription.
        bridge->rescan (true);

        while (! stopping)
        {
            pollfd fds[2] = { { wakeFd, POLLIN, 0 }, { eventFd, POLLIN, 0 } };
            // Without udev's events (no udev daemon, in a container) a periodic look
            // still notices; with them it only retries devices that could not be opened.
            const int ready = ::poll (fds, eventFd >= 0 ? 2 : 1, eventFd >= 0 ? 2000 : 500);
            if (stopping)
                break;

            if (ready > 0 && (fds[0].revents & POLLIN) != 0)
            {
                std::uint64_t count = 0;
                (void) ::read (wakeFd, &count, sizeof (count));
            }

            if (eventFd >= 0 && (fds[1].revents & POLLIN) != 0)
                while (auto* device = udev_monitor_receive_device (events))
                    udev_device_unref (device);

            bridge->rescan (true);
        }

        if (events != nullptr)
            udev_monitor_unref (events);
        if (context != nullptr)
            udev_unref (context);
    }

    int start()
    {
        std::lock_guard<std::mutex> guard (lifecycle);
        if (started)
            return 1;

        if (hid_init() != 0)
            return 0;

        wakeFd = ::eventfd (0, EFD_CLOEXEC | EFD_NONBLOCK);
        bridge = std::make_unique<fwbridge::DeviceBridge> (backend, [this] (fwbridge::Event event, int number) { return target.post (event, number); });
        bridge->onReadError = [this] { wake(); };
        // A log for bug reports: every report, arrival and removal, into the file named.
        if (const char* logPath = std::getenv ("KRV_HIDRAW_LOG"); logPath != nullptr && *logPath != 0)
            bridge->protocolLog.open (logPath);
        bridge->protocolLog.note ("started");
        bridge->rescan (false);

        stopping = false;
        target.enable (true);
        monitor = std::thread ([this] { monitorLoop(); });
        started = true;
        return 1;
    }

    int stop()
    {
        std::lock_guard<std::mutex> guard (lifecycle);
        if (! started)
            return 1;

        target.enable (false);
        stopping = true;
        wake();
        if (monitor.joinable())
            monitor.join();

        bridge->closeAll();
        bridge->protocolLog.note ("stopped");
        bridge.reset();
        if (wakeFd >= 0)
            ::close (wakeFd);
        wakeFd = -1;
        started = false;
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
int HID_Initialize (void*)
{
    return 1;
}

int HID_SetCallback (void* window, unsigned inputMessage, unsigned arrivalMessage, unsigned removalMessage)
{
    library().target.setWindow (window, inputMessage, arrivalMessage, removalMessage);
    return 1;
}

int HID_Start (void)
{
    return library().start();
}

int HID_Stop (void)
{
    return library().stop();
}

int HID_Finalize (void)
{
    library().stop();
    hid_exit();
    return 1;
}

int HID_EnumHIDno (int* numbers)
{
    if (numbers == nullptr)
        return 0;
    return library().withBridge ([numbers] (fwbridge::DeviceBridge& b) { return b.enumerate (numbers); });
}

int HID_GetDeviceType (int hidNumber)
{
    auto& lib = library();
    return lib.bridge != nullptr ? lib.bridge->deviceType (hidNumber) : -1;
}

int HID_GetFirmwareVersion (int typeCode, int* version, int count)
{
    return library().withBridge ([=] (fwbridge::DeviceBridge& b) { return b.firmwareVersion (typeCode, version, count); });
}

int HID_Input (int hidNumber, unsigned char* buffer, int* length)
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

int HID_Write (int hidNumber, const unsigned char* data, int length)
{
    return library().withBridge ([=] (fwbridge::DeviceBridge& b) { return b.write (hidNumber, data, length); });
}
}
