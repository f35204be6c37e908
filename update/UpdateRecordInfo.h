#pragma once

#include <cstdint>

/** One record of the update file, as the loader checked it and the session sends it. */
struct UpdateRecordInfo
{
    std::uint32_t length = 0;
    std::uint16_t crc = 0;
    bool transfer = false;
};

constexpr int updateRecordCount = 12;
