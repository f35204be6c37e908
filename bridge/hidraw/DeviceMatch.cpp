#include "DeviceMatch.h"

#include "KrvUsbIds.h"

namespace fwbridge
{
int deviceTypeFor (const HidDeviceInfo& device)
{
    if (device.vendorId != krv7000::usbVendorId || device.productId != krv7000::usbProductId)
        return -1;

    if (krv7000::hidInterface >= 0 && device.interfaceNumber != krv7000::hidInterface)
        return -1;

    return krv7000::typeCode;
}

int firmwareVersionFromBcd (std::uint16_t bcd)
{
    const auto digit = [bcd] (int position) { return (bcd >> (4 * position)) & 0xF; };
    const int major = digit (3) * 10 + digit (2);
    const int minor = digit (1) * 10 + digit (0);
    return major * 100 + minor;
}
} // namespace fwbridge
