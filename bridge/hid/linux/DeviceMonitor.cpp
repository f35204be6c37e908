// Linux: a libudev monitor on the hidraw subsystem, woken through an eventfd.
#include "../DeviceMonitor.h"

#include <libudev.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <thread>

namespace fwbridge
{
struct DeviceMonitor::Watch
{
    std::function<void()> rescan;
    std::atomic<bool> stopping { false };
    int wakeFd = ::eventfd (0, EFD_CLOEXEC | EFD_NONBLOCK);
    std::thread thread;

    void loop()
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
        rescan();

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

            rescan();
        }

        if (events != nullptr)
            udev_monitor_unref (events);
        if (context != nullptr)
            udev_unref (context);
    }

    void wake()
    {
        const std::uint64_t one = 1;
        if (wakeFd >= 0)
            (void) ::write (wakeFd, &one, sizeof (one));
    }
};

DeviceMonitor::DeviceMonitor (std::function<void()> rescan) : watch (std::make_unique<Watch>())
{
    watch->rescan = std::move (rescan);
    watch->thread = std::thread ([w = watch.get()] { w->loop(); });
}

DeviceMonitor::~DeviceMonitor()
{
    stop();
    if (watch->wakeFd >= 0)
        ::close (watch->wakeFd);
}

void DeviceMonitor::wake()
{
    watch->wake();
}

void DeviceMonitor::stop()
{
    watch->stopping = true;
    watch->wake();
    if (watch->thread.joinable())
        watch->thread.join();
}
} // namespace fwbridge
