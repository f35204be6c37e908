// The update-file parser and CRC over bytes, and the loader that finds the file.

#include "GuardedBytes.h"
#include "MainComponentProbe.h"
#include "ScriptedDevice.h"

#include "ui/MainComponent.h"
#include "update/UpdateFile.h"
#include "update/UpdateFileBuilder.h"
#include "update/UpdateFileLocation.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

namespace
{
using Bytes = std::vector<std::uint8_t>;

std::vector<UpdateRecordSpec> recordsOfSizes (const std::vector<size_t>& sizes, unsigned seed = 1)
{
    std::mt19937 random (seed);
    std::vector<UpdateRecordSpec> records;
    for (size_t i = 0; i < sizes.size(); ++i)
    {
        UpdateRecordSpec wanted;
        wanted.data.resize (sizes[i]);
        for (auto& b : wanted.data)
            b = (std::uint8_t) random();
        wanted.transfer = i % 3 != 2;
        records.push_back (wanted);
    }
    return records;
}

std::vector<UpdateRecordSpec> twelveRecords()
{
    return recordsOfSizes ({ 100, 62, 63, 1, 0, 300, 7, 124, 125, 40, 2, 90 });
}

// Where record r starts, walking the lengths as the file stores them.
size_t recordOffset (const Bytes& file, int r)
{
    size_t offset = 36;
    for (int i = 0; i < r; ++i)
        offset += 38 + readLittleEndian32 (file.data() + offset + 32);
    return offset;
}

size_t storedCrcOffset (const Bytes& file, int r)
{
    const auto offset = recordOffset (file, r);
    return offset + 36 + readLittleEndian32 (file.data() + offset + 32);
}

// The loader's own description of the CRC, done bit by bit on a 25-bit register.
std::uint16_t referenceCrc (const std::uint8_t* data, size_t count)
{
    std::uint32_t r = 0;
    auto shift = [&r] {
        r <<= 1;
        if ((r & 0x1000000u) != 0)
            r ^= 0x1102100u;
    };
    for (size_t i = 0; i < count; ++i)
    {
        r |= data[i];
        for (int b = 0; b < 8; ++b)
            shift();
    }
    for (int b = 0; b < 16; ++b)
        shift();
    return (std::uint16_t) ((r >> 8) & 0xFFFFu);
}

int parse (const Bytes& file, int* version = nullptr, UpdateRecordInfo* records = nullptr)
{
    GuardedBytes guarded (file);
    UpdateRecordInfo scratch[updateRecordCount];
    return parseUpdateFile (guarded.start, guarded.size, "KRV-7000 ", version, records != nullptr ? records : scratch);
}
} // namespace

// --- CRC ---------------------------------------------------------------------------------

TEST (UpdateFileCrc, MatchesTheXmodemCheckValueAndTheBitwiseRegisterForm)
{
    const char* check = "123456789";
    EXPECT_EQ (computeCrc16 (reinterpret_cast<const std::uint8_t*> (check), 9), 0x31C3);
    EXPECT_EQ (computeCrc16 (nullptr, 0), 0x0000);

    std::mt19937 random (7);
    for (size_t length : { 1u, 2u, 3u, 7u, 8u, 9u, 15u, 16u, 17u, 61u, 62u, 63u, 255u, 256u, 1000u, 4099u })
    {
        Bytes data (length);
        for (auto& b : data)
            b = (std::uint8_t) random();
        EXPECT_EQ (computeCrc16 (data.data(), data.size()), referenceCrc (data.data(), data.size())) << length;
    }

    const Bytes ones (64, 0xFF);
    EXPECT_EQ (computeCrc16 (ones.data(), ones.size()), referenceCrc (ones.data(), ones.size()));
}

// --- parser --------------------------------------------------------------------------------

TEST (UpdateFileParser, AValidFileGivesItsLengthLess492AndFillsTheRecordTable)
{
    const auto specs = twelveRecords();
    const auto file = buildUpdateFile (103, specs);

    int version = 0;
    UpdateRecordInfo records[updateRecordCount];
    EXPECT_EQ (parse (file, &version, records), (int) file.size() - 492);
    EXPECT_EQ (version, 103);

    for (int r = 0; r < updateRecordCount; ++r)
    {
        EXPECT_EQ (records[r].length, specs[(size_t) r].data.size()) << r;
        EXPECT_EQ (records[r].transfer, specs[(size_t) r].transfer) << r;
        EXPECT_EQ (records[r].crc, referenceCrc (specs[(size_t) r].data.data(), specs[(size_t) r].data.size())) << r;
    }

    // The data of record 0 begins at offset 72.
    EXPECT_EQ (std::memcmp (file.data() + 72, specs[0].data.data(), specs[0].data.size()), 0);
}

