// The real device library's logic, without hardware: id matching, versions from the
// release number, HID numbers, and the bridge over a fake HID stack.
#include "DeviceBridge.h"
#include "HidNumberTable.h"
#include "KrvUsbIds.h"
#include "TraceCapture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <utility>

using namespace fwbridge;

namespace
{
// Report descriptors: the protocol's 64-byte reports on a vendor page, unnumbered or with
// report id 5; and a composite controller's other interface (consumer controls).
const std::vector<std::uint8_t> vendorUnnumbered { 0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x15, 0x00, 0x26, 0xFF, 0x00,
                                                   0x75, 0x08, 0x95, 0x40, 0x09, 0x01, 0x81, 0x02, 0x09, 0x01, 0x91, 0x02, 0xC0 };
const std::vector<std::uint8_t> vendorNumbered { 0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x85, 0x05, 0x15, 0x00, 0x26, 0xFF, 0x00,
                                                 0x75, 0x08, 0x95, 0x40, 0x09, 0x01, 0x81, 0x02, 0x09, 0x01, 0x91, 0x02, 0xC0 };
const std::vector<std::uint8_t> consumerControls { 0x05, 0x0C, 0x09, 0x01, 0xA1, 0x01, 0x15, 0x00, 0x25, 0x01, 0x75, 0x01,
                                                   0x95, 0x08, 0x09, 0xE9, 0x81, 0x02, 0xC0 };

HidDeviceInfo controller (const std::string& path, std::uint16_t bcd = 0x0103, const std::string& serial = "A1",
                          const std::vector<std::uint8_t>& descriptor = vendorUnnumbered)
{
    HidDeviceInfo d;
    d.path = path;
    d.vendorId = krv7000::usbVendorId;
    d.productId = krv7000::usbProductId;
    d.releaseNumber = bcd;
    d.interfaceNumber = krv7000::hidInterface >= 0 ? krv7000::hidInterface : 0;
    d.serialNumber = serial;
    d.reportDescriptor = descriptor;
    return d;
}

HidDeviceInfo keyboard (const std::string& path)
{
    HidDeviceInfo d;
    d.path = path;
    d.vendorId = 0x046D;
    d.productId = 0xC31C;
    d.releaseNumber = 0x0110;
    return d;
}

template <typename Condition>
bool waitFor (Condition condition, int timeoutMs = 2000)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds (timeoutMs);
    while (! condition())
    {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for (std::chrono::milliseconds (1));
    }
    return true;
}

// hidapi stand-in: devices come and go, ports hand out queued input reports.
class FakeBackend : public HidBackend
{
public:
    struct PortState
    {
        std::mutex lock;
        std::condition_variable ready;
        std::deque<Report> toRead;
        std::vector<Report> written;
        bool gone = false;
        bool failWrites = false;
        int readErrors = 0;                             // reads that fail before the device reads again
        std::function<void()> beforeHandingOut;         // once, as a report is read (the lock not held)
        std::map<int, std::set<std::thread::id>> users; // threads by handle
        int handles = 0;
    };

    class Port : public HidPort
    {
    public:
        Port (std::shared_ptr<PortState> s, int h) : state (std::move (s)), handle (h) {}

        int read (std::uint8_t* buffer, std::size_t size, int timeoutMs) override
        {
            std::unique_lock<std::mutex> guard (state->lock);
            state->users[handle].insert (std::this_thread::get_id());
            if (state->readErrors > 0)
            {
                --state->readErrors;
                return -1;
            }
            state->ready.wait_for (guard, std::chrono::milliseconds (timeoutMs), [&] { return state->gone || ! state->toRead.empty(); });
            if (state->gone)
                return -1;
            if (state->toRead.empty())
                return 0;
            auto report = state->toRead.front();
            state->toRead.pop_front();
            if (auto hook = std::exchange (state->beforeHandingOut, nullptr))
            {
                guard.unlock();
                hook();
            }
            const auto count = std::min (size, report.size());
            std::copy (report.begin(), report.begin() + (long) count, buffer);
            return (int) count;
        }

        int write (const std::uint8_t* data, std::size_t size) override
        {
            std::lock_guard<std::mutex> guard (state->lock);
            state->users[handle].insert (std::this_thread::get_id());
            if (state->gone || state->failWrites)
                return -1;
            state->written.emplace_back (data, data + size);
            return (int) size;
        }

