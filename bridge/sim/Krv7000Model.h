#pragma once

#include "../common/ReportQueue.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace krvsim
{
using fwbridge::Report;

namespace code
{
constexpr std::uint8_t info = 0xF0;
constexpr std::uint8_t start = 0xF1;
constexpr std::uint8_t end = 0xF2;
constexpr std::uint8_t data = 0xF3;
constexpr std::uint8_t mode = 0xF4;

constexpr std::uint8_t modeAnswer = 0xF6;
constexpr std::uint8_t busy = 0xF7;
constexpr std::uint8_t infoOk = 0xF8;
constexpr std::uint8_t received = 0xF9;
constexpr std::uint8_t outOfOrder = 0xFA; // ours: a report the controller did not expect
constexpr std::uint8_t requestNext = 0xFB;
constexpr std::uint8_t complete = 0xFC;
constexpr std::uint8_t badRecord = 0xFD; // ours: a record failed its CRC or padding check
constexpr std::uint8_t downloaded = 0xFE;
} // namespace code

constexpr int reportSize = 64;
constexpr int blockSize = 62;
constexpr int recordCount = 12;

std::uint16_t crc16 (const std::uint8_t* data, std::size_t count);
std::string describeCode (std::uint8_t code);

/** Which answer a report asks for; faults are aimed at steps. */
struct Step
{
    enum Kind
    {
        mode,
        info,
        start,
        data,
        end,
        other,
        stream
    };

    Kind kind = other;
    int record = 0;    // start and data: 1 to 12
    int block = 0;     // data: 1-based within the record
    int dataIndex = 0; // data: 1-based over the whole update
    bool lastBlock = false;
    int writeIndex = 0; // 1-based count of reports since attach

    std::string describe() const;
};

struct Answer
{
    Report report;
    int afterMs = 0; // after the previous answer of the same plan
};

/** What the controller does about one report: its answers in order (busy ones first). */
struct Plan
{
    Step step;
    std::vector<Answer> answers;
    bool reenumerate = false; // the update is complete: leave and come back with it
    std::string note;         // for the log
};

/** The KRV-7000 as the update protocol sees it, without threads or timing: normal mode
    and update mode, the announced records, the records received and those it holds.
*/
class Krv7000Model
{
public:
    struct Settings
    {
        int busyAfterRecord = 2; // busy answers while a received record is "written"
        int busyAtEnd = 2;       // end reports answered busy before the completion
        int busyIntervalMs = 5;
    };

    Settings settings;

    Step classify (const Report& report, int writeIndex) const;
    Plan handle (const Report& report, int writeIndex);

    /** Plugged out and in again: normal mode, the update in progress is gone. */
    void restart();
    /** After a completed update the controller comes back in normal mode. */
    void finishReenumeration() { updateMode = false; }

    bool isInUpdateMode() const noexcept { return updateMode; }
    int getVersion() const noexcept { return version; }
    void setVersion (int newVersion) noexcept { version = newVersion; }
    int getUpdateCount() const noexcept { return updates; }
    int percent() const noexcept;

    const std::optional<Report>& storedRecord (int recordNumber) const;
    void forgetStoredRecords();
    std::string stateText() const;

private:
    struct Announced
    {
        bool transfer = false;
        std::uint16_t crc = 0;
    };

    void resetSession();
    Report answer (std::uint8_t answerCode, int value) const;
    Plan handleData (const Report& report, Plan plan);
    Plan handleEnd (Plan plan);

    bool updateMode = false;
    int version = 102;
    int updates = 0;

    bool haveInfo = false;
    int announcedVersion = 0;
    std::uint32_t announcedTotal = 0;
    std::uint32_t announcedTransfer = 0;
    std::array<Announced, recordCount> announced {};

    int currentRecord = 0; // 0: none
    std::uint32_t currentLength = 0;
    int currentBlocks = 0;
    Report currentData;
    std::uint32_t receivedBytes = 0;
    int dataBlocks = 0;
    bool sessionFailed = false;
    int endBusyLeft = -1;
    std::array<std::optional<Report>, recordCount> received {};

    std::array<std::optional<Report>, recordCount> stored {};
};
} // namespace krvsim
