#include "DeviceBridge.h"

#include "DebugOutput.h"

#include <algorithm>
#include <cstring>

namespace fwbridge
{
DeviceBridge::OpenDevice::~OpenDevice()
{
    stopping = true;
    if (reader.joinable())
        reader.join();
}

DeviceBridge::DeviceBridge (HidBackend& b, Poster p) : backend (b), poster (std::move (p)) {}

DeviceBridge::~DeviceBridge()
{
    closeAll();
}

void DeviceBridge::readLoop (OpenDevice& device)
{
    std::uint8_t buffer[maximumInputReport + 1];
    const std::size_t skip = device.numbering.numbered ? 1 : 0;

    while (! device.stopping)
    {
        const int count = device.readPort->read (buffer, sizeof (buffer), readTimeoutMs);
        if (count == 0)
            continue;

        if (count < 0)
        {
            // Unplugged, most likely; the next rescan closes it and posts the removal (and
            // opens it afresh if it is still listed).
            device.failed = true;
            if (onReadError)
                onReadError();
            return;
        }

        // Numbered reports come with their id first; the host wants the report itself.
        if ((std::size_t) count <= skip)
            continue;

        {
            std::lock_guard<std::mutex> guard (lock);
            queues[device.number].push (Report (buffer + skip, buffer + count));
        }
        protocolLog.input (device.number, buffer + skip, count - (int) skip);

        // Announced even when a rescan is closing the device: the report is queued, and the
        // join keeps this message ahead of the removal (it may be the last answer).
        if (! poster || ! poster (Event::input, device.number))
        {
            // Never announced (read before posting was on, say): left queued, it would be
            // what the next message reads, and every report after it one message late.
            std::lock_guard<std::mutex> guard (lock);
            queues[device.number].dropNewest();
        }
    }
}

std::optional<DeviceBridge::Opened> DeviceBridge::openBoth (const std::string& path)
{
    std::string reason;
    int error = 0;
    Opened opened;
    opened.readPort = backend.open (path, reason, error);
    if (opened.readPort != nullptr)
        opened.writePort = backend.open (path, reason, error);

    if (opened.readPort != nullptr && opened.writePort != nullptr)
    {
        reportedUnopenable.erase (path);
        return opened;
    }

    // Told once per node until it opens: the host's debug trace shows this line.
    if (reportedUnopenable.insert (path).second)
    {
        protocolLog.note ("cannot open " + path + ": " + reason);
        debugLine ("fwbridge: cannot open " + path + " (KRV-7000): " + (reason.empty() ? "unknown reason" : reason)
                   + openFailureHint (error));
    }
    return std::nullopt;
}

void DeviceBridge::rescan (bool announce)
{
    std::lock_guard<std::mutex> scanGuard (scanLock);

    std::vector<HidDeviceInfo> matching;
    for (auto& device : backend.enumerate())
        if (deviceTypeFor (device) >= 0)
            matching.push_back (std::move (device));

    std::vector<std::shared_ptr<OpenDevice>> closing;
    HidNumberTable::Changes changes;
    std::set<int> failedReaders;

    // A device whose reader failed is gone as far as the host knows, even if the same
    // node is listed again (a quick re-plug): it is removed now and may arrive afresh.
    {
        std::lock_guard<std::mutex> guard (lock);
        for (const auto& [number, device] : devices)
            if (device->failed)
                if (auto entry = table.forget (number))
                {
                    changes.removed.push_back (*entry);
                    failedReaders.insert (number);
                }
    }

    // Open the newcomers first: one that cannot be opened is not offered to the host
    // (it could neither be read nor updated) and is tried again at the next rescan.
    std::map<std::string, Opened> opened;
    std::vector<HidDeviceInfo> usable;
    {
        HidNumberTable probe;
        {
            std::lock_guard<std::mutex> guard (lock);
            probe = table;
        }
        const auto fresh = probe.update (matching).arrived;

        for (const auto& device : matching)
        {
            const bool isNew = std::any_of (fresh.begin(), fresh.end(),
                                            [&] (const HidNumberTable::Entry& e) { return e.info.path == device.path; });
            if (! isNew)
            {
                usable.push_back (device);
                continue;
            }

            if (auto ports = openBoth (device.path))
            {
                opened[device.path] = std::move (*ports);
                usable.push_back (device);
            }
        }
    }

    {
        std::lock_guard<std::mutex> guard (lock);
        auto later = table.update (usable);
        changes.removed.insert (changes.removed.end(), later.removed.begin(), later.removed.end());
        changes.arrived = std::move (later.arrived);

        for (const auto& gone : changes.removed)
        {
            auto found = devices.find (gone.number);
            if (found != devices.end())
            {
                found->second->stopping = true;
                closing.push_back (found->second);
                devices.erase (found);
            }
        }

        for (const auto& entry : changes.arrived)
        {
            auto device = std::make_shared<OpenDevice>();
            device->number = entry.number;
            device->path = entry.info.path;
            device->numbering = reportNumberingFor (entry.info);
            device->readPort = std::move (opened[entry.info.path].readPort);
            device->writePort = std::move (opened[entry.info.path].writePort);
            devices[entry.number] = device;
        }
    }

    // Readers end before their removal is told, so no input follows a removal.
    for (auto& device : closing)
        if (device->reader.joinable())
            device->reader.join();
    closing.clear();

    {
        std::lock_guard<std::mutex> guard (lock);
        for (const auto& gone : changes.removed)
        {
            // Reports already announced stay readable until the host has read them.
            auto queue = queues.find (gone.number);
            if (queue == queues.end())
                continue;
            if (queue->second.empty())
            {
                queues.erase (queue);
                continue;
            }
            leftovers.push_back (gone.number);
            if (leftovers.size() > maximumLeftovers)
            {
                queues.erase (leftovers.front());
                leftovers.erase (leftovers.begin());
            }
        }
    }

    for (const auto& entry : changes.removed)
        protocolLog.removal (entry.number, failedReaders.count (entry.number) != 0);
    for (const auto& entry : changes.arrived)
        protocolLog.arrival (entry.number, entry.info, entry.version, reportNumberingFor (entry.info).outputReportId);

    if (announce && poster)
    {
        for (const auto& entry : changes.removed)
            poster (Event::removal, entry.number);
        for (const auto& entry : changes.arrived)
            poster (Event::arrival, entry.number);
    }

    // Readers start once their arrival is told, so no input comes before it: the host
    // would pass over such a message and read one report behind from then on.
    std::lock_guard<std::mutex> guard (lock);
    for (const auto& entry : changes.arrived)
    {
        auto found = devices.find (entry.number);
        if (found != devices.end())
        {
            auto* device = found->second.get();
            device->reader = std::thread ([this, device] { readLoop (*device); });
        }
    }
}

void DeviceBridge::closeAll()
{
    std::lock_guard<std::mutex> scanGuard (scanLock);

    std::map<int, std::shared_ptr<OpenDevice>> closing;
    {
        std::lock_guard<std::mutex> guard (lock);
        closing.swap (devices);
        table = HidNumberTable();
        for (auto& entry : closing)
            entry.second->stopping = true;
    }

    for (auto& entry : closing)
        if (entry.second->reader.joinable())
            entry.second->reader.join();

    std::lock_guard<std::mutex> guard (lock);
    queues.clear();
    leftovers.clear();
    lastRead = -1;
}

int DeviceBridge::enumerate (int* numbers) const
{
    std::lock_guard<std::mutex> guard (lock);
    return table.listNumbers (numbers, 128);
}

int DeviceBridge::deviceType (int hidNumber) const
{
    std::lock_guard<std::mutex> guard (lock);
    const auto* entry = table.find (hidNumber);
    return entry != nullptr ? entry->type : -1;
}

int DeviceBridge::firmwareVersion (int typeCode, int* version, int count) const
{
    if (version == nullptr || count < 1)
        return 0;

    std::lock_guard<std::mutex> guard (lock);
    const auto* entry = table.firstOfType (typeCode);
    if (entry == nullptr)
        return 0;

    version[0] = entry->version;
    return 1;
}

int DeviceBridge::input (int hidNumber, unsigned char* buffer, int* length)
{
    if (length == nullptr)
        return 0;

    std::lock_guard<std::mutex> guard (lock);
    std::optional<Report> report;
    auto found = queues.find (hidNumber);
    if (found != queues.end())
    {
        // The host reads only the device it follows and ignores the input messages of
        // the others, so a device it turns to from another (at a hand-over) may hold
        // reports whose messages were ignored long ago: it gets the newest, and reads keep
        // pace again. (At the very first read every message is still to come.)
        if (lastRead >= 0 && hidNumber != lastRead)
            while (found->second.size() > 1)
                found->second.pop();

        report = found->second.pop();

        if (found->second.empty() && devices.count (hidNumber) == 0)
        {
            queues.erase (found);
            leftovers.erase (std::remove (leftovers.begin(), leftovers.end(), hidNumber), leftovers.end());
        }
    }
    lastRead = hidNumber;

    if (! report)
    {
        *length = 0;
        return 0;
    }

    *length = copyReport (*report, buffer, length);
    return 1;
}

int DeviceBridge::write (int hidNumber, const unsigned char* data, int length)
{
    if (data == nullptr || length <= 0)
        return 0;

    std::shared_ptr<OpenDevice> device;
    {
        std::lock_guard<std::mutex> guard (lock);
        auto found = devices.find (hidNumber);
        if (found == devices.end())
            return 0;
        device = found->second;
    }

    // The report id goes first; 0 for a device without numbered reports.
    std::uint8_t report[maximumOutputReport + 1];
    if (length > maximumOutputReport)
        return 0;
    report[0] = device->numbering.outputReportId;
    std::memcpy (report + 1, data, (std::size_t) length);

    std::lock_guard<std::mutex> writeGuard (device->writeLock);
    const bool sent = device->writePort->write (report, (std::size_t) length + 1) > 0;
    protocolLog.output (hidNumber, data, length, sent);
    return sent ? 1 : 0;
}
} // namespace fwbridge