TEST (UpdateFileParser, TheVersionIsTakenFromTheRawBytes)
{
    auto file = buildUpdateFile (0, twelveRecords());
    int version = 55;
    EXPECT_GT (parse (file, &version), 0);
    EXPECT_EQ (version, 0) << "digits 0, 0, 0 give version 0, which the controller refuses";

    file[20] = '1';
    file[21] = 'A';
    file[22] = '3';
    EXPECT_GT (parse (file, &version), 0);
    EXPECT_EQ (version, 100 + 17 * 10 + 3) << "not checked to be digits";

    // Null version pointer is allowed.
    EXPECT_GT (parse (file, nullptr), 0);
}

TEST (UpdateFileParser, ARecordOfLengthZeroPassesOnlyWithCrcBytesZero)
{
    auto specs = twelveRecords();
    specs[3].data.clear();
    auto file = buildUpdateFile (103, specs);
    const auto crcAt = storedCrcOffset (file, 3);
    EXPECT_EQ (file[crcAt], 0x00);
    EXPECT_EQ (file[crcAt + 1], 0x00);

    UpdateRecordInfo records[updateRecordCount];
    EXPECT_GT (parse (file, nullptr, records), 0);
    EXPECT_EQ (records[3].length, 0u);
    EXPECT_EQ (records[3].crc, 0u);

    file[crcAt + 1] = 0x01;
    EXPECT_EQ (parse (file), 0);
}

TEST (UpdateFileParser, OnlySevenBytesOfTheModelNameAreCompared)
{
    auto file = buildUpdateFile (103, twelveRecords());
    const auto at = recordOffset (file, 4);

    file[at + 7] = 'Z'; // the model name's eighth character, '0'
    EXPECT_GT (parse (file), 0);

    file[at + 6] = 'Z'; // the seventh
    EXPECT_EQ (parse (file), 0);
}

TEST (UpdateFileParser, ModelPrefixIsComparedInEveryRecord)
{
    for (int r : { 0, 11 })
    {
        auto file = buildUpdateFile (103, twelveRecords());
        file[recordOffset (file, r)] = 'k';
        int version = 0;
        EXPECT_EQ (parse (file, &version), 0) << r;
        EXPECT_EQ (version, 103) << "the version is set before the records are checked";
    }

    // The caller's model name decides, not a fixed string.
    const auto other = buildUpdateFile (103, twelveRecords(), "KRV-9000 ");
    EXPECT_EQ (parse (other), 0);
    UpdateRecordInfo records[updateRecordCount];
    EXPECT_GT (parseUpdateFile (other.data(), other.size(), "KRV-9000 ", nullptr, records), 0);
}

TEST (UpdateFileParser, BytesAfterTheTwelfthRecordCountInTheResult)
{
    auto file = buildUpdateFile (103, twelveRecords());
    const int plain = parse (file);
    ASSERT_GT (plain, 0);

    file.insert (file.end(), { 'J', 'U', 'N', 'K', 0, 0, 0xFF });
    EXPECT_EQ (parse (file), plain + 7);
}

TEST (UpdateFileParser, OnlyAnUpperCaseYMarksARecordForTransfer)
{
    auto file = buildUpdateFile (103, twelveRecords());
    const std::uint8_t flags[] = { 'y', 'N', 0x00, 0xD9 /* 'Y' | 0x80 */, ' ' };

    for (int r = 0; r < 5; ++r)
        file[recordOffset (file, r) + 15] = flags[r];
    file[recordOffset (file, 5) + 15] = 'Y';

    UpdateRecordInfo records[updateRecordCount];
    EXPECT_GT (parse (file, nullptr, records), 0) << "any flag byte passes the checks";
    for (int r = 0; r < 5; ++r)
        EXPECT_FALSE (records[r].transfer) << r;
    EXPECT_TRUE (records[5].transfer);
}

