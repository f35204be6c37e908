#include "Krv7000Model.h"

#include <algorithm>
#include <cstdio>

namespace krvsim
{
std::uint16_t crc16 (const std::uint8_t* data, std::size_t count)
{
    // CRC-16/XMODEM: polynomial 0x1021, initial value 0, no reflection, no final XOR.
    std::uint16_t crc = 0;
    for (std::size_t i = 0; i < count; ++i)
    {
        crc = static_cast<std::uint16_t> (crc ^ (data[i] << 8));
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000) != 0 ? static_cast<std::uint16_t> ((crc << 1) ^ 0x1021)
                                      : static_cast<std::uint16_t> (crc << 1);
    }
    return crc;
}

std::string describeCode (std::uint8_t value)
{
    switch (value)
    {
        case code::info: return "HID_UPDATE_CMD_INFO";
        case code::start: return "HID_UPDATE_CMD_START";
        case code::end: return "HID_UPDATE_CMD_END";
        case code::data: return "HID_UPDATE_CMD_DATA";
        case code::mode: return "HID_UPDATE_CMD_MODE";
        case code::modeAnswer: return "HID_UPDATE_ANS_MODE";
        case code::busy: return "HID_UPDATE_ANS_PRGRESS_CHK";
        case code::infoOk: return "HID_UPDATE_ANS_INFO_OK";
        case code::received: return "HID_UPDATE_ANS_RCV_OK";
        case code::outOfOrder: return "out of order (0xFA)";
        case code::requestNext: return "HID_UPDATE_ANS_REQ_NEXT";
        case code::complete: return "HID_UPDATE_ANS_COMPLETE";
        case code::badRecord: return "record rejected (0xFD)";
        case code::downloaded: return "HID_UPDATE_ANS_DL_OK";
        default: break;
    }
    char text[16];
    std::snprintf (text, sizeof (text), "code 0x%02X", value);
    return text;
}

std::string Step::describe() const
{
    char text[96];
    switch (kind)
    {
        case mode: return "mode";
        case info: return "info";
        case end: return "end";
        case stream: return "stream";
        case other: return "other";
        case start:
            std::snprintf (text, sizeof (text), "start:%d", record);
            return text;
        case data:
            std::snprintf (text, sizeof (text), "data:%d (block %d.%d%s)", dataIndex, record, block, lastBlock ? ", last" : "");
            return text;
    }
    return "other";
}

namespace
{
std::uint32_t read24 (const Report& r, int at)
{
    return static_cast<std::uint32_t> (r[(size_t) at]) | (static_cast<std::uint32_t> (r[(size_t) at + 1]) << 8)
           | (static_cast<std::uint32_t> (r[(size_t) at + 2]) << 16);
}

int blocksFor (std::uint32_t length)
{
    return static_cast<int> ((length + blockSize - 1) / blockSize);
}
} // namespace

int Krv7000Model::percent() const noexcept
{
    if (announcedTransfer == 0)
        return 100;
    const auto value = static_cast<std::uint64_t> (receivedBytes) * 100 / announcedTransfer;
    return value > 100 ? 100 : static_cast<int> (value);
}

Report Krv7000Model::answer (std::uint8_t answerCode, int value) const
{
    Report r ((size_t) reportSize, 0);
    r[0] = answerCode;
    r[1] = static_cast<std::uint8_t> (value);
    return r;
}

void Krv7000Model::resetSession()
{
    haveInfo = false;
    announcedVersion = 0;
    announcedTotal = 0;
    announcedTransfer = 0;
    announced = {};
    currentRecord = 0;
    currentLength = 0;
    currentBlocks = 0;
    currentData.clear();
    receivedBytes = 0;
    dataBlocks = 0;
    sessionFailed = false;
    endBusyLeft = -1;
    received = {};
}

void Krv7000Model::restart()
{
    updateMode = false;
    resetSession();
}

const std::optional<Report>& Krv7000Model::storedRecord (int recordNumber) const
{
    static const std::optional<Report> none;
    return recordNumber >= 1 && recordNumber <= recordCount ? stored[(size_t) recordNumber - 1] : none;
}

void Krv7000Model::forgetStoredRecords()
{
    stored = {};
    updates = 0;
}

