#include "ReportDescriptor.h"

#include <algorithm>

namespace fwbridge
{
ReportDescriptorSummary summariseReportDescriptor (const std::vector<std::uint8_t>& descriptor)
{
    ReportDescriptorSummary summary;

    struct Globals
    {
        std::uint32_t usagePage = 0;
        std::uint32_t reportId = 0;
    };

    Globals globals;
    std::vector<Globals> pushed;
    int depth = 0;
    bool haveOutput = false;
    std::size_t at = 0;

    while (at < descriptor.size())
    {
        const auto prefix = descriptor[at];

        if (prefix == 0xFE) // long item: skipped, it carries no global or main data we use
        {
            if (at + 2 >= descriptor.size())
                return summary;
            at += 3u + descriptor[at + 1];
            continue;
        }

        static constexpr std::size_t sizes[4] = { 0, 1, 2, 4 };
        const auto size = sizes[prefix & 0x03];
        if (at + 1 + size > descriptor.size())
            return summary;

        std::uint32_t value = 0;
        for (std::size_t i = 0; i < size; ++i)
            value |= static_cast<std::uint32_t> (descriptor[at + 1 + i]) << (8 * i);

        switch (prefix & 0xFC)
        {
            case 0x04: globals.usagePage = value; break;
            case 0x84:
                globals.reportId = value;
                summary.numbered = true;
                break;
            case 0xA4: pushed.push_back (globals); break;
            case 0xB4:
                if (! pushed.empty())
                {
                    globals = pushed.back();
                    pushed.pop_back();
                }
                break;
            case 0xA0:
                if (depth++ == 0)
                    summary.usagePages.push_back (static_cast<std::uint16_t> (globals.usagePage));
                break;
            case 0xC0: depth = std::max (0, depth - 1); break;
            case 0x90:
                if (! haveOutput)
                {
                    summary.outputReportId = static_cast<std::uint8_t> (globals.reportId);
                    haveOutput = true;
                }
                break;
            default: break;
        }

        at += 1 + size;
    }

    summary.valid = true;
    return summary;
}
} // namespace fwbridge
