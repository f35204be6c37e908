#include "ProtocolLog.h"

#include "DeviceMatch.h"

#include <cstdio>

namespace fwbridge
{
namespace
{
const char* codeName (std::uint8_t code)
{
    switch (code)
    {
        case 0xF0: return "HID_UPDATE_CMD_INFO";
        case 0xF1: return "HID_UPDATE_CMD_START";
        case 0xF2: return "HID_UPDATE_CMD_END";
        case 0xF3: return "HID_UPDATE_CMD_DATA";
        case 0xF4: return "HID_UPDATE_CMD_MODE";
        case 0xF6: return "HID_UPDATE_ANS_MODE";
        case 0xF7: return "HID_UPDATE_ANS_PRGRESS_CHK";
        case 0xF8: return "HID_UPDATE_ANS_INFO_OK";
        case 0xF9: return "HID_UPDATE_ANS_RCV_OK";
        case 0xFB: return "HID_UPDATE_ANS_REQ_NEXT";
        case 0xFC: return "HID_UPDATE_ANS_COMPLETE";
        case 0xFE: return "HID_UPDATE_ANS_DL_OK";
        default: return nullptr;
    }
}

std::string line (const char* direction, int hidNumber, const std::uint8_t* report, int length, const std::string& label)
{
    char head[64];
    std::snprintf (head, sizeof (head), "%-4s HID %-3d %3d bytes  ", direction, hidNumber, length);
    const Report bytes (report, report + (length > 0 ? length : 0));
    return head + label + "  | " + krvsim::SimLog::hex (bytes);
}
} // namespace

bool ProtocolLog::open (const std::string& path)
{
    return log.open (path, "KRV-7000 device library (hidraw) log");
}

std::string ProtocolLog::describe (const std::uint8_t* report, int length, bool fromHost)
{
    if (report == nullptr || length <= 0)
        return "empty";

    const auto* name = codeName (report[0]);
    if (name == nullptr)
        return fromHost ? "report" : "unasked report";

    char text[96];
    if (fromHost && report[0] == 0xF1 && length >= 5)
        std::snprintf (text, sizeof (text), "%s record %d, %u bytes", name, report[1],
                       (unsigned) (report[2] | (report[3] << 8) | (report[4] << 16)));
    else if (fromHost && report[0] == 0xF3 && length >= 2)
        std::snprintf (text, sizeof (text), "%s record %d", name, report[1]);
    else if (! fromHost)
        std::snprintf (text, sizeof (text), "%s %d", name, length > 1 ? report[1] : 0);
    else
        std::snprintf (text, sizeof (text), "%s", name);
    return text;
}

void ProtocolLog::output (int hidNumber, const std::uint8_t* report, int length, bool sent)
{
    if (log.isOpen())
        log.write (line ("out", hidNumber, report, length, describe (report, length, true) + (sent ? "" : " (not sent)")));
}

void ProtocolLog::input (int hidNumber, const std::uint8_t* report, int length)
{
    if (log.isOpen())
        log.write (line ("in", hidNumber, report, length, describe (report, length, false)));
}

void ProtocolLog::arrival (int hidNumber, const HidDeviceInfo& device, int version, int reportId)
{
    if (! log.isOpen())
        return;
    char text[256];
    std::snprintf (text, sizeof (text), "---  attached as HID %d, firmware %d.%02d (%s, interface %d, serial %s, %s)",
                   hidNumber, version / 100, version % 100, device.path.c_str(), device.interfaceNumber,
                   device.serialNumber.empty() ? "none" : device.serialNumber.c_str(),
                   reportId != 0 ? ("report id " + std::to_string (reportId)).c_str() : "unnumbered reports");
    log.write (text);
}

void ProtocolLog::removal (int hidNumber, bool readerFailed)
{
    if (log.isOpen())
        log.write ("---  detached HID " + std::to_string (hidNumber) + (readerFailed ? " (its node stopped answering)" : ""));
}

void ProtocolLog::note (const std::string& text)
{
    if (log.isOpen())
        log.write ("---  " + text);
}
} // namespace fwbridge
