#include "update/UpdateFileBuilder.h"

#include "update/UpdateFile.h"

std::vector<std::uint8_t> buildUpdateFile (int version, const std::vector<UpdateRecordSpec>& records, const std::string& modelName)
{
    std::vector<std::uint8_t> file (36, 0x20);
    file[20] = static_cast<std::uint8_t> ('0' + (version / 100) % 10);
    file[21] = static_cast<std::uint8_t> ('0' + (version / 10) % 10);
    file[22] = static_cast<std::uint8_t> ('0' + version % 10);

    for (const auto& record : records)
    {
        std::vector<std::uint8_t> header (36, 0x20);
        for (size_t i = 0; i < 8 && i < modelName.size(); ++i)
            header[i] = static_cast<std::uint8_t> (modelName[i]);
        header[15] = record.transfer ? 'Y' : 'N';
        const auto crc = computeCrc16 (record.data.data(), record.data.size());

        // Bytes 20 to 23 carry a 16-bit value as hex digits that the updater does not use;
        // the CRC is as good a value as any and helps a reader of a hex dump.
        const char* digits = "0123456789ABCDEF";
        for (int i = 0; i < 4; ++i)
            header[20 + (size_t) i] = static_cast<std::uint8_t> (digits[(crc >> (12 - 4 * i)) & 0xF]);

        const auto n = static_cast<std::uint32_t> (record.data.size());
        for (int i = 0; i < 4; ++i)
            header[32 + (size_t) i] = static_cast<std::uint8_t> (n >> (8 * i));

        file.insert (file.end(), header.begin(), header.end());
        file.insert (file.end(), record.data.begin(), record.data.end());
        file.push_back (static_cast<std::uint8_t> (crc & 0xFF));
        file.push_back (static_cast<std::uint8_t> (crc >> 8));
    }

    return file;
}
