// The output reports of the update protocol, byte for byte.

#include "update/UpdateReports.h"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

using UpdateReports::Report;

namespace
{
std::vector<std::uint8_t> bytes (const Report& r) { return { r.begin(), r.end() }; }

std::vector<std::uint8_t> withTail (std::vector<std::uint8_t> head, std::uint8_t fill)
{
    head.resize (64, fill);
    return head;
}
} // namespace

TEST (UpdateReports, ModeAndEndCarryOnlyTheirCode)
{
    EXPECT_EQ (bytes (UpdateReports::buildModeReport()), withTail ({ 0xF4 }, 0x00));
    EXPECT_EQ (bytes (UpdateReports::buildEndReport()), withTail ({ 0xF2 }, 0x00));
}

TEST (UpdateReports, InfoReportForVersion103)
{
    UpdateRecordInfo records[updateRecordCount];
    const std::uint32_t lengths[] = { 4096, 3100, 2048, 5120, 1986, 1024, 3500, 2900, 4000, 1800, 2600, 777 };
    const bool transfer[] = { true, true, false, true, true, false, true, true, false, true, true, true };
    for (int i = 0; i < updateRecordCount; ++i)
        records[i] = { lengths[i], (std::uint16_t) (0x1100 * (i + 1) + 0x22), transfer[i] };

    // Totals: all 32951 = 0x0080B7; transferred 32951 - 2048 - 1024 - 4000 = 25879 = 0x006517.
    const std::vector<std::uint8_t> expected = withTail ({ 0xF0, 0x00, 0x06, 0x70,
                                                           0xB7, 0x80, 0x00,
                                                           0x17, 0x65, 0x00,
                                                           0x81, 0x22, 0x11, 0x82, 0x22, 0x22, 0x03, 0x22, 0x33, 0x84, 0x22, 0x44,
                                                           0x85, 0x22, 0x55, 0x06, 0x22, 0x66, 0x87, 0x22, 0x77, 0x88, 0x22, 0x88,
                                                           0x09, 0x22, 0x99, 0x8A, 0x22, 0xAA, 0x8B, 0x22, 0xBB, 0x8C, 0x22, 0xCC },
                                                         0x00);

    EXPECT_EQ (bytes (UpdateReports::buildInfoReport (103, records)), expected);
}

TEST (UpdateReports, InfoReportCarriesVersionTimesSixteenAndTotalsInTwentyFourBits)
{
    UpdateRecordInfo records[updateRecordCount];
    for (auto& r : records)
        r = { 0x00F00000u, 0xA55A, false };
    records[0].transfer = true;
    records[1].transfer = true;

    const auto report = UpdateReports::buildInfoReport (999, records);
    EXPECT_EQ (report[2], 0x3E); // 999 x 16 = 0x3E70
    EXPECT_EQ (report[3], 0x70);

    // 12 x 0xF00000 = 0xB400000: low 24 bits 0x400000. 2 x 0xF00000 = 0x1E00000: 0xE00000.
    EXPECT_EQ (report[4], 0x00);
    EXPECT_EQ (report[5], 0x00);
    EXPECT_EQ (report[6], 0x40);
    EXPECT_EQ (report[7], 0x00);
    EXPECT_EQ (report[8], 0x00);
    EXPECT_EQ (report[9], 0xE0);

    EXPECT_EQ (report[10], 0x81);
    EXPECT_EQ (report[13], 0x82);
    EXPECT_EQ (report[16], 0x03);
    EXPECT_EQ (report[43], 0x0C);
    EXPECT_EQ (report[44], 0x5A);
    EXPECT_EQ (report[45], 0xA5);
    for (int i = 46; i < 64; ++i)
        EXPECT_EQ (report[(size_t) i], 0x00) << i;

    EXPECT_EQ (UpdateReports::buildInfoReport (1, records)[2], 0x00);
    EXPECT_EQ (UpdateReports::buildInfoReport (1, records)[3], 0x10);
}

TEST (UpdateReports, StartReportCarriesRecordNumberAndLength)
{
    EXPECT_EQ (bytes (UpdateReports::buildStartReport (1, 4096)), withTail ({ 0xF1, 0x01, 0x00, 0x10, 0x00 }, 0x00));
    EXPECT_EQ (bytes (UpdateReports::buildStartReport (12, 0)), withTail ({ 0xF1, 0x0C }, 0x00));
    EXPECT_EQ (bytes (UpdateReports::buildStartReport (5, 0x01ABCDEF)), withTail ({ 0xF1, 0x05, 0xEF, 0xCD, 0xAB }, 0x00))
        << "lengths go out in 24 bits";
}

TEST (UpdateReports, BlocksOf62And63BytesAndThePaddingOfTheLast)
{
    std::vector<std::uint8_t> data (63);
    std::iota (data.begin(), data.end(), 1);

    // 62 bytes: one full block.
    EXPECT_EQ (UpdateReports::blockCount (62), 1u);
    const auto full = UpdateReports::buildDataBlock (3, data.data(), 62, 0);
    EXPECT_EQ (full[0], 0xF3);
    EXPECT_EQ (full[1], 0x03);
    for (int i = 0; i < 62; ++i)
        EXPECT_EQ (full[2 + (size_t) i], (std::uint8_t) (i + 1)) << i;

    // 63 bytes: the second block carries one byte and 61 bytes of 0xFF.
    EXPECT_EQ (UpdateReports::blockCount (63), 2u);
    EXPECT_EQ (bytes (UpdateReports::buildDataBlock (3, data.data(), 63, 0)), bytes (full));
    EXPECT_EQ (bytes (UpdateReports::buildDataBlock (3, data.data(), 63, 1)), withTail ({ 0xF3, 0x03, 63 }, 0xFF));

    // A short record: its data then 0xFF.
    EXPECT_EQ (bytes (UpdateReports::buildDataBlock (12, data.data(), 2, 0)), withTail ({ 0xF3, 0x0C, 1, 2 }, 0xFF));
}

TEST (UpdateReports, BlockCountRoundsUp)
{
    EXPECT_EQ (UpdateReports::blockCount (0), 0u);
    EXPECT_EQ (UpdateReports::blockCount (1), 1u);
    EXPECT_EQ (UpdateReports::blockCount (124), 2u);
    EXPECT_EQ (UpdateReports::blockCount (125), 3u);
    EXPECT_EQ (UpdateReports::blockCount (0xFFFFFFFFu), 69273667u);
}
