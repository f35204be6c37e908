// Placeholder until the parser lands.
#include "update/UpdateFile.h"

std::uint16_t computeCrc16 (const std::uint8_t* data, std::size_t count)
{
    std::uint16_t crc = 0;
    for (std::size_t i = 0; i < count; ++i)
    {
        crc ^= static_cast<std::uint16_t> (data[i] << 8);
        for (int b = 0; b < 8; ++b)
            crc = (crc & 0x8000) ? static_cast<std::uint16_t> ((crc << 1) ^ 0x1021) : static_cast<std::uint16_t> (crc << 1);
    }
    return crc;
}

int parseUpdateFile (const std::uint8_t*, std::size_t, const char*, int* version, UpdateRecordInfo*)
{
    if (version != nullptr)
        *version = -1;
    return 0;
}