Step Krv7000Model::classify (const Report& report, int writeIndex) const
{
    Step step;
    step.writeIndex = writeIndex;
    const auto command = report.empty() ? 0 : report[0];

    switch (command)
    {
        case code::mode: step.kind = Step::mode; break;
        case code::info: step.kind = Step::info; break;
        case code::end: step.kind = Step::end; break;
        case code::start:
            step.kind = Step::start;
            step.record = report[1];
            break;
        case code::data:
            step.kind = Step::data;
            step.record = report[1];
            step.dataIndex = dataBlocks + 1;
            if (report[1] == currentRecord)
            {
                step.block = currentBlocks + 1;
                step.lastBlock = step.block == blocksFor (currentLength);
            }
            break;
        default:
            break;
    }

    if (! updateMode && step.kind != Step::mode)
        step.kind = Step::other;
    return step;
}

Plan Krv7000Model::handle (const Report& report, int writeIndex)
{
    Plan plan;
    plan.step = classify (report, writeIndex);
    const auto command = report[0];

    if (! updateMode)
    {
        if (command != code::mode)
        {
            plan.note = "ignored: not in update mode";
            return plan;
        }
        updateMode = true;
        resetSession();
        plan.note = "entered update mode";
        plan.answers.push_back ({ answer (code::modeAnswer, 1), 0 });
        return plan;
    }

    switch (command)
    {
        case code::mode:
            plan.answers.push_back ({ answer (code::modeAnswer, 1), 0 });
            return plan;

        case code::info:
        {
            resetSession();
            haveInfo = true;
            announcedVersion = ((report[2] << 8) | report[3]) >> 4;
            announcedTotal = read24 (report, 4);
            announcedTransfer = read24 (report, 7);
            for (int i = 0; i < recordCount; ++i)
            {
                const auto entry = report[(size_t) (10 + 3 * i)];
                const bool numberMatches = (entry & 0x7F) == i + 1;
                announced[(size_t) i].transfer = numberMatches && (entry & 0x80) != 0;
                announced[(size_t) i].crc = static_cast<std::uint16_t> (report[(size_t) (11 + 3 * i)] | (report[(size_t) (12 + 3 * i)] << 8));
                if (! numberMatches)
                    sessionFailed = true;
            }
            char text[128];
            std::snprintf (text, sizeof (text), "announced version %d, %u bytes in all, %u to transfer%s",
                           announcedVersion, announcedTotal, announcedTransfer,
                           sessionFailed ? "; a record entry is misnumbered" : "");
            plan.note = text;
            plan.answers.push_back ({ answer (code::infoOk, 0), 0 });
            return plan;
        }

        case code::start:
        {
            const int record = report[1];
            if (! haveInfo || record < 1 || record > recordCount || ! announced[(size_t) record - 1].transfer)
            {
                plan.note = haveInfo ? "start of a record that was not announced for transfer" : "start before the information report";
                sessionFailed = true;
                plan.answers.push_back ({ answer (code::outOfOrder, percent()), 0 });
                return plan;
            }

            if (currentRecord != 0)
                plan.note = "record " + std::to_string (currentRecord) + " left incomplete; ";

            currentRecord = record;
            currentLength = read24 (report, 2);
            currentBlocks = 0;
            currentData.clear();
            plan.note += "record " + std::to_string (record) + ", " + std::to_string (currentLength) + " bytes";

            if (currentLength == 0)
            {
                // Nothing follows: the record is complete if its CRC is that of no data.
                if (announced[(size_t) record - 1].crc == crc16 (nullptr, 0))
                    received[(size_t) record - 1] = Report();
                else
                    sessionFailed = true;
                currentRecord = 0;
            }

            plan.answers.push_back ({ answer (code::received, percent()), 0 });
            return plan;
        }

        case code::data:
            return handleData (report, std::move (plan));

        case code::end:
            return handleEnd (std::move (plan));

        default:
            plan.note = "unknown command";
            plan.answers.push_back ({ answer (code::outOfOrder, percent()), 0 });
            return plan;
    }
}