    private:
        std::shared_ptr<PortState> state;
        int handle;
    };

    std::vector<HidDeviceInfo> enumerate() override
    {
        std::lock_guard<std::mutex> guard (lock);
        ++enumerations;
        return present;
    }

    std::unique_ptr<HidPort> open (const std::string& path, std::string& reason, int& error) override
    {
        std::lock_guard<std::mutex> guard (lock);
        if (auto it = unopenable.find (path); it != unopenable.end())
        {
            error = it->second;
            reason = std::strerror (error);
            return nullptr;
        }
        // Opening a node again reaches the same device, until it is plugged in anew.
        auto& state = ports[path];
        if (state == nullptr || state->gone)
            state = std::make_shared<PortState>();
        return std::make_unique<Port> (state, ++state->handles);
    }

    void plug (const HidDeviceInfo& device)
    {
        std::lock_guard<std::mutex> guard (lock);
        present.push_back (device);
    }

    void unplug (const std::string& path)
    {
        std::shared_ptr<PortState> state;
        {
            std::lock_guard<std::mutex> guard (lock);
            present.erase (std::remove_if (present.begin(), present.end(), [&] (const HidDeviceInfo& d) { return d.path == path; }),
                           present.end());
            state = ports[path];
        }
        if (state != nullptr)
        {
            std::lock_guard<std::mutex> guard (state->lock);
            state->gone = true;
            state->ready.notify_all();
        }
    }

    /** Unplugged and plugged in again on the same node before any rescan. */
    void replug (const std::string& path)
    {
        unplug (path);
        std::lock_guard<std::mutex> guard (lock);
        present.push_back (controller (path));
    }

    void feed (const std::string& path, Report report)
    {
        auto state = port (path);
        std::lock_guard<std::mutex> guard (state->lock);
        state->toRead.push_back (std::move (report));
        state->ready.notify_all();
    }

    std::shared_ptr<PortState> port (const std::string& path)
    {
        std::lock_guard<std::mutex> guard (lock);
        return ports[path];
    }

    std::mutex lock;
    std::vector<HidDeviceInfo> present;
    std::map<std::string, int> unopenable; // node, errno of its open
    std::map<std::string, std::shared_ptr<PortState>> ports;
    int enumerations = 0;
};

struct Posted
{
    Event event;
    int number;
};

class HidrawBridge : public ::testing::Test
{
protected:
    std::vector<Posted> posted()
    {
        std::lock_guard<std::mutex> guard (lock);
        return messages;
    }

    size_t countPosted (Event event)
    {
        size_t n = 0;
        for (const auto& p : posted())
            n += p.event == event ? 1 : 0;
        return n;
    }

    std::vector<int> numbers()
    {
        int list[128] {};
        const int count = bridge.enumerate (list);
        return std::vector<int> (list, list + count);
    }

    FakeBackend backend;
    std::mutex lock;
    std::vector<Posted> messages;
    std::atomic<bool> posting { true }; // off: every post fails, as before HID_Start
    std::atomic<int> attempts { 0 };
    std::atomic<bool> arrivalsWaitForInput { false }; // gives a reader time to post first
    DeviceBridge bridge { backend, [this] (Event e, int n) {
                             if (e == Event::arrival && arrivalsWaitForInput)
                                 waitFor ([&] { return countPosted (Event::input) > 0; }, 200);
                             ++attempts;
                             if (! posting)
                                 return false;
                             std::lock_guard<std::mutex> guard (lock);
                             messages.push_back ({ e, n });
                             return true;
                         } };
};
} // namespace

TEST (HidrawDeviceMatch, OnlyTheControllersIdsGetItsTypeCode)
{
    EXPECT_EQ (deviceTypeFor (controller ("/dev/hidraw0")), 7);
    EXPECT_EQ (deviceTypeFor (keyboard ("/dev/hidraw1")), -1);

    auto otherProduct = controller ("/dev/hidraw2");
    otherProduct.productId = static_cast<std::uint16_t> (krv7000::usbProductId + 1);
    EXPECT_EQ (deviceTypeFor (otherProduct), -1);

    auto otherVendor = controller ("/dev/hidraw3");
    otherVendor.vendorId = static_cast<std::uint16_t> (krv7000::usbVendorId ^ 0x8000);
    EXPECT_EQ (deviceTypeFor (otherVendor), -1);

    auto otherInterface = controller ("/dev/hidraw4");
    otherInterface.interfaceNumber = krv7000::hidInterface + 1;
    EXPECT_EQ (deviceTypeFor (otherInterface), krv7000::hidInterface < 0 ? 7 : -1);
}

