#pragma once

#include "../common/MessageTarget.h"
#include "../common/ReportQueue.h"
#include "HidNumberTable.h"

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace fwbridge
{
// One opened HID interface.
class HidPort
{
public:
    virtual ~HidPort() = default;
    /** Bytes read, 0 when nothing came within timeoutMs, negative when the device is gone. */
    virtual int read (std::uint8_t* buffer, std::size_t size, int timeoutMs) = 0;
    /** Bytes written (report id included), negative on failure. */
    virtual int write (const std::uint8_t* data, std::size_t size) = 0;
};

// Finds and opens HID interfaces: hidapi in the library, a fake in the tests.
class HidBackend
{
public:
    virtual ~HidBackend() = default;
    virtual std::vector<HidDeviceInfo> enumerate() = 0;
    /** Null when the interface cannot be opened (no permission, gone). */
    virtual std::unique_ptr<HidPort> open (const std::string& path) = 0;
};

// The device library's work without the C entry points: keeps the HID numbers of the
// matching devices, reads each one on a thread of its own and announces input, arrival
// and removal through the poster.
class DeviceBridge
{
public:
    using Poster = std::function<void (Event, int hidNumber)>;

    DeviceBridge (HidBackend& backend, Poster poster);
    ~DeviceBridge();

    /** Enumerates again and opens or closes devices to match; announce says whether
        arrivals and removals are posted (not for the first look at start). */
    void rescan (bool announce);

    /** Closes every device and forgets the numbers. */
    void closeAll();

    int enumerate (int* numbers) const;
    int deviceType (int hidNumber) const;
    int firmwareVersion (int typeCode, int* version, int count) const;
    int input (int hidNumber, unsigned char* buffer, int* length);
    int write (int hidNumber, const unsigned char* data, int length);

    /** Called on a reader thread when a device stops answering reads; must only ask
        for a rescan elsewhere (a rescan joins that reader). */
    std::function<void()> onReadError;

    static constexpr int readTimeoutMs = 50;
    static constexpr int maximumInputReport = 256;

private:
    struct OpenDevice
    {
        ~OpenDevice();
        int number = -1;
        std::unique_ptr<HidPort> port;
        ReportQueue queue; // guarded by the bridge's lock
        std::mutex writeLock;
        std::atomic<bool> stopping { false };
        std::thread reader;
    };

    void readLoop (OpenDevice& device);

    HidBackend& backend;
    Poster poster;

    std::mutex scanLock; // one rescan at a time
    mutable std::mutex lock;
    HidNumberTable table;
    std::map<int, std::shared_ptr<OpenDevice>> devices;
    std::set<std::string> reportedUnopenable;
};
} // namespace fwbridge
