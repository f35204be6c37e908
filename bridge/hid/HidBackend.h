#pragma once

#include "DeviceMatch.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace fwbridge
{
/** One opened HID interface. */
class HidPort
{
public:
    virtual ~HidPort() = default;
    /** Bytes read, 0 when nothing came within timeoutMs, negative when the device is gone.
        A report comes as hidraw gives it: its id first where the device numbers them. */
    virtual int read (std::uint8_t* buffer, std::size_t size, int timeoutMs) = 0;
    /** Writes one output report, its id first (0 when unnumbered); negative on failure. */
    virtual int write (const std::uint8_t* data, std::size_t size) = 0;
};

/** Finds and opens HID interfaces: the system's (SystemBackend.h), a fake in the tests. */
class HidBackend
{
public:
    virtual ~HidBackend() = default;
    virtual std::vector<HidDeviceInfo> enumerate() = 0;
    /** Null when the interface cannot be opened (no permission, gone); reason then says why
        and error holds the system's code behind it (errno; GetLastError on Windows; 0 when none is known). */
    virtual std::unique_ptr<HidPort> open (const std::string& path, std::string& reason, int& error) = 0;
};
} // namespace fwbridge