TEST (HidrawDeviceMatch, OnlyTheInterfaceWithTheProtocolsUsagePageIsTheController)
{
    EXPECT_EQ (deviceTypeFor (controller ("/dev/hidraw0", 0x0103, "A", vendorNumbered)), 7);
    EXPECT_EQ (deviceTypeFor (controller ("/dev/hidraw0", 0x0103, "A", consumerControls)),
               krv7000::hidUsagePage < 0 ? 7 : -1);
    EXPECT_EQ (deviceTypeFor (controller ("/dev/hidraw0", 0x0103, "A", {})), 7) << "an unreadable descriptor cannot tell";
}

TEST (HidrawDeviceMatch, FirmwareVersionComesFromTheBcdReleaseNumber)
{
    EXPECT_EQ (firmwareVersionFromBcd (0x0103), 103);
    EXPECT_EQ (firmwareVersionFromBcd (0x0210), 210);
    EXPECT_EQ (firmwareVersionFromBcd (0x0099), 99);
    EXPECT_EQ (firmwareVersionFromBcd (0x1234), 1234);
    EXPECT_EQ (firmwareVersionFromBcd (0x0000), 0);
}

TEST (HidrawNumberTable, NumbersStayWhileConnectedAndAreNeverReused)
{
    HidNumberTable table;
    auto changes = table.update ({ controller ("/dev/hidraw0", 0x0101, "A"), keyboard ("/dev/hidraw1"), controller ("/dev/hidraw2", 0x0102, "B") });
    ASSERT_EQ (changes.arrived.size(), 2u) << "the keyboard is not listed";
    const int a = changes.arrived[0].number;
    const int b = changes.arrived[1].number;
    EXPECT_NE (a, b);
    EXPECT_EQ (changes.arrived[0].version, 101);
    EXPECT_EQ (changes.arrived[1].type, 7);

    changes = table.update ({ controller ("/dev/hidraw2", 0x0102, "B"), controller ("/dev/hidraw0", 0x0101, "A") });
    EXPECT_TRUE (changes.arrived.empty());
    EXPECT_TRUE (changes.removed.empty());
    ASSERT_NE (table.find (a), nullptr);
    EXPECT_EQ (table.find (a)->info.path, "/dev/hidraw0");

    changes = table.update ({ controller ("/dev/hidraw2", 0x0102, "B") });
    ASSERT_EQ (changes.removed.size(), 1u);
    EXPECT_EQ (changes.removed[0].number, a);
    EXPECT_EQ (table.find (a), nullptr);

    // The same controller back on the same node is a new device with a new number.
    changes = table.update ({ controller ("/dev/hidraw2", 0x0102, "B"), controller ("/dev/hidraw0", 0x0101, "A") });
    ASSERT_EQ (changes.arrived.size(), 1u);
    EXPECT_NE (changes.arrived[0].number, a);
    EXPECT_NE (changes.arrived[0].number, b);

    int list[128] {};
    ASSERT_EQ (table.listNumbers (list, 128), 2);
    EXPECT_EQ (list[0], b) << "oldest first";
    EXPECT_EQ (table.listNumbers (list, 1), 1);
    EXPECT_EQ (table.firstOfType (7)->number, b);
    EXPECT_EQ (table.firstOfType (0), nullptr);
}

TEST (HidrawNumberTable, ReenumerationOnTheSameNodeWithANewReleaseIsANewDevice)
{
    HidNumberTable table;
    const int before = table.update ({ controller ("/dev/hidraw0", 0x0102) }).arrived.at (0).number;

    const auto changes = table.update ({ controller ("/dev/hidraw0", 0x0103) });
    ASSERT_EQ (changes.removed.size(), 1u);
    ASSERT_EQ (changes.arrived.size(), 1u);
    EXPECT_EQ (changes.removed[0].number, before);
    EXPECT_NE (changes.arrived[0].number, before);
    EXPECT_EQ (changes.arrived[0].version, 103);
}

