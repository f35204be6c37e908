#include "DeviceBridge.h"

#include "KrvUsbIds.h"

#include <algorithm>
#include <cstdio>

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
    std::uint8_t buffer[maximumInputReport];

    while (! device.stopping)
    {
        const int count = device.port->read (buffer, sizeof (buffer), readTimeoutMs);
        if (count == 0)
            continue;

        if (count < 0)
        {
            // Unplugged, most likely; the monitor's rescan closes it and posts the removal.
            if (onReadError)
                onReadError();
            return;
        }

        {
            std::lock_guard<std::mutex> guard (lock);
            device.queue.push (Report (buffer, buffer + count));
        }

        if (! device.stopping && poster)
            poster (Event::input, device.number);
    }
}

void DeviceBridge::rescan (bool announce)
{
    std::lock_guard<std::mutex> scanGuard (scanLock);

    std::vector<HidDeviceInfo> matching;
    for (auto& device : backend.enumerate())
        if (deviceTypeFor (device) >= 0)
            matching.push_back (std::move (device));

    // Open the newcomers first: one that cannot be opened is not offered to the host
    // (it could neither be read nor updated) and is tried again at the next rescan.
    std::map<std::string, std::unique_ptr<HidPort>> opened;
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

            if (auto port = backend.open (device.path))
            {
                opened[device.path] = std::move (port);
                usable.push_back (device);
            }
            else if (reportedUnopenable.insert (device.path).second)
            {
                std::fprintf (stderr, "fwbridge: cannot open %s (KRV-7000); is the udev rule installed?\n", device.path.c_str());
            }
        }
    }

    std::vector<std::shared_ptr<OpenDevice>> closing;
    HidNumberTable::Changes changes;
    {
        std::lock_guard<std::mutex> guard (lock);
        changes = table.update (usable);

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
            device->port = std::move (opened[entry.info.path]);
            devices[entry.number] = device;
            reportedUnopenable.erase (entry.info.path);
        }
    }

    // Readers end before their removal is told, so no input follows a removal.
    for (auto& device : closing)
        if (device->reader.joinable())
            device->reader.join();
    closing.clear();

    {
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

    if (announce && poster)
    {
        for (const auto& entry : changes.removed)
            poster (Event::removal, entry.number);
        for (const auto& entry : changes.arrived)
            poster (Event::arrival, entry.number);
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
    auto found = devices.find (hidNumber);
    std::optional<Report> report;
    if (found != devices.end())
        report = found->second->queue.pop();

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

    // hidraw wants the report id first; 0 for a device without numbered reports.
    std::vector<std::uint8_t> report;
    report.reserve ((std::size_t) length + 1);
    report.push_back (krv7000::outputReportId);
    report.insert (report.end(), data, data + length);

    std::lock_guard<std::mutex> writeGuard (device->writeLock);
    return device->port->write (report.data(), report.size()) > 0 ? 1 : 0;
}
} // namespace fwbridge
