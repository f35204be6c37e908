#pragma once

// A KRV-7000 at the kernel interface, for the shipped device library: umockdev's testbed
// fakes /sys, /dev and udev's events for this process (run under its preload library),
// and this class fills them the way the kernel and udev would for a USB controller: the
// usb device (ids, bcdDevice, serial), its HID interfaces (number, report descriptor,
// numbered or not) and a hidraw node each. The node is a pseudo-terminal whose reads,
// writes and ioctls umockdev hands to us: reads give one input report each, writes reach
// the controller's model (bridge/sim's Krv7000Model), and a byte in the terminal makes
// poll() see input, as a hidraw node's does. Unplugging closes the terminal (poll()
// reports a hang-up, like a hidraw node whose device left) and removes the entries.

#include "bridge/sim/Krv7000Model.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

typedef struct _UMockdevTestbed UMockdevTestbed;

namespace emulated
{
using Report = std::vector<std::uint8_t>;

/** Re-runs the program under umockdev's preload library unless it already is. Call
    first thing in main. */
void runUnderUmockdev (int argc, char** argv);

struct ControllerSetup
{
    std::uint16_t vendorId = 0x1209;
    std::uint16_t productId = 0x7000;
    int version = 102; // as bcdDevice 0x0102
    std::string serial = "KRV7000-0001";
    int node = 0;                               // /dev/hidraw<node> (and <node> + 1 for a composite's second)
    std::uint8_t reportId = 0;                  // 0: unnumbered reports
    bool composite = false;                     // interface 0 has consumer controls, the protocol is on 1
    bool readable = true;                       // false: the node's permissions let nobody open it
    bool stream = true;                         // knob reports in normal mode
    int knobIntervalMs = 10;                    // three knob reports each interval
    int reenumerateMs = 200;                    // after a complete update: gone, then back with it
    int leaveAfterMs = -1;                      // gone that soon after its answer instead (-1: as above)
    bool leavesWithItsLastAnswerUnread = false; // gone with the completion answer still in the node
};

class Testbed;

class EmulatedKrv7000
{
public:
    EmulatedKrv7000 (Testbed& testbed, ControllerSetup setup);
    ~EmulatedKrv7000();

    void plugIn();
    void unplug();
    bool isPluggedIn() const;

    int version() const;
    int updates() const;
    std::optional<Report> storedRecord (int recordNumber) const;
    /** What it holds, as the simulator's state file gives it. */
    std::string stateText() const;
    /** Reports the controller received on its protocol interface, in order. */
    int reportsReceived() const;
    /** Times it arrived (plug-ins, re-enumerations included). */
    int arrivals() const;
    /** Unplug when the report of this count (1-based, since plugged in) arrives. */
    void unplugAtReport (int count);
    /** Called for every report the controller receives (on umockdev's thread). */
    std::function<void (const Report&)> onReport;

    const ControllerSetup& getSetup() const { return setup; }
    std::string nodePath() const;

    struct Node; // one hidraw node of one plugging-in

    /** A report the host wrote to a node, without its report id (umockdev's thread). */
    void receiveFromHost (Node* node, const Report& report);

private:
    using Clock = std::chrono::steady_clock;

    struct Timed
    {
        Clock::time_point due;
        std::function<void()> action;
    };

    void plugInLocked();
    void unplugLocked();
    void deliverLocked (const Report& report, bool announce = true);
    void detachDepartedLocked();
    void detachLocked (Node& node);
    void after (int ms, std::function<void()> action);
    void clockLoop();

    Testbed& testbed;
    ControllerSetup setup;

    mutable std::mutex lock;
    krvsim::Krv7000Model model;
    std::vector<std::shared_ptr<Node>> nodes;    // the plugged-in interfaces, the protocol's last
    std::vector<std::shared_ptr<Node>> departed; // unplugged, still readable by who has them open
    std::string usbPath;
    bool pluggedIn = false;
    int received = 0;
    int arrived = 0;
    int unplugAt = 0;
    std::uint64_t generation = 0;

    std::condition_variable wake;
    std::vector<Timed> timed;
    bool stopping = false;
    std::thread clock;
};

/** The process's one umockdev testbed. */
class Testbed
{
public:
    Testbed();
    ~Testbed();

    UMockdevTestbed* get() const { return testbed; }
    std::string root() const;

private:
    UMockdevTestbed* testbed = nullptr;
};
} // namespace emulated
