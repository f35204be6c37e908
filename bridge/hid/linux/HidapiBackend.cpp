#include "HidapiBackend.h"

#include "../SystemBackend.h"
#include "KrvUsbIds.h"

#include <hidapi/hidapi.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace fwbridge
{
namespace
{
class HidapiPort final : public HidPort
{
public:
    explicit HidapiPort (hid_device* d) : device (d) {}
    ~HidapiPort() override { hid_close (device); }

    int read (std::uint8_t* buffer, std::size_t size, int timeoutMs) override
    {
        if (! hungUp)
        {
            errno = 0;
            const int count = hid_read_timeout (device, buffer, size, timeoutMs);
            // A signal that interrupts the wait is no reason to give the device up.
            if (count >= 0 || errno == EINTR)
                return std::max (count, 0);
            hungUp = true;
        }

        // A node whose device left still holds the reports that came before (the last answer,
        // say), but hidapi's poll sees the hang-up and fails before reading. A read without a
        // time-out skips that poll: the kernel hands out what is queued, then fails at once
        // (nothing read counts as failed too, so a hung-up node never spins the reader).
        const int count = hid_read_timeout (device, buffer, size, -1);
        return count > 0 ? count : -1;
    }

    int write (const std::uint8_t* data, std::size_t size) override
    {
        return hid_write (device, data, size);
    }

private:
    hid_device* device;
    bool hungUp = false;
};

// The descriptor as sysfs gives it for /dev/hidrawN; empty when it cannot be read.
std::vector<std::uint8_t> readReportDescriptor (const std::string& node)
{
    const auto slash = node.rfind ('/');
    const auto name = slash == std::string::npos ? node : node.substr (slash + 1);
    std::vector<std::uint8_t> bytes;
    if (name.empty())
        return bytes;

    if (auto* file = std::fopen (("/sys/class/hidraw/" + name + "/device/report_descriptor").c_str(), "rb"))
    {
        std::uint8_t chunk[4096];
        std::size_t count = 0;
        while ((count = std::fread (chunk, 1, sizeof (chunk), file)) > 0)
            bytes.insert (bytes.end(), chunk, chunk + count);
        std::fclose (file);
    }
    return bytes;
}

std::string narrow (const wchar_t* text)
{
    std::string result;
    if (text != nullptr)
        for (; *text != 0; ++text)
            result.push_back (*text < 0x80 ? static_cast<char> (*text) : '?');
    return result;
}
} // namespace

std::unique_ptr<HidBackend> createSystemBackend()
{
    if (hid_init() != 0)
        return nullptr;
    return std::make_unique<HidapiBackend>();
}

HidapiBackend::~HidapiBackend()
{
    hid_exit();
}

std::vector<HidDeviceInfo> HidapiBackend::enumerate()
{
    std::vector<HidDeviceInfo> found;
    auto* list = hid_enumerate (krv7000::usbVendorId, krv7000::usbProductId);

    for (auto* d = list; d != nullptr; d = d->next)
    {
        // hidapi lists a node once per top-level collection; the descriptor has them all.
        const std::string path = d->path != nullptr ? d->path : "";
        if (std::any_of (found.begin(), found.end(), [&] (const HidDeviceInfo& f) { return f.path == path; }))
            continue;

        HidDeviceInfo info;
        info.path = d->path != nullptr ? d->path : "";
        info.vendorId = d->vendor_id;
        info.productId = d->product_id;
        info.releaseNumber = d->release_number;
        info.interfaceNumber = d->interface_number;
        info.serialNumber = narrow (d->serial_number);
        info.reportDescriptor = readReportDescriptor (info.path);
        found.push_back (std::move (info));
    }

    hid_free_enumeration (list);
    return found;
}

std::unique_ptr<HidPort> HidapiBackend::open (const std::string& path, std::string& reason, int& error)
{
    errno = 0;
    if (auto* device = hid_open_path (path.c_str()))
        return std::make_unique<HidapiPort> (device);

    error = errno;
    reason = error != 0 ? std::strerror (error) : narrow (hid_error (nullptr));
    return nullptr;
}
} // namespace fwbridge