TEST_F (HidrawBridge, FirstLookListsWithoutAnnouncingLaterChangesAreAnnounced)
{
    backend.plug (controller ("/dev/hidraw0", 0x0102));
    backend.plug (keyboard ("/dev/hidraw1"));
    bridge.rescan (false);

    const auto listed = numbers();
    ASSERT_EQ (listed.size(), 1u);
    EXPECT_EQ (bridge.deviceType (listed[0]), 7);
    EXPECT_EQ (bridge.deviceType (listed[0] + 100), -1);
    EXPECT_TRUE (posted().empty());

    backend.plug (controller ("/dev/hidraw2", 0x0105, "B"));
    bridge.rescan (true);
    ASSERT_EQ (posted().size(), 1u);
    EXPECT_EQ (posted()[0].event, Event::arrival);
    const int second = posted()[0].number;
    EXPECT_EQ (numbers(), (std::vector<int> { listed[0], second }));

    backend.unplug ("/dev/hidraw0");
    bridge.rescan (true);
    ASSERT_EQ (countPosted (Event::removal), 1u);
    EXPECT_EQ (posted().back().number, listed[0]);
    EXPECT_EQ (numbers(), (std::vector<int> { second }));

    int version[2] = { 0, 0 };
    EXPECT_EQ (bridge.firmwareVersion (7, version, 1), 1);
    EXPECT_EQ (version[0], 105);
    version[0] = 0;
    EXPECT_EQ (bridge.firmwareVersion (0, version, 1), 0);
    EXPECT_EQ (version[0], 0);
}

TEST_F (HidrawBridge, EachInputReportIsAnnouncedAndReadOnce)
{
    backend.plug (controller ("/dev/hidraw0"));
    bridge.rescan (false);
    const int number = numbers().at (0);

    backend.feed ("/dev/hidraw0", Report (64, 0x11));
    backend.feed ("/dev/hidraw0", Report { 0xF6, 0x01 });
    ASSERT_TRUE (waitFor ([&] { return countPosted (Event::input) == 2; }));
    for (const auto& p : posted())
        EXPECT_EQ (p.number, number);

    unsigned char buffer[256] {};
    int length = 256;
    EXPECT_EQ (bridge.input (number, buffer, &length), 1);
    EXPECT_EQ (length, 64);
    EXPECT_EQ (buffer[63], 0x11);

    length = 1;
    EXPECT_EQ (bridge.input (number, buffer, &length), 1);
    EXPECT_EQ (length, 1) << "never more than the room given";
    EXPECT_EQ (buffer[0], 0xF6);

    length = 256;
    EXPECT_EQ (bridge.input (number, buffer, &length), 0);
    EXPECT_EQ (length, 0);
    length = 256;
    EXPECT_EQ (bridge.input (number + 1, buffer, &length), 0);
    EXPECT_EQ (length, 0);
}

// The host reads one report per input message: a report queued without one, or a message
// it passes over, would leave every later message reading the report before its own.
TEST_F (HidrawBridge, EveryInputMessageReadsTheReportItAnnounced)
{
    unsigned char buffer[256] {};
    int length = 256;

    // Knob reports read before posting is on, as between the first look and the start.
    posting = false;
    backend.plug (controller ("/dev/hidraw0"));
    bridge.rescan (false);
    const int first = numbers().at (0);
    for (std::uint8_t i = 0; i < 3; ++i)
        backend.feed ("/dev/hidraw0", Report { 0x01, i });
    ASSERT_TRUE (waitFor ([&] { return attempts == 3; }));
    posting = true;
    backend.feed ("/dev/hidraw0", Report { 0xF6, 1 });
    ASSERT_TRUE (waitFor ([&] { return countPosted (Event::input) == 1; }));
    ASSERT_EQ (bridge.input (first, buffer, &length), 1);
    EXPECT_EQ (buffer[0], 0xF6) << "read a report whose message never went out";

    // A controller that arrives with reports already waiting: none is announced before it.
    backend.ports["/dev/hidraw1"] = std::make_shared<FakeBackend::PortState>();
    backend.ports["/dev/hidraw1"]->toRead = { { 0x01, 9 }, { 0xF6, 2 } };
    backend.plug (controller ("/dev/hidraw1", 0x0103, "B"));
    {
        std::lock_guard<std::mutex> guard (lock);
        messages.clear();
    }
    arrivalsWaitForInput = true;
    bridge.rescan (true);
    ASSERT_TRUE (waitFor ([&] { return countPosted (Event::input) == 2; }));
    const auto list = posted();
    ASSERT_EQ (list.size(), 3u);
    EXPECT_EQ (list[0].event, Event::arrival) << "an input message came before its device's arrival";
}

