#pragma once

#include <cstdint>
#include <vector>

namespace fwbridge
{
/** What the library needs to know from a HID report descriptor: the usage pages of its
    top-level collections, and whether its reports are numbered (then hidraw puts the
    report id before every input report and wants it before every output report).
*/
struct ReportDescriptorSummary
{
    std::vector<std::uint16_t> usagePages; // one per top-level collection
    bool numbered = false;                 // any Report ID item
    std::uint8_t outputReportId = 0;       // id of the first output report (0: unnumbered)
    bool valid = false;                    // parsed to the end without a malformed item
};

ReportDescriptorSummary summariseReportDescriptor (const std::vector<std::uint8_t>& descriptor);
} // namespace fwbridge
