// The real device library's logic, without hardware: id matching, versions from the
// release number, HID numbers, and the bridge over a fake hidapi.
#include "DeviceBridge.h"
#include "HidNumberTable.h"
#include "KrvUsbIds.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <thread>

using namespace fwbridge;

namespace
{
HidDeviceInfo controller (const std::string& path, std::uint16_t bcd = 0x0103, const std::string& serial = "A1")
{
    HidDeviceInfo d;
    d.path = path;
    d.vendorId = krv7000::usbVendorId;
    d.productId = krv7000::usbProductId;
    d.releaseNumber = bcd;
    d.interfaceNumber = krv7000::hidInterface >= 0 ? krv7000::hidInterface : 0;
    d.serialNumber = serial;
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
        int readers = 0;
    };

    class Port : public HidPort
    {
    public:
        explicit Port (std::shared_ptr<PortState> s) : state (std::move (s)) {}

        int read (std::uint8_t* buffer, std::size_t size, int timeoutMs) override
        {
            std::unique_lock<std::mutex> guard (state->lock);
            state->ready.wait_for (guard, std::chrono::milliseconds (timeoutMs), [&] { return state->gone || ! state->toRead.empty(); });
            if (state->gone)
                return -1;
            if (state->toRead.empty())
                return 0;
            auto report = state->toRead.front();
            state->toRead.pop_front();
            const auto count = std::min (size, report.size());
            std::copy (report.begin(), report.begin() + (long) count, buffer);
            return (int) count;
        }

        int write (const std::uint8_t* data, std::size_t size) override
        {
            std::lock_guard<std::mutex> guard (state->lock);
            if (state->gone || state->failWrites)
                return -1;
            state->written.emplace_back (data, data + size);
            return (int) size;
        }

    private:
        std::shared_ptr<PortState> state;
    };

    std::vector<HidDeviceInfo> enumerate() override
    {
        std::lock_guard<std::mutex> guard (lock);
        ++enumerations;
        return present;
    }

    std::unique_ptr<HidPort> open (const std::string& path) override
    {
        std::lock_guard<std::mutex> guard (lock);
        if (unopenable.count (path) != 0)
            return nullptr;
        auto state = std::make_shared<PortState>();
        ports[path] = state;
        return std::make_unique<Port> (state);
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
    std::set<std::string> unopenable;
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
    DeviceBridge bridge { backend, [this] (Event e, int n)
                          {
                              std::lock_guard<std::mutex> guard (lock);
                              messages.push_back ({ e, n });
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

TEST_F (HidrawBridge, WritesPutTheReportIdFirst)
{
    backend.plug (controller ("/dev/hidraw0"));
    bridge.rescan (false);
    const int number = numbers().at (0);

    std::uint8_t report[64] {};
    report[0] = 0xF4;
    report[63] = 0x3C;
    EXPECT_EQ (bridge.write (number, report, 64), 1);
    const auto written = backend.port ("/dev/hidraw0")->written;
    ASSERT_EQ (written.size(), 1u);
    ASSERT_EQ (written[0].size(), 65u);
    EXPECT_EQ (written[0][0], krv7000::outputReportId);
    EXPECT_EQ (written[0][1], 0xF4);
    EXPECT_EQ (written[0][64], 0x3C);

    EXPECT_EQ (bridge.write (number + 1, report, 64), 0);
    EXPECT_EQ (bridge.write (number, report, 0), 0);
    backend.port ("/dev/hidraw0")->failWrites = true;
    EXPECT_EQ (bridge.write (number, report, 64), 0);
}

TEST_F (HidrawBridge, DeviceThatCannotBeOpenedIsOfferedOnceItCan)
{
    backend.unopenable.insert ("/dev/hidraw0");
    backend.plug (controller ("/dev/hidraw0"));
    bridge.rescan (true);
    EXPECT_TRUE (numbers().empty());
    EXPECT_TRUE (posted().empty());

    backend.unopenable.clear();
    bridge.rescan (true);
    ASSERT_EQ (numbers().size(), 1u);
    ASSERT_EQ (posted().size(), 1u);
    EXPECT_EQ (posted()[0].event, Event::arrival);
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