TEST_F (HidrawBridge, ReportIdsFollowTheReportDescriptor)
{
    struct Case
    {
        const char* what;
        std::vector<std::uint8_t> descriptor;
        std::uint8_t id; // before every output report, and before every input report if not 0
    };
    const Case cases[] = { { "unnumbered", vendorUnnumbered, 0 }, { "numbered", vendorNumbered, 5 } };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        const std::string path = std::string ("/dev/hidraw-") + c.what;
        backend.plug (controller (path, 0x0103, c.what, c.descriptor));
        bridge.rescan (true);
        const int number = numbers().back();

        std::uint8_t report[64] {};
        report[0] = 0xF4;
        report[63] = 0x3C;
        EXPECT_EQ (bridge.write (number, report, 64), 1);
        const auto written = backend.port (path)->written;
        ASSERT_EQ (written.size(), 1u);
        ASSERT_EQ (written[0].size(), 65u);
        EXPECT_EQ (written[0][0], c.id);
        EXPECT_EQ (written[0][1], 0xF4);
        EXPECT_EQ (written[0][64], 0x3C);

        Report answer { 0xF6, 0x01 };
        answer.resize (64, 0);
        if (c.id != 0)
            answer.insert (answer.begin(), c.id);
        const auto inputsBefore = countPosted (Event::input);
        backend.feed (path, answer);
        ASSERT_TRUE (waitFor ([&] { return countPosted (Event::input) == inputsBefore + 1; }));
        unsigned char buffer[256] {};
        int length = 256;
        EXPECT_EQ (bridge.input (number, buffer, &length), 1);
        EXPECT_EQ (length, 64) << "the host gets the report without its id";
        EXPECT_EQ (buffer[0], 0xF6);
        EXPECT_EQ (buffer[1], 0x01);

        EXPECT_EQ (bridge.write (number + 100, report, 64), 0);
        EXPECT_EQ (bridge.write (number, report, 0), 0);
        backend.port (path)->failWrites = true;
        EXPECT_EQ (bridge.write (number, report, 64), 0);
    }
}

TEST_F (HidrawBridge, ADeviceTheHostTurnsToGivesItsNewestReportAndThenKeepsPace)
{
    backend.plug (controller ("/dev/hidraw0", 0x0103, "A"));
    backend.plug (controller ("/dev/hidraw1", 0x0103, "B"));
    bridge.rescan (false);
    const int a = numbers().at (0);
    const int b = numbers().at (1);

    // The host follows A and ignores B's input messages while B's knobs turn.
    unsigned char buffer[256] {};
    int length = 256;
    bridge.input (a, buffer, &length);
    for (int i = 0; i < 600; ++i)
        backend.feed ("/dev/hidraw1", Report { 0x01, (std::uint8_t) (i >> 8), (std::uint8_t) i });
    ASSERT_TRUE (waitFor ([&] { return countPosted (Event::input) == 600; }, 5000));

    // A leaves; the host turns to B and reads once per message from now on.
    length = 256;
    ASSERT_EQ (bridge.input (b, buffer, &length), 1);
    EXPECT_EQ ((buffer[1] << 8) | buffer[2], 599) << "not a report hundreds of places old";

    backend.feed ("/dev/hidraw1", Report { 0xF6, 0x01 });
    ASSERT_TRUE (waitFor ([&] { return countPosted (Event::input) == 601; }));
    length = 256;
    ASSERT_EQ (bridge.input (b, buffer, &length), 1);
    EXPECT_EQ (buffer[0], 0xF6) << "the answer the next message announces";
}

