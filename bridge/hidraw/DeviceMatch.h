#pragma once

#include <cstdint>
#include <string>

namespace fwbridge
{
// What enumeration tells about one HID interface.
struct HidDeviceInfo
{
    std::string path;
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::uint16_t releaseNumber = 0; // bcdDevice
    int interfaceNumber = -1;
    std::string serialNumber;
};

/** The type code of a device: the KRV-7000's for the controller's ids (and interface),
    -1 for anything else, which the library does not list. */
int deviceTypeFor (const HidDeviceInfo& device);

/** The firmware version as major x 100 + minor from a BCD release number:
    0x0103 gives 103, 0x1234 gives 1234. */
int firmwareVersionFromBcd (std::uint16_t bcd);
} // namespace fwbridge
