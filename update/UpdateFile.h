#pragma once

#include "update/UpdateRecordInfo.h"

#include <cstddef>
#include <cstdint>

/** CRC-16/XMODEM (polynomial 0x1021, initial value 0, no reflection, no final XOR). */
std::uint16_t computeCrc16 (const std::uint8_t* data, std::size_t count);

/** Checks an update file held in memory. Returns the file's length minus 492 when all
    twelve records pass, else 0; never reads outside [data, data + size). version (if
    given) gets the three digits at offset 20 as soon as they are there, else -1. */
int parseUpdateFile (const std::uint8_t* data, std::size_t size, const char* modelName,
                     int* version, UpdateRecordInfo* records /* 12 */);
