#include "SimLabels.h"

#include "SimLog.h"

#include <cstdio>

namespace krvsim
{
std::string versionText (int version)
{
    char text[32];
    std::snprintf (text, sizeof (text), "%d.%02d", version / 100, version % 100);
    return text;
}

std::string reportLine (const char* direction, int hidNumber, const Report& report, const std::string& label)
{
    char head[64];
    std::snprintf (head, sizeof (head), "%-4s HID %-3d %3zu bytes  ", direction, hidNumber, report.size());
    return head + label + "  | " + SimLog::hex (report);
}

std::string answerLabel (const Report& report)
{
    if (report.empty())
        return "empty";
    return describeCode (report[0]) + " " + std::to_string (report.size() > 1 ? report[1] : 0);
}

std::string commandLabel (const Report& report)
{
    char text[96];
    switch (report[0])
    {
        case code::start:
            std::snprintf (text, sizeof (text), "HID_UPDATE_CMD_START record %d, %u bytes", report[1],
                           report[2] | (report[3] << 8) | (report[4] << 16));
            return text;
        case code::data:
            std::snprintf (text, sizeof (text), "HID_UPDATE_CMD_DATA record %d", report[1]);
            return text;
        default:
            return describeCode (report[0]);
    }
}
} // namespace krvsim
