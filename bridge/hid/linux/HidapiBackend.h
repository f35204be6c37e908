#pragma once

#include "../HidBackend.h"

namespace fwbridge
{
/** The controllers as hidapi's hidraw backend sees them. */
class HidapiBackend final : public HidBackend
{
public:
    ~HidapiBackend() override;
    std::vector<HidDeviceInfo> enumerate() override;
    std::unique_ptr<HidPort> open (const std::string& path, std::string& reason, int& error) override;
};
} // namespace fwbridge
