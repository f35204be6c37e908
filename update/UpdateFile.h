#pragma once

#include "update/UpdateRecordInfo.h"

#include <cstddef>
#include <cstdint>

/** Layout of the update file: a 36-byte header with the version as three ASCII digits at
    offset 20, then twelve records, each a 36-byte header, N data bytes and a CRC-16.
*/
namespace UpdateFileLayout
{
constexpr std::size_t versionOffset = 20;
constexpr std::size_t headerSize = 36;
constexpr std::size_t recordHeaderSize = 36;
constexpr std::size_t modelPrefixLength = 7;
constexpr std::size_t flagOffset = 15;
constexpr std::size_t lengthOffset = 32;
constexpr std::size_t crcSize = 2;
constexpr std::size_t recordFrameSize = recordHeaderSize + crcSize;
constexpr std::size_t frameOverhead = headerSize + updateRecordCount * recordFrameSize; // 492
constexpr std::uint8_t transferFlag = 'Y';
} // namespace UpdateFileLayout

/** CRC-16/XMODEM (polynomial 0x1021, initial value 0, no reflection, no final XOR). */
std::uint16_t computeCrc16 (const std::uint8_t* data, std::size_t count);

/** Checks an update file held in memory. Returns the file's length minus 492 when all
    twelve records pass, else 0; never reads outside [data, data + size). version (if
    given) gets the three digits at offset 20 as soon as they are there, else -1.
    records (if given, twelve entries) is filled in record order up to the failing one. */
int parseUpdateFile (const std::uint8_t* data, std::size_t size, const char* modelName,
                     int* version, UpdateRecordInfo* records /* 12 */);

/** The version the bytes at offset 20 give, taken as digits without checking them. */
int versionFromDigits (const std::uint8_t* digits /* 3 */);

/** The 32-bit little-endian value at p. */
std::uint32_t readLittleEndian32 (const std::uint8_t* p);

/** Whether the first seven bytes of a record equal the first seven characters of the
    model name (a shorter name matches up to its end, like strncmp). */
bool matchesModelPrefix (const std::uint8_t* recordStart, const char* modelName);
