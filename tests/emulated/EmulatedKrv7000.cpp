#include "EmulatedKrv7000.h"

#include <umockdev.h>

#include <linux/hidraw.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace emulated
{
namespace
{
// The protocol's 64-byte reports on a vendor-defined page; with a report id if numbered.
Report protocolDescriptor (std::uint8_t reportId)
{
    Report d { 0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01 };
    if (reportId != 0)
        d.insert (d.end(), { 0x85, reportId });
    d.insert (d.end(), { 0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, 0x40, 0x09, 0x01, 0x81, 0x02,
                         0x09, 0x01, 0x91, 0x02, 0xC0 });
    return d;
}

// A composite controller's other interface: transport buttons as consumer controls.
Report consumerDescriptor()
{
    return { 0x05, 0x0C, 0x09, 0x01, 0xA1, 0x01, 0x15, 0x00, 0x25, 0x01, 0x75, 0x01, 0x95, 0x08,
             0x09, 0xB0, 0x09, 0xB1, 0x09, 0xB3, 0x09, 0xB4, 0x09, 0xB5, 0x09, 0xB6, 0x09, 0xB7, 0x09, 0xCD,
             0x81, 0x02, 0xC0 };
}

std::string hex4 (unsigned value)
{
    char text[8];
    std::snprintf (text, sizeof (text), "%04x", value & 0xFFFF);
    return text;
}

unsigned bcdOf (int version)
{
    const int major = version / 100;
    const int minor = version % 100;
    return (unsigned) (((major / 10) << 12) | ((major % 10) << 8) | ((minor / 10) << 4) | (minor % 10));
}

std::string take (gchar* text)
{
    std::string result = text != nullptr ? text : "";
    g_free (text);
    return result;
}

int hidSequence = 0;
} // namespace

struct EmulatedKrv7000::Node
{
    EmulatedKrv7000* owner = nullptr;
    int number = 0; // hidraw<number>
    bool protocol = true;
    std::uint8_t reportId = 0;
    Report descriptor;
    std::string interfacePath, hidPath, hidrawPath;
    UMockdevIoctlBase* handler = nullptr;

    std::mutex lock;
    int master = -1; // the terminal's other end: one byte there is "input ready"
    bool rung = false;
    bool gone = false;
    std::deque<Report> queue;

    std::string devnode() const { return "/dev/hidraw" + std::to_string (number); }
};

// --- umockdev's calls for the node ----------------------------------------------------

namespace
{
using Node = EmulatedKrv7000::Node;

gboolean onIoctl (UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data)
{
    auto* node = static_cast<Node*> (data);
    const auto request = umockdev_ioctl_client_get_request (client);
    auto* arg = umockdev_ioctl_client_get_arg (client);

    auto fill = [&] (std::size_t size, const std::function<void (std::uint8_t*)>& write) {
        GError* error = nullptr;
        auto* target = umockdev_ioctl_data_resolve (arg, 0, size, &error);
        if (target == nullptr)
        {
            g_clear_error (&error);
            umockdev_ioctl_client_complete (client, -1, EFAULT);
            return;
        }
        write (target->data);
        umockdev_ioctl_client_complete (client, 0, 0);
        g_object_unref (target);
    };

    if (request == HIDIOCGRDESCSIZE)
    {
        fill (sizeof (int), [&] (std::uint8_t* p) { const int size = (int) node->descriptor.size(); std::memcpy (p, &size, sizeof (size)); });
        return TRUE;
    }
    if (request == HIDIOCGRDESC)
    {
        fill (sizeof (hidraw_report_descriptor), [&] (std::uint8_t* p) {
            hidraw_report_descriptor descriptor {};
            std::memcpy (&descriptor.size, p, sizeof (descriptor.size));
            descriptor.size = std::min<__u32> (descriptor.size, (__u32) node->descriptor.size());
            std::memcpy (descriptor.value, node->descriptor.data(), descriptor.size);
            std::memcpy (p, &descriptor, sizeof (descriptor));
        });
        return TRUE;
    }
    if (request == HIDIOCGRAWINFO)
    {
        fill (sizeof (hidraw_devinfo), [&] (std::uint8_t* p) {
            hidraw_devinfo info {};
            info.bustype = 3; // BUS_USB
            info.vendor = (__s16) node->owner->getSetup().vendorId;
            info.product = (__s16) node->owner->getSetup().productId;
            std::memcpy (p, &info, sizeof (info));
        });
        return TRUE;
    }

    umockdev_ioctl_client_complete (client, -1, EINVAL);
    return TRUE;
}

gboolean onRead (UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data)
{
    auto* node = static_cast<Node*> (data);
    std::lock_guard<std::mutex> guard (node->lock);

    // As the kernel's hidraw: what was queued before the device left is still read, then EIO.
    if (node->queue.empty())
    {
        umockdev_ioctl_client_complete (client, -1, node->gone ? EIO : EAGAIN);
        return TRUE;
    }

    const auto report = std::move (node->queue.front());
    node->queue.pop_front();

    if (node->queue.empty() && node->rung && ! node->gone)
    {
        // Let the client's own read take the ready byte from the terminal, so that poll()
        // waits again; the report then replaces what it read.
        int error = 0;
        GError* failure = nullptr;
        umockdev_ioctl_client_execute (client, &error, &failure);
        g_clear_error (&failure);
        node->rung = false;
    }

    auto* arg = umockdev_ioctl_client_get_arg (client);
    const auto count = std::min<std::size_t> ((std::size_t) arg->data_len, report.size());
    std::memcpy (arg->data, report.data(), count);
    umockdev_ioctl_client_complete (client, (glong) count, 0);
    return TRUE;
}

gboolean onWrite (UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data)
{
    auto* node = static_cast<Node*> (data);
    auto* arg = umockdev_ioctl_client_get_arg (client);
    const Report bytes (arg->data, arg->data + arg->data_len);

    {
        std::lock_guard<std::mutex> guard (node->lock);
        if (node->gone)
        {
            umockdev_ioctl_client_complete (client, -1, ENODEV);
            return TRUE;
        }
    }

    // As usbhid sends it: a leading 0 is not a report id and stays off the wire.
    Report wire = ! bytes.empty() && bytes[0] == 0 ? Report (bytes.begin() + 1, bytes.end()) : bytes;
    const bool fits = node->reportId == 0 ? wire.size() == (std::size_t) krvsim::reportSize
                                          : wire.size() == (std::size_t) krvsim::reportSize + 1 && wire[0] == node->reportId;
    if (! fits)
    {
        // The endpoint stalls on a report of the wrong size or id.
        umockdev_ioctl_client_complete (client, -1, EPIPE);
        return TRUE;
    }

    umockdev_ioctl_client_complete (client, (glong) bytes.size(), 0);
    if (node->protocol)
        node->owner->receiveFromHost (node, node->reportId == 0 ? wire : Report (wire.begin() + 1, wire.end()));
    return TRUE;
}
} // namespace

// --- the controller -------------------------------------------------------------------

EmulatedKrv7000::EmulatedKrv7000 (Testbed& t, ControllerSetup s) : testbed (t), setup (std::move (s))
{
    model.setVersion (setup.version);
    clock = std::thread ([this] { clockLoop(); });
}

EmulatedKrv7000::~EmulatedKrv7000()
{
    {
        std::lock_guard<std::mutex> guard (lock);
        stopping = true;
        if (pluggedIn)
            unplugLocked();
        detachDepartedLocked();
    }
    wake.notify_all();
    clock.join();
}

std::string EmulatedKrv7000::nodePath() const
{
    return "/dev/hidraw" + std::to_string (setup.node + (setup.composite ? 1 : 0));
}

void EmulatedKrv7000::plugIn()
{
    std::lock_guard<std::mutex> guard (lock);
    plugInLocked();
}

void EmulatedKrv7000::unplug()
{
    std::lock_guard<std::mutex> guard (lock);
    unplugLocked();
}

bool EmulatedKrv7000::isPluggedIn() const
{
    std::lock_guard<std::mutex> guard (lock);
    return pluggedIn;
}

int EmulatedKrv7000::version() const
{
    std::lock_guard<std::mutex> guard (lock);
    return model.getVersion();
}

int EmulatedKrv7000::updates() const
{
    std::lock_guard<std::mutex> guard (lock);
    return model.getUpdateCount();
}

std::optional<Report> EmulatedKrv7000::storedRecord (int recordNumber) const
{
    std::lock_guard<std::mutex> guard (lock);
    return model.storedRecord (recordNumber);
}

std::string EmulatedKrv7000::stateText() const
{
    std::lock_guard<std::mutex> guard (lock);
    return model.stateText();
}

int EmulatedKrv7000::reportsReceived() const
{
    std::lock_guard<std::mutex> guard (lock);
    return received;
}

int EmulatedKrv7000::arrivals() const
{
    std::lock_guard<std::mutex> guard (lock);
    return arrived;
}

void EmulatedKrv7000::unplugAtReport (int count)
{
    std::lock_guard<std::mutex> guard (lock);
    unplugAt = count;
}

void EmulatedKrv7000::plugInLocked()
{
    if (pluggedIn)
        return;

    auto* tb = testbed.get();
    detachDepartedLocked();
    const auto port = "1-" + std::to_string (setup.node + 1);
    const auto serial = setup.serial;
    // The kernel's PRODUCT: vendor, product and bcdDevice in hex without leading zeros, on
    // the device and on each interface (Wine's HID bus takes the version from there).
    char product[32];
    std::snprintf (product, sizeof (product), "%x/%x/%x", setup.vendorId, setup.productId, bcdOf (model.getVersion()));
    usbPath = take (umockdev_testbed_add_device (tb, "usb", ("usb1/" + port).c_str(), nullptr,
                                                 "idVendor", hex4 (setup.vendorId).c_str(), "idProduct", hex4 (setup.productId).c_str(),
                                                 "bcdDevice", hex4 (bcdOf (model.getVersion())).c_str(), "serial", serial.c_str(),
                                                 "manufacturer", "KRV", "product", "KRV-7000", nullptr,
                                                 "DEVTYPE", "usb_device", "PRODUCT", product, nullptr));

    const int interfaces = setup.composite ? 2 : 1;
    for (int i = 0; i < interfaces; ++i)
    {
        auto node = std::make_shared<Node>();
        node->owner = this;
        node->number = setup.node + i;
        node->protocol = i == interfaces - 1;
        node->reportId = node->protocol ? setup.reportId : 0;
        node->descriptor = node->protocol ? protocolDescriptor (setup.reportId) : consumerDescriptor();

        const auto interfaceName = port + ":1." + std::to_string (i);
        node->interfacePath = take (umockdev_testbed_add_device (tb, "usb", interfaceName.c_str(), usbPath.c_str(),
                                                                 "bInterfaceNumber", ("0" + std::to_string (i)).c_str(), "bInterfaceClass", "03", nullptr,
                                                                 "DEVTYPE", "usb_interface", "INTERFACE", "3/0/0", "PRODUCT", product, nullptr));

        char hidName[32];
        std::snprintf (hidName, sizeof (hidName), "0003:%04X:%04X.%04X", setup.vendorId, setup.productId, ++hidSequence);
        const auto hidId = "0003:0000" + hex4 (setup.vendorId) + ":0000" + hex4 (setup.productId);
        node->hidPath = take (umockdev_testbed_add_device (tb, "hid", hidName, node->interfacePath.c_str(), nullptr,
                                                           "HID_ID", hidId.c_str(), "HID_NAME", "KRV KRV-7000", "HID_UNIQ", serial.c_str(),
                                                           "HID_PHYS", ("usb-0000:00:14.0-" + std::to_string (setup.node + 1) + "/input" + std::to_string (i)).c_str(), nullptr));
        umockdev_testbed_set_attribute_binary (tb, node->hidPath.c_str(), "report_descriptor",
                                               node->descriptor.data(), (gint) node->descriptor.size());

        // The node: a terminal in raw mode, no echo; its other end is ours.
        int slave = -1;
        char slaveName[128] {};
        if (openpty (&node->master, &slave, slaveName, nullptr, nullptr) != 0)
            std::abort();
        termios raw {};
        tcgetattr (node->master, &raw);
        cfmakeraw (&raw);
        tcsetattr (node->master, TCSANOW, &raw);
        ::close (slave);
        ::chmod (slaveName, setup.readable ? 0660 : 0000);
        ::mkdir ((testbed.root() + "/dev").c_str(), 0755);
        const auto link = testbed.root() + "/dev/hidraw" + std::to_string (node->number);
        ::unlink (link.c_str());
        ::symlink (slaveName, link.c_str());

        // The handler owns the node: umockdev may still call it for a client of the node
        // after it is detached, and lets it go when the last such client has.
        node->handler = umockdev_ioctl_base_new();
        g_object_set_data_full (G_OBJECT (node->handler), "krv-node", new std::shared_ptr<Node> (node),
                                [] (gpointer owned) { delete static_cast<std::shared_ptr<Node>*> (owned); });
        g_signal_connect (node->handler, "handle-ioctl", G_CALLBACK (onIoctl), node.get());
        g_signal_connect (node->handler, "handle-read", G_CALLBACK (onRead), node.get());
        g_signal_connect (node->handler, "handle-write", G_CALLBACK (onWrite), node.get());
        GError* error = nullptr;
        if (! umockdev_testbed_attach_ioctl (tb, node->devnode().c_str(), node->handler, &error))
        {
            std::fprintf (stderr, "umockdev: %s\n", error != nullptr ? error->message : "attach_ioctl failed");
            std::abort();
        }

        // Last: its uevent tells udev's listeners that the node is there.
        node->hidrawPath = take (umockdev_testbed_add_device (tb, "hidraw", ("hidraw/hidraw" + std::to_string (node->number)).c_str(),
                                                              node->hidPath.c_str(), "dev", ("241:" + std::to_string (node->number)).c_str(), nullptr,
                                                              "DEVNAME", node->devnode().c_str(), "MAJOR", "241", "MINOR", std::to_string (node->number).c_str(), nullptr));
        umockdev_testbed_set_attribute_link (tb, node->hidrawPath.c_str(), "device", ("../../../" + std::string (hidName)).c_str());

        nodes.push_back (node);
    }

    model.restart();
    received = 0;
    pluggedIn = true;
    ++arrived;
    ++generation;
    wake.notify_all();
}

void EmulatedKrv7000::detachDepartedLocked()
{
    for (const auto& node : departed)
        detachLocked (*node);
    departed.clear();
}

void EmulatedKrv7000::detachLocked (Node& node)
{
    umockdev_testbed_detach_ioctl (testbed.get(), node.devnode().c_str(), nullptr);
    g_object_unref (node.handler); // ours; umockdev keeps its own while it needs it
}

void EmulatedKrv7000::unplugLocked()
{
    if (! pluggedIn)
        return;

    auto* tb = testbed.get();
    for (auto it = nodes.rbegin(); it != nodes.rend(); ++it)
    {
        auto& node = *it;
        const auto name = "hidraw" + std::to_string (node->number);
        // Off the class list first, so that nobody who looks finds a node that is going.
        ::unlink ((testbed.root() + "/sys/class/hidraw/" + name).c_str());
        {
            std::lock_guard<std::mutex> guard (node->lock);
            node->gone = true;
            ::close (node->master); // readers' poll() now reports a hang-up
            node->master = -1;
            node->rung = false;
        }
        ::unlink ((testbed.root() + "/dev/" + name).c_str());

        umockdev_testbed_uevent (tb, node->hidrawPath.c_str(), "remove");
        // A controller that leaves with its last answer unread keeps its node readable until
        // the next plug-in takes the name, as the kernel keeps a reader's queue until it
        // closes. Others go at once: umockdev copes less well with a handler detached just
        // before another attaches on the same node.
        if (setup.leavesWithItsLastAnswerUnread)
            departed.push_back (node);
        else
            detachLocked (*node);
        umockdev_testbed_remove_device (tb, node->hidrawPath.c_str());
        umockdev_testbed_remove_device (tb, node->hidPath.c_str());
        umockdev_testbed_remove_device (tb, node->interfacePath.c_str());
    }
    umockdev_testbed_remove_device (tb, usbPath.c_str());

    nodes.clear();
    model.restart();
    pluggedIn = false;
    ++generation;
}

void EmulatedKrv7000::receiveFromHost (Node* node, const Report& report)
{
    std::lock_guard<std::mutex> guard (lock);
    if (! pluggedIn || nodes.empty() || nodes.back().get() != node)
        return;

    ++received;
    if (onReport)
        onReport (report);

    if (unplugAt > 0 && received == unplugAt)
    {
        unplugAt = 0;
        after (0, [this] { unplugLocked(); });
        return;
    }

    const auto plan = model.handle (report, received);
    const bool leaveAtOnce = plan.reenumerate && setup.leavesWithItsLastAnswerUnread && ! plan.answers.empty();
    auto delay = 0;
    for (std::size_t i = 0; i < plan.answers.size(); ++i)
    {
        const auto& answer = plan.answers[i];
        delay += answer.afterMs;
        if (leaveAtOnce && i + 1 == plan.answers.size())
            after (delay, [this, r = answer.report, g = generation] {
                if (g != generation)
                    return;
                // In the node, nobody woken for it yet, when the device goes.
                deliverLocked (r, false);
                unplugLocked();
                after (setup.reenumerateMs, [this] {
                    model.finishReenumeration();
                    plugInLocked();
                });
            });
        else if (delay == 0)
            deliverLocked (answer.report);
        else
            after (delay, [this, r = answer.report, g = generation] { if (g == generation) deliverLocked (r); });
    }

    if (plan.reenumerate && ! leaveAtOnce)
    {
        const auto g = generation;
        after (delay + (setup.leaveAfterMs >= 0 ? setup.leaveAfterMs : setup.reenumerateMs), [this, g] {
            if (g != generation)
                return;
            unplugLocked();
            after (setup.reenumerateMs, [this] {
                model.finishReenumeration();
                plugInLocked();
            });
        });
    }
}

void EmulatedKrv7000::deliverLocked (const Report& report, bool announce)
{
    if (! pluggedIn || nodes.empty())
        return;

    auto& node = *nodes.back();
    Report framed;
    if (node.reportId != 0)
        framed.push_back (node.reportId);
    framed.insert (framed.end(), report.begin(), report.end());

    std::lock_guard<std::mutex> guard (node.lock);
    node.queue.push_back (std::move (framed));
    if (announce && ! node.rung && node.master >= 0)
    {
        const char ready = 1;
        if (::write (node.master, &ready, 1) == 1)
            node.rung = true;
    }
}

void EmulatedKrv7000::after (int ms, std::function<void()> action)
{
    timed.push_back ({ Clock::now() + std::chrono::milliseconds (ms), std::move (action) });
    wake.notify_all();
}

void EmulatedKrv7000::clockLoop()
{
    std::unique_lock<std::mutex> guard (lock);
    auto nextTick = Clock::now();
    unsigned phase = 0;

    while (! stopping)
    {
        auto until = nextTick;
        for (const auto& t : timed)
            until = std::min (until, t.due);
        wake.wait_until (guard, until);
        if (stopping)
            break;

        const auto now = Clock::now();
        for (std::size_t i = 0; i < timed.size();)
        {
            if (timed[i].due > now)
            {
                ++i;
                continue;
            }
            auto action = std::move (timed[i].action);
            timed.erase (timed.begin() + (long) i);
            action();
            i = 0; // an action may have added others
        }

        if (now >= nextTick)
        {
            // Knobs turning: three unasked reports every interval (10 ms) in normal mode.
            if (pluggedIn && setup.stream && ! model.isInUpdateMode())
                for (int i = 0; i < 3; ++i, ++phase)
                {
                    Report knob ((std::size_t) krvsim::reportSize, 0);
                    knob[0] = 0x01;
                    knob[1] = (std::uint8_t) (phase % 8);
                    knob[2] = (std::uint8_t) ((phase / 8) % 128);
                    deliverLocked (knob);
                }
            nextTick = now + std::chrono::milliseconds (setup.knobIntervalMs);
        }
    }
}

// --- the testbed ----------------------------------------------------------------------

Testbed::Testbed()
{
    testbed = umockdev_testbed_new();
}

Testbed::~Testbed()
{
    g_object_unref (testbed);
}

std::string Testbed::root() const
{
    return take (umockdev_testbed_get_root_dir (testbed));
}

void runUnderUmockdev (int, char** argv)
{
    const char* existing = std::getenv ("LD_PRELOAD");
    if (existing != nullptr && std::strstr (existing, "libumockdev-preload") != nullptr)
        return;

    std::string preload = "libumockdev-preload.so.0";
    if (existing != nullptr && *existing != 0)
        preload += std::string (":") + existing;
    setenv ("LD_PRELOAD", preload.c_str(), 1);
    // A sanitizer's runtime is then not the first library; it copes.
    setenv ("ASAN_OPTIONS", (std::string (std::getenv ("ASAN_OPTIONS") ? std::getenv ("ASAN_OPTIONS") : "") + ":verify_asan_link_order=0").c_str(), 1);
    execv ("/proc/self/exe", argv);
    std::perror ("execv");
    std::exit (1);
}
} // namespace emulated
