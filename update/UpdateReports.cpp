#include "update/UpdateReports.h"

#include <algorithm>

namespace UpdateReports
{
namespace
{
void putLittleEndian24 (std::uint8_t* p, std::uint32_t value)
{
    p[0] = static_cast<std::uint8_t> (value & 0xFFu);
    p[1] = static_cast<std::uint8_t> ((value >> 8) & 0xFFu);
    p[2] = static_cast<std::uint8_t> ((value >> 16) & 0xFFu);
}

Report commandOnly (std::uint8_t code)
{
    Report report {};
    report[0] = code;
    return report;
}
} // namespace

Report buildModeReport() { return commandOnly (HID_UPDATE_CMD_MODE); }
Report buildEndReport() { return commandOnly (HID_UPDATE_CMD_END); }

Report buildInfoReport (int version, const UpdateRecordInfo* records)
{
    Report report {};
    report[0] = HID_UPDATE_CMD_INFO;
    report[1] = 0x00;
    report[2] = static_cast<std::uint8_t> ((version >> 4) & 0xFF);
    report[3] = static_cast<std::uint8_t> ((version << 4) & 0xF0);

    std::uint32_t total = 0;
    std::uint32_t transferred = 0;
    for (int i = 0; i < updateRecordCount; ++i)
    {
        const auto& record = records[i];
        total += record.length;
        if (record.transfer)
            transferred += record.length;

        auto* entry = report.data() + 10 + 3 * i;
        entry[0] = static_cast<std::uint8_t> ((i + 1) | (record.transfer ? 0x80 : 0x00));
        entry[1] = static_cast<std::uint8_t> (record.crc & 0xFFu);
        entry[2] = static_cast<std::uint8_t> (record.crc >> 8);
    }

    putLittleEndian24 (report.data() + 4, total);
    putLittleEndian24 (report.data() + 7, transferred);
    return report;
}

Report buildStartReport (int recordNumber, std::uint32_t length)
{
    Report report {};
    report[0] = HID_UPDATE_CMD_START;
    report[1] = static_cast<std::uint8_t> (recordNumber);
    putLittleEndian24 (report.data() + 2, length);
    return report;
}

Report buildDataBlock (int recordNumber, const std::uint8_t* data, std::size_t size, std::size_t block)
{
    Report report;
    report.fill (0xFF);
    report[0] = HID_UPDATE_CMD_DATA;
    report[1] = static_cast<std::uint8_t> (recordNumber);

    const std::size_t start = block * (std::size_t) blockSize;
    if (data != nullptr && start < size)
    {
        const std::size_t count = std::min<std::size_t> ((std::size_t) blockSize, size - start);
        std::copy (data + start, data + start + count, report.begin() + 2);
    }
    return report;
}

std::size_t blockCount (std::uint32_t length)
{
    // No sum that could wrap where size_t is 32 bits wide.
    const auto size = (std::uint32_t) blockSize;
    return (std::size_t) (length / size + (length % size != 0 ? 1u : 0u));
}
} // namespace UpdateReports
