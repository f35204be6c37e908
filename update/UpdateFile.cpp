#include "update/UpdateFile.h"

#include "update/UpdateFileRecords.h"

#include <array>
#include <limits>

namespace
{
constexpr std::array<std::uint16_t, 256> makeCrcTable()
{
    std::array<std::uint16_t, 256> table {};
    for (unsigned i = 0; i < 256; ++i)
    {
        unsigned crc = i << 8;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000u) != 0 ? (crc << 1) ^ 0x1021u : crc << 1;
        table[i] = static_cast<std::uint16_t> (crc & 0xFFFFu);
    }
    return table;
}

// Slicing by eight: table k gives the register after a byte followed by k zero bytes,
// so eight bytes fold into the register with eight independent look-ups.
constexpr std::array<std::array<std::uint16_t, 256>, 8> makeSlicedTables()
{
    std::array<std::array<std::uint16_t, 256>, 8> tables {};
    tables[0] = makeCrcTable();
    for (size_t k = 1; k < tables.size(); ++k)
        for (unsigned i = 0; i < 256; ++i)
        {
            const unsigned previous = tables[k - 1][i];
            tables[k][i] = static_cast<std::uint16_t> (((previous << 8) & 0xFFFFu) ^ tables[0][previous >> 8]);
        }
    return tables;
}

constexpr auto crcTables = makeSlicedTables();
constexpr auto& crcTable = crcTables[0];
} // namespace

std::uint16_t computeCrc16 (const std::uint8_t* data, std::size_t count)
{
    unsigned crc = 0;
    std::size_t i = 0;

    for (; i + 8 <= count; i += 8)
    {
        const auto* p = data + i;
        crc = crcTables[7][p[0] ^ (crc >> 8)] ^ crcTables[6][p[1] ^ (crc & 0xFFu)]
              ^ crcTables[5][p[2]] ^ crcTables[4][p[3]] ^ crcTables[3][p[4]]
              ^ crcTables[2][p[5]] ^ crcTables[1][p[6]] ^ crcTables[0][p[7]];
    }

    for (; i < count; ++i)
        crc = ((crc << 8) & 0xFFFFu) ^ crcTable[((crc >> 8) ^ data[i]) & 0xFFu];

    return static_cast<std::uint16_t> (crc);
}

int versionFromDigits (const std::uint8_t* digits)
{
    return (digits[0] - 48) * 100 + (digits[1] - 48) * 10 + (digits[2] - 48);
}

std::uint32_t readLittleEndian32 (const std::uint8_t* p)
{
    return static_cast<std::uint32_t> (p[0]) | (static_cast<std::uint32_t> (p[1]) << 8)
           | (static_cast<std::uint32_t> (p[2]) << 16) | (static_cast<std::uint32_t> (p[3]) << 24);
}

bool matchesModelPrefix (const std::uint8_t* recordStart, const char* modelName)
{
    if (modelName == nullptr)
        return false;

    for (std::size_t i = 0; i < UpdateFileLayout::modelPrefixLength; ++i)
    {
        const auto expected = static_cast<std::uint8_t> (modelName[i]);
        if (recordStart[i] != expected)
            return false;
        if (expected == 0)
            break;
    }
    return true;
}

int parseUpdateFile (const std::uint8_t* data, std::size_t size, const char* modelName,
                     int* version, UpdateRecordInfo* records)
{
    using namespace UpdateFileLayout;

    if (version != nullptr)
        *version = -1;

    if (data == nullptr)
        return 0;

    if (version != nullptr && size >= versionOffset + 3)
        *version = versionFromDigits (data + versionOffset);

    int passed = 0;
    forEachUpdateFileRecord (data, size, [&] (const UpdateFileRecord& record) {
        if (record.header == nullptr || ! matchesModelPrefix (record.header, modelName))
            return false;

        if (records != nullptr)
        {
            records[record.index].transfer = record.transfer();
            records[record.index].length = record.length;
        }

        if (! record.complete)
            return false;

        const std::uint16_t crc = record.computeCrc();
        if (records != nullptr)
            records[record.index].crc = crc;

        if (record.storedCrc() != crc)
            return false;

        ++passed;
        return true;
    });

    if (passed != updateRecordCount)
        return 0;

    if (size - frameOverhead > static_cast<std::size_t> (std::numeric_limits<int>::max()))
        return 0;

    return static_cast<int> (size - frameOverhead);
}