TEST_F (HidrawBridge, AReaderThatFailedIsReplacedWhenItsNodeIsListedAgain)
{
    std::atomic<int> readErrors { 0 };
    bridge.onReadError = [&] { ++readErrors; };

    struct Case
    {
        const char* what;
        std::function<void (FakeBackend&, const std::string&)> happen;
    };
    const Case cases[] = {
        { "read interrupted", [] (FakeBackend& f, const std::string& path) { f.port (path)->readErrors = 1; } },
        { "re-plugged on the same node", [] (FakeBackend& f, const std::string& path) { f.replug (path); } },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        const std::string path = std::string ("/dev/hidraw-") + c.what;
        backend.plug (controller (path));
        bridge.rescan (true);
        const int before = numbers().back();
        const int errors = readErrors.load();

        c.happen (backend, path);
        ASSERT_TRUE (waitFor ([&] { return readErrors.load() == errors + 1; }));
        bridge.rescan (true);

        const auto list = posted();
        ASSERT_GE (list.size(), 2u);
        EXPECT_EQ (list[list.size() - 2].event, Event::removal);
        EXPECT_EQ (list[list.size() - 2].number, before);
        EXPECT_EQ (list.back().event, Event::arrival);
        const int after = list.back().number;
        EXPECT_NE (after, before);
        EXPECT_EQ (numbers().back(), after);

        const auto inputs = countPosted (Event::input);
        backend.feed (path, Report { 0xF6, 0x01 });
        ASSERT_TRUE (waitFor ([&] { return countPosted (Event::input) == inputs + 1; })) << "a reader again";
        unsigned char buffer[256] {};
        int length = 256;
        EXPECT_EQ (bridge.input (after, buffer, &length), 1);
        EXPECT_EQ (buffer[0], 0xF6);
        std::uint8_t report[64] { 0xF4 };
        EXPECT_EQ (bridge.write (after, report, 64), 1);
    }
}

TEST_F (HidrawBridge, ReadingAndWritingNeverShareAHandle)
{
    backend.plug (controller ("/dev/hidraw0"));
    bridge.rescan (false);
    const int number = numbers().at (0);

    std::uint8_t report[64] { 0xF3 };
    for (int i = 0; i < 20; ++i)
    {
        backend.feed ("/dev/hidraw0", Report { 0xF9, (std::uint8_t) i });
        EXPECT_EQ (bridge.write (number, report, 64), 1);
    }
    ASSERT_TRUE (waitFor ([&] { return countPosted (Event::input) == 20; }));

    const auto state = backend.port ("/dev/hidraw0");
    std::lock_guard<std::mutex> guard (state->lock);
    EXPECT_GE (state->users.size(), 2u);
    for (const auto& [handle, threads] : state->users)
        EXPECT_EQ (threads.size(), 1u) << "handle " << handle << " is used by two threads (hidapi's error string is per handle)";
}

TEST_F (HidrawBridge, ReportsAnnouncedBeforeARemovalStayReadable)
{
    backend.plug (controller ("/dev/hidraw0"));
    bridge.rescan (false);
    const int number = numbers().at (0);
    unsigned char buffer[256] {};
    int length = 256;
    bridge.input (number, buffer, &length);

    // The completion answer, then the controller resets at once.
    backend.feed ("/dev/hidraw0", Report { 0xFC, 100 });
    ASSERT_TRUE (waitFor ([&] { return countPosted (Event::input) == 1; }));
    backend.unplug ("/dev/hidraw0");
    bridge.rescan (true);
    ASSERT_EQ (countPosted (Event::removal), 1u);

    length = 256;
    ASSERT_EQ (bridge.input (number, buffer, &length), 1);
    EXPECT_EQ (buffer[0], 0xFC);
    EXPECT_EQ (buffer[1], 100);
    length = 256;
    EXPECT_EQ (bridge.input (number, buffer, &length), 0) << "read once";
    EXPECT_EQ (bridge.write (number, buffer, 64), 0);
}

TEST_F (HidrawBridge, AReportReadWhileARescanClosesItsDeviceIsAnnouncedAheadOfTheRemoval)
{
    backend.plug (controller ("/dev/hidraw0"));
    bridge.rescan (false);
    const int number = numbers().at (0);

    // The completion answer is being read as the device leaves and a rescan, already closing
    // it, waits for its reader.
    std::thread closing;
    backend.port ("/dev/hidraw0")->beforeHandingOut = [&] {
        {
            std::lock_guard<std::mutex> guard (backend.lock);
            backend.present.clear();
        }
        closing = std::thread ([&] { bridge.rescan (true); });
        std::this_thread::sleep_for (std::chrono::milliseconds (100));
    };
    backend.feed ("/dev/hidraw0", Report { 0xFC, 100 });
    ASSERT_TRUE (waitFor ([&] { return countPosted (Event::removal) == 1; }));
    closing.join();

    const auto list = posted();
    ASSERT_EQ (list.size(), 2u);
    EXPECT_EQ (list[0].event, Event::input);
    EXPECT_EQ (list[1].event, Event::removal);
    unsigned char buffer[256] {};
    int length = 256;
    ASSERT_EQ (bridge.input (number, buffer, &length), 1);
    EXPECT_EQ (buffer[0], 0xFC);
}

