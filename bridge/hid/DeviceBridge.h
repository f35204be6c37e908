#pragma once

#include "../common/MessageTarget.h"
#include "../common/ReportQueue.h"
#include "HidBackend.h"
#include "HidNumberTable.h"
#include "ProtocolLog.h"

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace fwbridge
{
/** The device library's work without the C entry points: keeps the HID numbers of the
    matching devices, reads each one on a thread of its own and announces input, arrival
    and removal through the poster. Each device is opened twice, once for its reader and
    once for writing, so no handle is ever used by two threads at once.
*/
class DeviceBridge
{
public:
    /** Returns whether the message went out: the host reads one report per input message,
        so a report whose message did not is not kept. */
    using Poster = std::function<bool (Event, int hidNumber)>;

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
        for a rescan elsewhere (a rescan joins that reader). That rescan takes the device
        as removed, and as a new arrival if it is still listed. */
    std::function<void()> onReadError;

    /** Off unless opened: every report, arrival and removal (the library's own log). */
    ProtocolLog protocolLog;

    /** Removed devices whose unread reports are kept for the host, newest last. */
    static constexpr std::size_t maximumLeftovers = 16;

    static constexpr int readTimeoutMs = 50;
    static constexpr int maximumInputReport = 256;
    static constexpr int maximumOutputReport = 4096;

private:
    struct OpenDevice
    {
        ~OpenDevice();
        int number = -1;
        std::string path;
        ReportNumbering numbering;
        std::unique_ptr<HidPort> readPort;  // the reader thread's only
        std::unique_ptr<HidPort> writePort; // under writeLock
        std::mutex writeLock;
        std::atomic<bool> stopping { false };
        std::atomic<bool> failed { false };
        std::thread reader;
    };

    struct Opened
    {
        std::unique_ptr<HidPort> readPort;
        std::unique_ptr<HidPort> writePort;
    };

    void readLoop (OpenDevice& device);
    std::optional<Opened> openBoth (const std::string& path);

    HidBackend& backend;
    Poster poster;

    std::mutex scanLock; // one rescan at a time
    mutable std::mutex lock;
    HidNumberTable table;
    std::map<int, std::shared_ptr<OpenDevice>> devices;
    /** Input reports by HID number, also of removed devices until the host has read them
        (a completion answer can come just before the controller resets).
    */
    std::map<int, ReportQueue> queues;
    std::vector<int> leftovers; // removed numbers with reports in queues, oldest first
    int lastRead = -1;          // the device the host read last
    std::set<std::string> reportedUnopenable;
};
} // namespace fwbridge
