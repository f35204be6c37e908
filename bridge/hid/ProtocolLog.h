#pragma once

#include "../sim/SimLog.h"

#include <cstdint>
#include <string>

namespace fwbridge
{
struct HidDeviceInfo;

/** The library's record of its dialogue with the controllers, for bug reports: every
    report in both directions as the host sees it, every arrival and removal, with the
    time of day and the seconds since the log began, in the simulator's format. Off until
    open() is given a file (KRV_HIDRAW_LOG names it).
*/
class ProtocolLog
{
public:
    bool open (const std::string& path);
    bool isOpen() const { return log.isOpen(); }

    void output (int hidNumber, const std::uint8_t* report, int length, bool sent);
    void input (int hidNumber, const std::uint8_t* report, int length);
    void arrival (int hidNumber, const HidDeviceInfo& device, int version, int reportId);
    void removal (int hidNumber, bool readerFailed);
    void note (const std::string& text);

    /** "HID_UPDATE_CMD_START record 1, 130 bytes", "HID_UPDATE_ANS_MODE 1", "report" */
    static std::string describe (const std::uint8_t* report, int length, bool fromHost);

private:
    krvsim::SimLog log;
};
} // namespace fwbridge
