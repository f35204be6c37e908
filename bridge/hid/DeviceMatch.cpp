#include "DeviceMatch.h"

#include "KrvUsbIds.h"
#include "ReportDescriptor.h"

#include <algorithm>

namespace fwbridge
{
int deviceTypeFor (const HidDeviceInfo& device)
{
    if (device.vendorId != krv7000::usbVendorId || device.productId != krv7000::usbProductId)
        return -1;

    if (krv7000::hidInterface >= 0 && device.interfaceNumber != krv7000::hidInterface)
        return -1;

    // A composite controller lists one hidraw node per HID interface: only the one whose
    // descriptor has the protocol's usage page is the controller (an unreadable
    // descriptor cannot tell, and is taken).
    if (krv7000::hidUsagePage >= 0 && (device.describedBySystem || ! device.reportDescriptor.empty()))
    {
        const auto pages = summaryOf (device).usagePages;
        if (std::find (pages.begin(), pages.end(), krv7000::hidUsagePage) == pages.end())
            return -1;
    }

    return krv7000::typeCode;
}

ReportDescriptorSummary summaryOf (const HidDeviceInfo& device)
{
    return device.describedBySystem ? *device.describedBySystem : summariseReportDescriptor (device.reportDescriptor);
}

int firmwareVersionFromBcd (std::uint16_t bcd)
{
    const auto digit = [bcd] (int position) { return (bcd >> (4 * position)) & 0xF; };
    const int major = digit (3) * 10 + digit (2);
    const int minor = digit (1) * 10 + digit (0);
    return major * 100 + minor;
}

ReportNumbering reportNumberingFor (const HidDeviceInfo& device)
{
    ReportNumbering numbering;
    if (krv7000::outputReportId >= 0)
    {
        numbering.outputReportId = static_cast<std::uint8_t> (krv7000::outputReportId);
        numbering.numbered = numbering.outputReportId != 0;
        return numbering;
    }

    const auto summary = summaryOf (device);
    numbering.numbered = summary.numbered;
    numbering.outputReportId = summary.numbered ? summary.outputReportId : 0;
    return numbering;
}
} // namespace fwbridge
