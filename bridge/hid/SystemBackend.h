#pragma once

#include "HidBackend.h"

#include <memory>

namespace fwbridge
{
/** The system's HID stack: hidapi's hidraw backend on Linux, hid.dll and SetupAPI on
    Windows. Made at HID_Start, dropped at HID_Stop. */
std::unique_ptr<HidBackend> createSystemBackend();
} // namespace fwbridge
