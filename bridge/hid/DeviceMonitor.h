#pragma once

#include <functional>
#include <memory>

namespace fwbridge
{
/** Watches for HID interfaces coming and going, on a thread of its own, and calls rescan
    there: once at start (what came between the first look and the watch), at every
    event of the system's (udev's hidraw events on Linux, device notifications for the
    HID interface class on Windows), when woken, and periodically, so a system that sends
    no events is still noticed within a second.
*/
class DeviceMonitor
{
public:
    explicit DeviceMonitor (std::function<void()> rescan);
    ~DeviceMonitor();

    /** Asks for a rescan now (a reader lost its device); from any thread, also after stop. */
    void wake();

    /** Ends the watch: no rescan starts after this returns. */
    void stop();

private:
    struct Watch;
    std::unique_ptr<Watch> watch;
};
} // namespace fwbridge