TEST (UpdateFileParser, ACrcStoredHighByteFirstFailsUnlessBothBytesAreEqual)
{
    auto file = buildUpdateFile (103, twelveRecords());
    const auto at = storedCrcOffset (file, 2);
    ASSERT_NE (file[at], file[at + 1]);
    std::swap (file[at], file[at + 1]);
    EXPECT_EQ (parse (file), 0);

    // Find one-byte data whose CRC has two equal bytes: swapping them changes nothing.
    auto specs = twelveRecords();
    bool found = false;
    for (int a = 0; a < 256 && ! found; ++a)
        for (int b = 0; b < 256 && ! found; ++b)
        {
            const std::uint8_t data[] = { (std::uint8_t) a, (std::uint8_t) b };
            const auto crc = computeCrc16 (data, 2);
            if ((crc >> 8) == (crc & 0xFF))
            {
                specs[2].data.assign (data, data + 2);
                found = true;
            }
        }
    ASSERT_TRUE (found);

    auto even = buildUpdateFile (103, specs);
    const auto evenAt = storedCrcOffset (even, 2);
    std::swap (even[evenAt], even[evenAt + 1]);
    EXPECT_GT (parse (even), 0);
}

TEST (UpdateFileParser, AFailingRecordLeavesTheEntriesBeforeItWritten)
{
    const auto specs = twelveRecords();
    auto file = buildUpdateFile (103, specs);
    file[storedCrcOffset (file, 5)] ^= 0x01;

    UpdateRecordInfo records[updateRecordCount];
    for (auto& r : records)
        r = { 0xDEADu, 0xBEEF, true };

    int version = 0;
    EXPECT_EQ (parse (file, &version, records), 0);
    EXPECT_EQ (version, 103);

    for (int r = 0; r < 5; ++r)
    {
        EXPECT_EQ (records[r].length, specs[(size_t) r].data.size()) << r;
        EXPECT_EQ (records[r].transfer, specs[(size_t) r].transfer) << r;
        EXPECT_EQ (records[r].crc, computeCrc16 (specs[(size_t) r].data.data(), specs[(size_t) r].data.size())) << r;
    }

    // The failing record holds what was computed for it, not the stored value.
    EXPECT_EQ (records[5].length, specs[5].data.size());
    EXPECT_EQ (records[5].crc, computeCrc16 (specs[5].data.data(), specs[5].data.size()));

    for (int r = 6; r < updateRecordCount; ++r)
        EXPECT_EQ (records[r].length, 0xDEADu) << "record " << r << " was not reached";
}

TEST (UpdateFileParser, EveryTruncationIsRefusedWithoutReadingPastTheEnd)
{
    const auto file = buildUpdateFile (103, recordsOfSizes ({ 5, 0, 62, 1, 3, 0, 2, 9, 1, 0, 4, 6 }));

    // Every shorter prefix, each placed against an unreadable page.
    for (size_t length = 0; length < file.size(); ++length)
    {
        const Bytes cut (file.begin(), file.begin() + (long) length);
        int version = 0;
        EXPECT_EQ (parse (cut, &version), 0) << "length " << length;
        EXPECT_EQ (version, length >= 23 ? 103 : -1) << "length " << length;
    }

    EXPECT_GT (parse (file), 0);
}

TEST (UpdateFileParser, ALengthRunningPastTheEndIsRefused)
{
    const auto good = buildUpdateFile (103, twelveRecords());

    for (std::uint32_t length : { 0xFFFFFFFFu, 0x80000000u, 0x7FFFFFFFu, (std::uint32_t) good.size() })
    {
        auto file = good;
        const auto at = recordOffset (file, 7) + 32;
        for (int i = 0; i < 4; ++i)
            file[at + (size_t) i] = (std::uint8_t) (length >> (8 * i));

        EXPECT_EQ (parse (file), 0) << length;
    }

    // A length that leaves room for the data but not the two CRC bytes.
    auto specs = twelveRecords();
    auto file = buildUpdateFile (103, specs);
    const auto last = recordOffset (file, 11);
    const auto tight = (std::uint32_t) (file.size() - last - 36 - 1);
    for (int i = 0; i < 4; ++i)
        file[last + 32 + (size_t) i] = (std::uint8_t) (tight >> (8 * i));
    EXPECT_EQ (parse (file), 0);
}

TEST (UpdateFileParser, FewerThanTwelveRecordsIsRefused)
{
    auto specs = twelveRecords();
    specs.pop_back();
    EXPECT_EQ (parse (buildUpdateFile (103, specs)), 0);

    EXPECT_EQ (parse (buildUpdateFile (103, {})), 0);
    EXPECT_EQ (parse (Bytes (30, '1')), 0) << "shorter than the header";
}

TEST (UpdateFileParser, RandomDamageNeverReadsOutsideTheFile)
{
    const auto good = buildUpdateFile (103, recordsOfSizes ({ 10, 0, 62, 1, 3, 0, 2, 9, 1, 0, 4, 6 }));
    std::mt19937 random (42);

    for (int round = 0; round < 3000; ++round)
    {
        auto file = good;
        const int changes = 1 + (int) (random() % 4);
        for (int c = 0; c < changes; ++c)
            file[random() % file.size()] = (std::uint8_t) random();
        if (random() % 2 == 0)
            file.resize (random() % (file.size() + 1));

        int version = 0;
        const int result = parse (file, &version);
        EXPECT_TRUE (result == 0 || result == (int) file.size() - 492);
    }
}

