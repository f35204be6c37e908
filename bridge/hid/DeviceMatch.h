#pragma once

#include "ReportDescriptor.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace fwbridge
{
/** What enumeration tells about one HID interface. */
struct HidDeviceInfo
{
    std::string path;
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::uint16_t releaseNumber = 0; // bcdDevice
    int interfaceNumber = -1;
    std::string serialNumber;
    std::vector<std::uint8_t> reportDescriptor; // empty when it could not be read
    /** Where the system hands out no descriptor (Windows), what it tells of it instead:
        the collection's usage page and the reports' ids. Takes the descriptor's place. */
    std::optional<ReportDescriptorSummary> describedBySystem;
};

/** The descriptor's summary, or the system's where it gave one instead. */
ReportDescriptorSummary summaryOf (const HidDeviceInfo& device);

/** The type code of a device: the KRV-7000's for the controller's ids, on the interface
    that carries the update protocol (its number and its usage page, where set), -1 for
    anything else, which the library does not list. */
int deviceTypeFor (const HidDeviceInfo& device);

/** The firmware version as major x 100 + minor from a BCD release number:
    0x0103 gives 103, 0x1234 gives 1234. */
int firmwareVersionFromBcd (std::uint16_t bcd);

/** How reports travel through the device's node: the id written before every output
    report (0: unnumbered), and whether input reports start with their id. */
struct ReportNumbering
{
    bool numbered = false;
    std::uint8_t outputReportId = 0;
};

/** From the report descriptor, unless the build sets the output report id. */
ReportNumbering reportNumberingFor (const HidDeviceInfo& device);
} // namespace fwbridge