Plan Krv7000Model::handleData (const Report& report, Plan plan)
{
    const int record = report[1];
    if (currentRecord == 0 || record != currentRecord || currentBlocks >= blocksFor (currentLength))
    {
        plan.note = "data block outside a started record";
        sessionFailed = true;
        plan.answers.push_back ({ answer (code::outOfOrder, percent()), 0 });
        return plan;
    }

    const auto offset = static_cast<std::uint32_t> (currentBlocks) * blockSize;
    const auto useful = std::min<std::uint32_t> (blockSize, currentLength - offset);
    currentData.insert (currentData.end(), report.begin() + 2, report.begin() + 2 + useful);
    ++currentBlocks;
    ++dataBlocks;
    receivedBytes += useful;

    if (currentBlocks < blocksFor (currentLength))
    {
        plan.answers.push_back ({ answer (code::received, percent()), 0 });
        return plan;
    }

    bool paddingOk = true;
    for (auto i = (size_t) (2 + useful); i < (size_t) reportSize; ++i)
        paddingOk = paddingOk && report[i] == 0xFF;

    const auto expected = announced[(size_t) record - 1].crc;
    const auto actual = crc16 (currentData.data(), currentData.size());
    const bool crcOk = actual == expected;

    for (int i = 0; i < settings.busyAfterRecord; ++i)
        plan.answers.push_back ({ answer (code::busy, percent()), settings.busyIntervalMs });

    char text[160];
    std::snprintf (text, sizeof (text), "record %d complete: CRC 0x%04X, announced 0x%04X%s", record, actual, expected,
                   paddingOk ? "" : "; padding is not 0xFF");
    plan.note = text;

    if (crcOk && paddingOk)
    {
        received[(size_t) record - 1] = currentData;
        bool moreToCome = false;
        for (int r = record + 1; r <= recordCount; ++r)
            moreToCome = moreToCome || (announced[(size_t) r - 1].transfer && ! received[(size_t) r - 1]);
        plan.answers.push_back ({ answer (moreToCome ? code::requestNext : code::downloaded, percent()), settings.busyIntervalMs });
    }
    else
    {
        sessionFailed = true;
        plan.answers.push_back ({ answer (code::badRecord, percent()), settings.busyIntervalMs });
    }

    currentRecord = 0;
    currentData.clear();
    return plan;
}

Plan Krv7000Model::handleEnd (Plan plan)
{
    if (endBusyLeft < 0)
        endBusyLeft = settings.busyAtEnd;

    if (endBusyLeft > 0)
    {
        --endBusyLeft;
        plan.note = "writing";
        plan.answers.push_back ({ answer (code::busy, percent()), 0 });
        return plan;
    }

    std::uint32_t transferred = 0;
    bool allThere = haveInfo && ! sessionFailed;
    for (int i = 0; i < recordCount; ++i)
    {
        if (! announced[(size_t) i].transfer)
            continue;
        if (! received[(size_t) i])
            allThere = false;
        else
            transferred += static_cast<std::uint32_t> (received[(size_t) i]->size());
    }
    allThere = allThere && transferred == announcedTransfer;

    if (! allThere)
    {
        plan.note = haveInfo ? "update incomplete or rejected: nothing stored" : "end before the information report";
        resetSession();
        plan.answers.push_back ({ answer (code::outOfOrder, percent()), 0 });
        return plan;
    }

    for (int i = 0; i < recordCount; ++i)
        if (announced[(size_t) i].transfer)
            stored[(size_t) i] = received[(size_t) i];

    version = announcedVersion;
    ++updates;
    plan.note = "update complete: version " + std::to_string (version);
    plan.reenumerate = true;
    plan.answers.push_back ({ answer (code::complete, 100), 0 });
    resetSession();
    return plan;
}

std::string Krv7000Model::stateText() const
{
    std::string text = "# KRV-7000 simulator: what the controller holds\n";
    text += "version " + std::to_string (version) + "\n";
    text += "updates " + std::to_string (updates) + "\n";

    for (int i = 0; i < recordCount; ++i)
    {
        text += "record " + std::to_string (i + 1);
        const auto& record = stored[(size_t) i];
        if (! record)
        {
            text += " none\n";
            continue;
        }

        char head[64];
        std::snprintf (head, sizeof (head), " length %zu crc 0x%04X data ", record->size(), crc16 (record->data(), record->size()));
        text += head;
        static const char digits[] = "0123456789abcdef";
        for (auto byte : *record)
        {
            text.push_back (digits[byte >> 4]);
            text.push_back (digits[byte & 0xF]);
        }
        text += "\n";
    }
    return text;
}
} // namespace krvsim