// --- loader --------------------------------------------------------------------------------

class UpdateFileLoader : public ::testing::Test
{
protected:
    void SetUp() override
    {
        beside = juce::File::createTempFile ("krv-exe");
        working = juce::File::createTempFile ("krv-cwd");
        beside.createDirectory();
        working.createDirectory();
        previousWorkingFolder = juce::File::getCurrentWorkingDirectory();
        component = std::make_unique<MainComponent>();
    }

    void TearDown() override
    {
        component.reset();
        previousWorkingFolder.setAsCurrentWorkingDirectory();
        UpdateFileLocation::setFolderForTesting ({});
        beside.deleteRecursively();
        working.deleteRecursively();
    }

    static void put (const juce::File& folder, const Bytes& bytes)
    {
        folder.getChildFile ("KRV-7000_UP.upd").replaceWithData (bytes.data(), bytes.size());
    }

    int load (int* version) { return component->loadUpdateFile ("KRV-7000_UP.upd", "KRV-7000 ", version); }

    ScriptedDevice device; // no controller: MainComponent is built without a device library
    juce::File beside, working, previousWorkingFolder;
    std::unique_ptr<MainComponent> component;
};

TEST_F (UpdateFileLoader, LooksBesideTheExecutableNotInTheWorkingFolder)
{
    const auto file = buildUpdateFile (107, twelveRecords());
    put (working, file);
    working.setAsCurrentWorkingDirectory();

    // Without the seam the folder is the executable's, whatever the working folder is.
    EXPECT_EQ (UpdateFileLocation::folder(),
               juce::File::getSpecialLocation (juce::File::currentExecutableFile).getParentDirectory());
    if (! UpdateFileLocation::file ("KRV-7000_UP.upd").exists())
    {
        int version = 0;
        EXPECT_EQ (load (&version), 0) << "a file in the working folder alone is not found";
        EXPECT_EQ (version, -1);
    }

    UpdateFileLocation::setFolderForTesting (beside);
    int version = 0;
    EXPECT_EQ (load (&version), 0);
    EXPECT_EQ (version, -1);

    put (beside, file);
    EXPECT_EQ (load (&version), (int) file.size() - 492);
    EXPECT_EQ (version, 107);

    const auto* records = MainComponentProbe::updateRecords (*component);
    EXPECT_EQ (records[0].length, 100u);
    EXPECT_EQ (records[11].length, 90u);
}

TEST_F (UpdateFileLoader, RefusesWhatIsNotAGoodFile)
{
    UpdateFileLocation::setFolderForTesting (beside);
    int version = 0;

    // A folder of that name.
    beside.getChildFile ("KRV-7000_UP.upd").createDirectory();
    EXPECT_EQ (load (&version), 0);
    EXPECT_EQ (version, -1);
    beside.getChildFile ("KRV-7000_UP.upd").deleteRecursively();

    // Empty, truncated and damaged files; the version is still reported once it is there.
    put (beside, {});
    EXPECT_EQ (load (&version), 0);
    EXPECT_EQ (version, -1);

    auto file = buildUpdateFile (104, twelveRecords());
    put (beside, Bytes (file.begin(), file.end() - 1));
    EXPECT_EQ (load (&version), 0);
    EXPECT_EQ (version, 104);

    file[storedCrcOffset (file, 0)] ^= 0xFF;
    put (beside, file);
    EXPECT_EQ (load (nullptr), 0);
}

TEST_F (UpdateFileLoader, TheControllerRefusesVersionZero)
{
    component.reset();
    UpdateFileLocation::setFolderForTesting (beside);
    put (beside, buildUpdateFile (0, twelveRecords()));

    component = std::make_unique<MainComponent>();
    EXPECT_EQ (MainComponentProbe::updateFileValid (*component), 0);
    EXPECT_EQ (MainComponentProbe::newFirmwareVersion (*component), -1);
    EXPECT_EQ (MainComponentProbe::updatePayloadSize (*component), 0);

    component.reset();
    put (beside, buildUpdateFile (1, twelveRecords()));
    component = std::make_unique<MainComponent>();
    EXPECT_EQ (MainComponentProbe::updateFileValid (*component), 1);
    EXPECT_EQ (MainComponentProbe::newFirmwareVersion (*component), 1);
}
