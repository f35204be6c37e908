// The update-file tool's diagnosis: one sentence per kind of bad file, and agreement with
// what the updater's loader accepts.

#include "GuardedBytes.h"

#include "update/UpdateFile.h"
#include "update/UpdateFileBuilder.h"
#include "update/UpdateFileReport.h"

#include <gtest/gtest.h>

#include <random>

namespace
{
using Bytes = std::vector<std::uint8_t>;

std::vector<UpdateRecordSpec> specs()
{
    std::vector<UpdateRecordSpec> records;
    const size_t sizes[] = { 70, 0, 62, 63, 5, 1, 200, 3, 9, 10, 11, 12 };
    for (size_t i = 0; i < 12; ++i)
    {
        UpdateRecordSpec r;
        for (size_t b = 0; b < sizes[i]; ++b)
            r.data.push_back ((std::uint8_t) (b * 31 + i));
        r.transfer = i != 2 && i != 7;
        records.push_back (r);
    }
    return records;
}

size_t recordOffset (const Bytes& file, int r)
{
    size_t offset = 36;
    for (int i = 0; i < r; ++i)
        offset += 38 + readLittleEndian32 (file.data() + offset + 32);
    return offset;
}

UpdateFileReport inspect (const Bytes& file) { return inspectUpdateFile (file.data(), file.size()); }
} // namespace

TEST (UpdateFileReport, AGoodFileShowsEveryRecord)
{
    const auto file = buildUpdateFile (103, specs());
    const auto report = inspect (file);

    EXPECT_TRUE (report.isGood()) << report.problem;
    EXPECT_TRUE (report.acceptedByUpdater);
    EXPECT_EQ (report.versionText, "103");
    EXPECT_EQ (report.version, 103);
    EXPECT_EQ (report.payloadSize, (int) file.size() - 492);
    ASSERT_EQ (report.records.size(), 12u);

    const auto& third = report.records[2];
    EXPECT_EQ (third.number, 3);
    EXPECT_EQ (third.offset, recordOffset (file, 2));
    EXPECT_EQ (third.modelPrefix, "KRV-700");
    EXPECT_EQ (third.flag, 'N');
    EXPECT_FALSE (third.transfer);
    EXPECT_EQ (third.length, 62u);
    EXPECT_EQ (third.storedCrc, third.computedCrc);
    EXPECT_EQ (third.verdict, "ok");
    EXPECT_TRUE (report.records[0].transfer);
}

