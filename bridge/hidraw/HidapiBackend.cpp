#include "HidapiBackend.h"

#include "KrvUsbIds.h"

#include <hidapi/hidapi.h>

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
        return hid_read_timeout (device, buffer, size, timeoutMs);
    }

    int write (const std::uint8_t* data, std::size_t size) override
    {
        return hid_write (device, data, size);
    }

private:
    hid_device* device;
};

std::string narrow (const wchar_t* text)
{
    std::string result;
    if (text != nullptr)
        for (; *text != 0; ++text)
            result.push_back (*text < 0x80 ? static_cast<char> (*text) : '?');
    return result;
}
} // namespace

std::vector<HidDeviceInfo> HidapiBackend::enumerate()
{
    std::vector<HidDeviceInfo> found;
    auto* list = hid_enumerate (krv7000::usbVendorId, krv7000::usbProductId);

    for (auto* d = list; d != nullptr; d = d->next)
    {
        HidDeviceInfo info;
        info.path = d->path != nullptr ? d->path : "";
        info.vendorId = d->vendor_id;
        info.productId = d->product_id;
        info.releaseNumber = d->release_number;
        info.interfaceNumber = d->interface_number;
        info.serialNumber = narrow (d->serial_number);
        found.push_back (std::move (info));
    }

    hid_free_enumeration (list);
    return found;
}

std::unique_ptr<HidPort> HidapiBackend::open (const std::string& path)
{
    if (auto* device = hid_open_path (path.c_str()))
        return std::make_unique<HidapiPort> (device);
    return nullptr;
}
} // namespace fwbridge