TEST_F (HidrawBridge, ACompositeControllerIsListedOnceOnTheProtocolsInterface)
{
    auto other = controller ("/dev/hidraw0", 0x0103, "C", consumerControls);
    other.interfaceNumber = 0;
    auto protocol = controller ("/dev/hidraw1", 0x0103, "C", vendorUnnumbered);
    protocol.interfaceNumber = 1;
    backend.plug (other);
    backend.plug (protocol);
    bridge.rescan (false);

    ASSERT_EQ (numbers().size(), 1u);
    std::uint8_t report[64] { 0xF4 };
    EXPECT_EQ (bridge.write (numbers()[0], report, 64), 1);
    EXPECT_EQ (backend.port ("/dev/hidraw1")->written.size(), 1u);
    EXPECT_EQ (backend.port ("/dev/hidraw0"), nullptr) << "the other interface is not even opened";
}

TEST_F (HidrawBridge, DeviceThatCannotBeOpenedIsNamedWithTheReasonAndOfferedOnceItCan)
{
    // The udev rule is the advice only where permissions are the cause.
    int node = 0;
    for (const auto& [error, advised] : { std::pair { EACCES, true }, std::pair { EPERM, true }, std::pair { ENOENT, false } })
    {
        SCOPED_TRACE (std::strerror (error));
        const auto path = "/dev/hidraw" + std::to_string (node++);
        backend.unopenable[path] = error;
        backend.plug (controller (path));
        TraceCapture trace;
        bridge.rescan (true);
        bridge.rescan (true);
        const auto text = trace.finish();
        EXPECT_TRUE (numbers().empty());
        EXPECT_TRUE (posted().empty());
        EXPECT_NE (text.find (path + " (KRV-7000): " + std::strerror (error)), std::string::npos) << text;
        EXPECT_EQ (text.find ("udev rule") != std::string::npos, advised) << text;
        EXPECT_EQ (text.find ("README") != std::string::npos, advised) << "says where to read on: " << text;
        EXPECT_EQ (text.find (path), text.rfind (path)) << "once, not at every rescan";

        backend.unopenable.clear();
        bridge.rescan (true);
        ASSERT_EQ (numbers().size(), 1u);
        ASSERT_EQ (posted().size(), 1u);
        EXPECT_EQ (posted()[0].event, Event::arrival);

        backend.unplug (path);
        bridge.rescan (false);
        ASSERT_TRUE (numbers().empty());
        const std::lock_guard<std::mutex> guard (lock);
        messages.clear();
    }
}

TEST_F (HidrawBridge, RemovalEndsTheReaderBeforeItIsAnnounced)
{
    std::atomic<int> readErrors { 0 };
    bridge.onReadError = [&] { ++readErrors; };
    backend.plug (controller ("/dev/hidraw0"));
    bridge.rescan (false);
    const int number = numbers().at (0);

    backend.unplug ("/dev/hidraw0");
    ASSERT_TRUE (waitFor ([&] { return readErrors.load() == 1; })) << "a reader that fails asks for a rescan";
    bridge.rescan (true);

    const auto list = posted();
    ASSERT_FALSE (list.empty());
    EXPECT_EQ (list.back().event, Event::removal);
    EXPECT_EQ (list.back().number, number);

    unsigned char buffer[256];
    int length = 256;
    EXPECT_EQ (bridge.input (number, buffer, &length), 0);
    EXPECT_EQ (bridge.write (number, buffer, 64), 0);
}

TEST_F (HidrawBridge, CloseAllForgetsEverything)
{
    backend.plug (controller ("/dev/hidraw0"));
    backend.plug (controller ("/dev/hidraw1", 0x0103, "B"));
    bridge.rescan (false);
    ASSERT_EQ (numbers().size(), 2u);

    bridge.closeAll();
    EXPECT_TRUE (numbers().empty());
    backend.feed ("/dev/hidraw0", Report { 1 });
    std::this_thread::sleep_for (std::chrono::milliseconds (2 * DeviceBridge::readTimeoutMs));
    EXPECT_EQ (countPosted (Event::input), 0u);
}