TEST (UpdateFileReport, EachKindOfBadFileGetsItsSentence)
{
    const auto good = buildUpdateFile (103, specs());

    {
        auto file = good;
        file.resize (recordOffset (file, 6) + 100);
        const auto report = inspect (file);
        EXPECT_EQ (report.problem, "Record 7 is truncated at byte " + std::to_string (file.size())
                                       + ": its 200 data bytes and CRC need the file to reach byte "
                                       + std::to_string (recordOffset (good, 7)) + ".");
        EXPECT_EQ (report.records.back().verdict, "truncated");
        EXPECT_FALSE (report.acceptedByUpdater);
    }
    {
        auto file = good;
        file.resize (recordOffset (file, 4) + 10);
        EXPECT_EQ (inspect (file).problem, "Record 5 is truncated at byte " + std::to_string (file.size())
                                               + ": its 36-byte header starts at byte "
                                               + std::to_string (recordOffset (good, 4)) + ".");
    }
    {
        auto file = good;
        file.resize (recordOffset (file, 11));
        EXPECT_EQ (inspect (file).problem, "Record 12 is truncated at byte " + std::to_string (file.size())
                                               + ": its 36-byte header starts at byte " + std::to_string (file.size()) + ".");
    }
    {
        const Bytes file (good.begin(), good.begin() + 30);
        EXPECT_EQ (inspect (file).problem, "The file is truncated at byte 30: it ends inside its 36-byte header.");
        EXPECT_EQ (inspect (Bytes (good.begin(), good.begin() + 21)).problem,
                   "The file is truncated at byte 21: it ends before the version at bytes 20 to 22.");
        EXPECT_EQ (inspect ({}).problem, "The file is truncated at byte 0: it ends before the version at bytes 20 to 22.");
    }
    {
        auto file = good;
        file[recordOffset (file, 3) + 4] = '8';
        const auto report = inspect (file);
        EXPECT_EQ (report.problem, "Record 4 has the wrong model prefix: \"KRV-800\" instead of \"KRV-700\".");
        EXPECT_EQ (report.records[3].verdict, "wrong model prefix");
        EXPECT_EQ (report.records.size(), 12u) << "later records are still shown";
    }
    {
        auto file = good;
        const auto at = recordOffset (file, 9);
        file[at + 36 + 3] ^= 0x40;
        const auto report = inspect (file);
        char expected[128];
        std::snprintf (expected, sizeof (expected), "Record 10 fails its CRC check: stored 0x%04X, computed 0x%04X.",
                       report.records[9].storedCrc, report.records[9].computedCrc);
        EXPECT_EQ (report.problem, expected);
        EXPECT_NE (report.records[9].storedCrc, report.records[9].computedCrc);
        EXPECT_EQ (report.records[9].verdict, "CRC mismatch");
    }
    {
        auto file = good;
        file[21] = 'x';
        file[22] = 0x01;
        const auto report = inspect (file);
        EXPECT_EQ (report.problem, "The version is not three digits: bytes 20 to 22 hold \"1x\\x01\".");
        EXPECT_TRUE (report.acceptedByUpdater) << "the updater itself takes the bytes as they are";
    }
    {
        const auto report = inspect (buildUpdateFile (0, specs()));
        EXPECT_EQ (report.problem, "The version is 000, which the updater refuses.");
        EXPECT_FALSE (report.acceptedByUpdater);
    }
    {
        std::vector<UpdateRecordSpec> empty (12);
        const auto report = inspect (buildUpdateFile (103, empty));
        EXPECT_EQ (report.problem, "The file holds no bytes beyond its headers and CRCs, which the updater refuses.");
        EXPECT_FALSE (report.acceptedByUpdater);
    }
}

TEST (UpdateFileReport, EveryTruncationIsDescribedWithoutReadingPastTheEnd)
{
    const auto good = buildUpdateFile (103, specs());
    for (size_t length = 0; length < good.size(); ++length)
    {
        const GuardedBytes guarded (Bytes (good.begin(), good.begin() + (long) length));
        const auto report = inspectUpdateFile (guarded.start, guarded.size);
        EXPECT_NE (report.problem.find ("truncated at byte " + std::to_string (length)), std::string::npos)
            << length << ": " << report.problem;
    }
}

TEST (UpdateFileReport, NamesTheFirstProblemTheUpdaterWouldStopAt)
{
    auto file = buildUpdateFile (103, specs());
    file[recordOffset (file, 8) + 36] ^= 1; // CRC of record 9
    file[recordOffset (file, 2)] = 'X';     // prefix of record 3
    EXPECT_EQ (inspect (file).problem.rfind ("Record 3 has the wrong model prefix", 0), 0u);
}

TEST (UpdateFileReport, AgreesWithTheLoaderOnDamagedFiles)
{
    const auto good = buildUpdateFile (103, specs());
    std::mt19937 random (3);

    for (int round = 0; round < 2000; ++round)
    {
        auto file = good;
        for (int c = 0; c < 2; ++c)
            file[random() % file.size()] = (std::uint8_t) random();
        if (random() % 3 == 0)
            file.resize (random() % (file.size() + 1));

        int version = 0;
        UpdateRecordInfo records[updateRecordCount];
        const int result = parseUpdateFile (file.data(), file.size(), "KRV-7000 ", &version, records);
        const GuardedBytes guarded (file);
        const auto report = inspectUpdateFile (guarded.start, guarded.size);

        EXPECT_EQ (report.payloadSize, result);
        EXPECT_EQ (report.acceptedByUpdater, result > 0 && version > 0);
        if (! report.acceptedByUpdater)
        {
            EXPECT_FALSE (report.isGood()) << "a file the updater refuses must be named bad";
        }
        if (report.isGood())
        {
            EXPECT_TRUE (report.acceptedByUpdater);
        }
    }
}
