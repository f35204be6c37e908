// The simulated KRV-7000 (build/sim/libfwbridge.so), loaded in this process and driven
// the way the updater drives a controller: through its window messages and HID_Write.
#include "platform/Win32.h"
#include "update/UpdateFile.h"

#include "SimulatedKrv7000.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using testsupport::pumpFor;
using testsupport::pumpUntil;

namespace
{
using Bytes = std::vector<std::uint8_t>;

struct Heard
{
    UINT message;
    int number;
};

struct Input
{
    Bytes bytes;        // what HID_Input copied (at most 256)
    int reportedLength; // what it said it delivered
    bool guardIntact;   // nothing written past the 256 bytes it was given
    double atMs;
};

struct Record
{
    Bytes data;
    bool transfer = false;
    int crcOffset = 0; // added to the true CRC to announce a wrong one
};

const char* const simVariables[] = { "KRV_SIM_LOG", "KRV_SIM_CONTROL", "KRV_SIM_ATTACHED", "KRV_SIM_VERSION",
                                     "KRV_SIM_STATE", "KRV_SIM_DELAY_MS", "KRV_SIM_SYNC", "KRV_SIM_FRAMES",
                                     "KRV_SIM_STREAM", "KRV_SIM_COMMANDS", "KRV_SIM_LOG_STREAM" };

Bytes pattern (size_t length, int seed)
{
    Bytes data (length);
    for (size_t i = 0; i < length; ++i)
        data[i] = static_cast<std::uint8_t> ((i * 7 + (size_t) seed * 31) & 0xFF);
    return data;
}

std::uint16_t crcOf (const Bytes& data)
{
    return computeCrc16 (data.data(), data.size());
}

class DeviceSimulator : public ::testing::Test
{
protected:
    static SimulatedKrv7000& sim() { return SimulatedKrv7000::get(); }

    void SetUp() override
    {
        ASSERT_TRUE (sim().loaded) << "cannot load " << KRV_SIM_LIBRARY;
        for (auto* name : simVariables)
            unsetenv (name);
        sim().reset();
        sim().setStreaming (0);

        current = this;
        WNDCLASSA windowClass {};
        windowClass.lpfnWndProc = &procedure;
        windowClass.hInstance = GetModuleHandleA (nullptr);
        windowClass.lpszClassName = "SIM_TEST_WINDOW";
        RegisterClassA (&windowClass);
        window = CreateWindowExA (0, "SIM_TEST_WINDOW", "", 0, 0, 0, 10, 10, nullptr, nullptr, windowClass.hInstance, nullptr);
        ASSERT_NE (window, nullptr);

        sim().api.initialize (GetModuleHandleA (nullptr));
        sim().api.setCallback (window, HID_MSG_INPUT, HID_MSG_ARRIVED, HID_MSG_REMOVED);
        sim().api.start();
        startedAt = juce::Time::getMillisecondCounterHiRes();
    }

    void TearDown() override
    {
        sim().api.stop();
        sim().api.setCallback (nullptr, 0, 0, 0);
        sim().api.finalize();
        pumpFor (5);
        DestroyWindow (window);
        UnregisterClassA ("SIM_TEST_WINDOW", GetModuleHandleA (nullptr));
        sim().setLogFile (nullptr);
        for (auto* name : simVariables)
            unsetenv (name);
        sim().reset();
        current = nullptr;
    }

    static LRESULT CALLBACK procedure (HWND w, UINT message, WPARAM wParam, LPARAM lParam)
    {
        if (current != nullptr && message >= HID_MSG_REMOVED && message <= HID_MSG_INPUT)
        {
            current->heard.push_back ({ message, (int) wParam });
            if (message == HID_MSG_INPUT)
                current->read ((int) wParam);
        }
        return DefWindowProcA (w, message, wParam, lParam);
    }

    void read (int number)
    {
        std::uint8_t buffer[256 + 64];
        std::memset (buffer, 0xC3, sizeof (buffer));
        int length = 256;
        sim().api.input (number, buffer, &length);

        Input input;
        input.reportedLength = length;
        input.bytes.assign (buffer, buffer + std::clamp (length, 0, 256));
        input.guardIntact = true;
        for (size_t i = 256; i < sizeof (buffer); ++i)
            input.guardIntact = input.guardIntact && buffer[i] == 0xC3;
        input.atMs = juce::Time::getMillisecondCounterHiRes() - startedAt;
        inputs.push_back (input);
    }

    int number() const { return sim().hidNumber(); }

    bool send (Bytes report)
    {
        report.resize (64, 0);
        return sim().api.write (number(), report.data(), 64) != 0;
    }

    /** The next answer of the update protocol (code 0xF0 or above), skipping unasked reports. */
    Input nextAnswer (int timeoutMs = 1000)
    {
        Input found {};
        pumpUntil ([&] {
            while (consumed < inputs.size())
            {
                const auto& candidate = inputs[consumed++];
                if (! candidate.bytes.empty() && candidate.bytes[0] >= 0xF0)
                {
                    found = candidate;
                    return true;
                }
            }
            return false;
        },
                   timeoutMs);
        return found;
    }

    static int code (const Input& input) { return input.bytes.empty() ? -1 : input.bytes[0]; }
    static int value (const Input& input) { return input.bytes.size() < 2 ? -1 : input.bytes[1]; }

    static Bytes modeRequest() { return { 0xF4 }; }
    static Bytes endReport() { return { 0xF2 }; }

    static Bytes infoReport (int version, const std::vector<Record>& records)
    {
        Bytes r (64, 0);
        r[0] = 0xF0;
        r[2] = static_cast<std::uint8_t> ((version >> 4) & 0xFF);
        r[3] = static_cast<std::uint8_t> ((version << 4) & 0xF0);
        std::uint32_t all = 0;
        std::uint32_t sent = 0;
        for (size_t i = 0; i < 12; ++i)
        {
            const auto& rec = i < records.size() ? records[i] : Record { {}, false, 0 };
            all += (std::uint32_t) rec.data.size();
            sent += rec.transfer ? (std::uint32_t) rec.data.size() : 0;
            const auto crc = static_cast<std::uint16_t> (crcOf (rec.data) + rec.crcOffset);
            r[10 + 3 * i] = static_cast<std::uint8_t> ((i + 1) | (rec.transfer ? 0x80 : 0));
            r[11 + 3 * i] = static_cast<std::uint8_t> (crc & 0xFF);
            r[12 + 3 * i] = static_cast<std::uint8_t> (crc >> 8);
        }
        for (int b = 0; b < 3; ++b)
        {
            r[4 + (size_t) b] = static_cast<std::uint8_t> (all >> (8 * b));
            r[7 + (size_t) b] = static_cast<std::uint8_t> (sent >> (8 * b));
        }
        return r;
    }

    static Bytes startReport (int record, size_t length)
    {
        return { 0xF1, (std::uint8_t) record, (std::uint8_t) length, (std::uint8_t) (length >> 8), (std::uint8_t) (length >> 16) };
    }

    static std::vector<Bytes> dataReports (int record, const Bytes& data, std::uint8_t padding = 0xFF)
    {
        std::vector<Bytes> blocks;
        for (size_t offset = 0; offset < data.size(); offset += 62)
        {
            Bytes r (64, padding);
            r[0] = 0xF3;
            r[1] = (std::uint8_t) record;
            for (size_t i = 0; i < 62 && offset + i < data.size(); ++i)
                r[2 + i] = data[offset + i];
            blocks.push_back (r);
        }
        return blocks;
    }

    /** Sends a report and returns the next answer (code -1 when none came). */
    Input ask (const Bytes& report, int timeoutMs = 1000)
    {
        EXPECT_TRUE (send (report));
        return nextAnswer (timeoutMs);
    }

    /** Sends a data block; returns the busy answers and then the first other answer. */
    std::vector<Input> exchange (const Bytes& report, int timeoutMs = 1000)
    {
        std::vector<Input> answers;
        EXPECT_TRUE (send (report));
        for (;;)
        {
            auto answer = nextAnswer (timeoutMs);
            answers.push_back (answer);
            if (code (answer) != 0xF7)
                return answers;
        }
    }

    void enterUpdateMode()
    {
        const auto answers = exchange (modeRequest());
        ASSERT_EQ (code (answers.back()), 0xF6);
        ASSERT_EQ (value (answers.back()), 1);
    }

    /** Sends one record's start and blocks as the updater does; the answers of its last block. */
    std::vector<Input> sendRecord (int record, const Bytes& data, std::vector<int>* percents = nullptr)
    {
        const auto started = exchange (startReport (record, data.size()));
        EXPECT_EQ (code (started.back()), 0xF9) << "record " << record;
        std::vector<Input> answers;
        for (const auto& block : dataReports (record, data))
        {
            answers = exchange (block);
            if (percents != nullptr)
                percents->push_back (value (answers.back()));
        }
        return answers;
    }

    /** END until the controller stops answering busy; returns the last answer and counts the busy ones. */
    Input finish (int& busyAnswers)
    {
        busyAnswers = 0;
        for (int attempt = 0; attempt < 20; ++attempt)
        {
            const auto answer = ask (endReport());
            if (code (answer) != 0xF7)
                return answer;
            ++busyAnswers;
        }
        return {};
    }

    size_t countHeard (UINT message) const
    {
        size_t n = 0;
        for (const auto& h : heard)
            n += h.message == message ? 1 : 0;
        return n;
    }

    juce::File temporaryFile (const juce::String& name)
    {
        auto file = juce::File::getSpecialLocation (juce::File::tempDirectory)
                        .getChildFile ("krv-sim-test-" + juce::String (juce::Time::currentTimeMillis()) + "-" + name);
        file.deleteFile();
        return file;
    }

    static inline DeviceSimulator* current = nullptr;
    HWND window = nullptr;
    double startedAt = 0.0;
    std::vector<Heard> heard;
    std::vector<Input> inputs;
    size_t consumed = 0;
};
} // namespace

// --- plugging in and out -------------------------------------------------------------

TEST_F (DeviceSimulator, AttachAndDetachAreAnnouncedAndEachAttachGetsANewNumber)
{
    const int first = number();
    ASSERT_GE (first, 0);
    int numbers[128] {};
    ASSERT_EQ (sim().api.enumHidNumbers (numbers), 1);
    EXPECT_EQ (numbers[0], first);
    EXPECT_EQ (sim().api.getDeviceType (first), 7);
    EXPECT_EQ (sim().api.getDeviceType (first + 1), -1);

    int version[2] = { 0, 0 };
    EXPECT_EQ (sim().api.getFirmwareVersion (7, version, 1), 1);
    EXPECT_EQ (version[0], 102);
    version[0] = 0;
    sim().api.getFirmwareVersion (0, version, 1);
    EXPECT_EQ (version[0], 0) << "the family's type 0 is not a KRV-7000";

    EXPECT_EQ (sim().detach(), 1);
    EXPECT_EQ (sim().detach(), 0);
    ASSERT_TRUE (pumpUntil ([&] { return countHeard (HID_MSG_REMOVED) == 1; }));
    EXPECT_EQ (heard.back().number, first);
    EXPECT_EQ (sim().api.enumHidNumbers (numbers), 0);
    EXPECT_EQ (sim().api.getDeviceType (first), -1);

    const int second = sim().attach();
    EXPECT_EQ (sim().attach(), -1);
    ASSERT_TRUE (pumpUntil ([&] { return countHeard (HID_MSG_ARRIVED) == 1; }));
    EXPECT_EQ (heard.back().number, second);
    EXPECT_NE (second, first);
    EXPECT_EQ (sim().api.getDeviceType (second), 7);
}

TEST_F (DeviceSimulator, NothingIsPostedAfterStopOrWithoutAWindow)
{
    sim().api.stop();
    sim().detach();
    sim().attach();
    pumpFor (30);
    EXPECT_TRUE (heard.empty());

    sim().api.start();
    sim().api.setCallback (nullptr, 0, 0, 0);
    sim().detach();
    pumpFor (30);
    EXPECT_TRUE (heard.empty());

    sim().api.setCallback (window, HID_MSG_INPUT, HID_MSG_ARRIVED, HID_MSG_REMOVED);
    sim().attach();
    ASSERT_TRUE (pumpUntil ([&] { return countHeard (HID_MSG_ARRIVED) == 1; }));
}

TEST_F (DeviceSimulator, NormalModeStreamsUnaskedReports)
{
    sim().setStreaming (1);
    ASSERT_TRUE (pumpUntil ([&] { return inputs.size() >= 12; }, 2000));
    for (const auto& input : inputs)
    {
        ASSERT_EQ (input.reportedLength, 64);
        EXPECT_LT (input.bytes[0], 0xF0) << "unasked reports are no protocol answers";
    }
    // A few every 10 ms: twelve reports take well under a second.
    EXPECT_LT (inputs.back().atMs, 1000.0);
}

TEST_F (DeviceSimulator, ModeRequestIsAnsweredAndThenTheControllerIsSilent)
{
    sim().setStreaming (1);
    ASSERT_TRUE (pumpUntil ([&] { return inputs.size() >= 3; }));

    EXPECT_EQ (code (ask (Bytes { 0xF0 }, 100)), -1) << "no protocol outside update mode";
    enterUpdateMode();
    EXPECT_EQ (sim().isInUpdateMode(), 1);

    const auto seen = inputs.size();
    pumpFor (150);
    EXPECT_EQ (inputs.size(), seen) << "nothing unasked in update mode";
}

TEST_F (DeviceSimulator, WritesOfOtherSizesOrToOtherNumbersAreNotSent)
{
    std::uint8_t report[65] = { 0xF4 };
    EXPECT_EQ (sim().api.write (number(), report, 65), 0);
    EXPECT_EQ (sim().api.write (number() + 1, report, 64), 0);
    EXPECT_EQ (sim().api.write (number(), nullptr, 64), 0);
    EXPECT_EQ (sim().writeCount(), 0);
    EXPECT_EQ (sim().api.write (number(), report, 64), 1);
    EXPECT_EQ (sim().writeCount(), 1);
}

// --- the update protocol -------------------------------------------------------------

TEST_F (DeviceSimulator, CompleteUpdateStoresExactlyTheTransferredRecordsAndComesBackWithTheNewVersion)
{
    const auto stateFile = temporaryFile ("state.txt");
    const auto logFile = temporaryFile ("log.txt");
    setenv ("KRV_SIM_STATE", stateFile.getFullPathName().toRawUTF8(), 1);
    sim().reset();
    sim().setStreaming (0);
    ASSERT_EQ (sim().setLogFile (logFile.getFullPathName().toRawUTF8()), 1);
    const int before = number();

    std::vector<Record> records (12);
    records[0] = { pattern (100, 1), true, 0 };
    records[1] = { pattern (62, 2), true, 0 };
    records[2] = { pattern (63, 3), true, 0 };
    records[3] = { {}, true, 0 };
    records[4] = { pattern (50, 5), false, 0 };
    records[6] = { pattern (130, 7), true, 0 };
    const int total = 100 + 62 + 63 + 130;

    enterUpdateMode();
    const auto info = exchange (infoReport (103, records));
    ASSERT_EQ (code (info.back()), 0xF8);

    std::vector<int> percents;
    for (int r : { 1, 2, 3, 4, 7 })
    {
        const auto& data = records[(size_t) r - 1].data;
        if (data.empty())
        {
            EXPECT_EQ (code (exchange (startReport (r, 0)).back()), 0xF9);
            continue;
        }

        const auto last = sendRecord (r, data, &percents);
        ASSERT_GE (last.size(), 3u) << "the controller is busy while it writes a record";
        EXPECT_EQ (code (last[0]), 0xF7);
        EXPECT_EQ (code (last.back()), r == 7 ? 0xFE : 0xFB) << "record " << r;
    }

    // Percentages of the bytes received, rising to 100.
    const std::vector<int> expected { 62 * 100 / total, 100 * 100 / total, 162 * 100 / total, 224 * 100 / total,
                                      225 * 100 / total, 287 * 100 / total, 349 * 100 / total, 100 };
    EXPECT_EQ (percents, expected);

    int busy = 0;
    const auto done = finish (busy);
    EXPECT_EQ (code (done), 0xFC);
    EXPECT_EQ (value (done), 100);
    EXPECT_EQ (busy, 2);
    EXPECT_EQ (sim().updateCount(), 1);

    // It leaves and comes back as a new device with the new version, streaming again.
    ASSERT_TRUE (pumpUntil ([&] { return countHeard (HID_MSG_ARRIVED) == 1; }, 2000));
    EXPECT_EQ (countHeard (HID_MSG_REMOVED), 1u);
    EXPECT_NE (number(), before);
    int version[2] = { 0, 0 };
    sim().api.getFirmwareVersion (7, version, 1);
    EXPECT_EQ (version[0], 103);
    EXPECT_EQ (sim().isInUpdateMode(), 0);

    for (int r = 1; r <= 12; ++r)
    {
        const auto& record = records[(size_t) r - 1];
        std::uint8_t held[256] {};
        const int length = sim().storedRecord (r, held, sizeof (held));
        if (! record.transfer)
        {
            EXPECT_EQ (length, -1) << "record " << r << " was not transferred";
            continue;
        }
        ASSERT_EQ (length, (int) record.data.size()) << "record " << r;
        EXPECT_EQ (Bytes (held, held + length), record.data) << "record " << r;
    }

    const auto state = stateFile.loadFileAsString();
    EXPECT_TRUE (state.contains ("version 103\n")) << state;
    EXPECT_TRUE (state.contains ("record 5 none\n")) << state;
    EXPECT_TRUE (state.contains ("record 4 length 0 ")) << state;
    EXPECT_TRUE (state.contains ("record 1 length 100 crc 0x" + juce::String::toHexString ((int) crcOf (records[0].data)).paddedLeft ('0', 4).toUpperCase()))
        << state;

    const auto log = logFile.loadFileAsString();
    EXPECT_TRUE (log.contains ("out  HID " + juce::String (before))) << log;
    EXPECT_TRUE (log.contains ("HID_UPDATE_CMD_MODE")) << log;
    EXPECT_TRUE (log.contains ("HID_UPDATE_ANS_COMPLETE 100")) << log;
    EXPECT_TRUE (log.contains ("re-enumerating with firmware 1.03")) << log;
    stateFile.deleteFile();
    logFile.deleteFile();
}

TEST_F (DeviceSimulator, RecordFailingItsAnnouncedCrcIsRejectedAndNothingIsStored)
{
    std::vector<Record> records (12);
    records[0] = { pattern (70, 1), true, 1 };
    enterUpdateMode();
    ASSERT_EQ (code (exchange (infoReport (104, records)).back()), 0xF8);

    const auto last = sendRecord (1, records[0].data);
    EXPECT_EQ (code (last.back()), 0xFD);

    int busy = 0;
    EXPECT_EQ (code (finish (busy)), 0xFA);
    EXPECT_EQ (sim().storedRecord (1, nullptr, 0), -1);
    EXPECT_EQ (sim().getVersion(), 102);
    pumpFor (500);
    EXPECT_EQ (countHeard (HID_MSG_REMOVED), 0u) << "no re-enumeration after a failed update";
}

TEST_F (DeviceSimulator, PaddingOtherThanFFIsRejected)
{
    std::vector<Record> records (12);
    records[0] = { pattern (63, 1), true, 0 };
    enterUpdateMode();
    ASSERT_EQ (code (exchange (infoReport (104, records)).back()), 0xF8);
    ASSERT_EQ (code (exchange (startReport (1, 63)).back()), 0xF9);

    const auto blocks = dataReports (1, records[0].data, 0x00);
    EXPECT_EQ (code (exchange (blocks[0]).back()), 0xF9);
    EXPECT_EQ (code (exchange (blocks[1]).back()), 0xFD);
}

TEST_F (DeviceSimulator, MissingRecordMakesTheEndFail)
{
    std::vector<Record> records (12);
    records[0] = { pattern (10, 1), true, 0 };
    records[1] = { pattern (10, 2), true, 0 };
    enterUpdateMode();
    ASSERT_EQ (code (exchange (infoReport (104, records)).back()), 0xF8);
    EXPECT_EQ (code (sendRecord (1, records[0].data).back()), 0xFB);

    int busy = 0;
    EXPECT_EQ (code (finish (busy)), 0xFA);
    EXPECT_EQ (sim().updateCount(), 0);
}

// --- faults --------------------------------------------------------------------------

TEST_F (DeviceSimulator, SilenceLeavesAReportUnansweredAndCountLimitsIt)
{
    ASSERT_EQ (sim().command ("fault silence mode count=1"), 1);
    EXPECT_TRUE (send (modeRequest()));
    EXPECT_EQ (code (nextAnswer (200)), -1);
    enterUpdateMode();

    ASSERT_EQ (sim().setFault ("silence", "info"), 1);
    EXPECT_TRUE (send (infoReport (103, {})));
    EXPECT_EQ (code (nextAnswer (200)), -1);
}

TEST_F (DeviceSimulator, WrongCodesAreSentWhereAsked)
{
    std::vector<Record> records (12);
    records[0] = { pattern (130, 1), true, 0 };
    ASSERT_EQ (sim().command ("fault wrong start:1 count=1"), 1);
    ASSERT_EQ (sim().command ("fault wrong block:1.2"), 1);
    ASSERT_EQ (sim().command ("fault wrong info code=0xF9 count=1"), 1);

    enterUpdateMode();
    EXPECT_EQ (code (exchange (infoReport (103, records)).back()), 0xF9);
    EXPECT_EQ (code (exchange (infoReport (103, records)).back()), 0xF8);
    EXPECT_EQ (code (ask (startReport (1, 130))), 0xF7) << "busy counts as wrong after a start";

    const auto blocks = dataReports (1, records[0].data);
    ASSERT_EQ (code (exchange (startReport (1, 130)).back()), 0xF9);
    EXPECT_EQ (code (exchange (blocks[0]).back()), 0xF9);
    EXPECT_EQ (code (exchange (blocks[1]).back()), 0xFE) << "download-complete before the last block";
}

TEST_F (DeviceSimulator, ModeRequestCanBeRefusedOrLeftUnswitched)
{
    ASSERT_EQ (sim().setFault ("refuse", nullptr), 1);
    auto answer = exchange (modeRequest()).back();
    EXPECT_EQ (code (answer), 0xF6);
    EXPECT_EQ (value (answer), 2);
    EXPECT_EQ (sim().isInUpdateMode(), 0);

    sim().clearFaults();
    ASSERT_EQ (sim().command ("fault notswitched count=2"), 1);
    for (int attempt = 0; attempt < 2; ++attempt)
    {
        answer = exchange (modeRequest()).back();
        EXPECT_EQ (value (answer), 0);
    }
    EXPECT_EQ (sim().isInUpdateMode(), 0);
    enterUpdateMode();
}

TEST_F (DeviceSimulator, EndlessBusyLastsUntilTheFaultIsCleared)
{
    std::vector<Record> records (12);
    records[0] = { pattern (10, 1), true, 0 };
    enterUpdateMode();
    ASSERT_EQ (code (exchange (infoReport (103, records)).back()), 0xF8);
    ASSERT_EQ (code (exchange (startReport (1, 10)).back()), 0xF9);

    ASSERT_EQ (sim().command ("fault busy data:1 ms=20"), 1);
    EXPECT_TRUE (send (dataReports (1, records[0].data)[0]));
    int busy = 0;
    for (; busy < 8; ++busy)
        ASSERT_EQ (code (nextAnswer (500)), 0xF7);

    sim().clearFaults();
    Input answer;
    do
        answer = nextAnswer (500);
    while (code (answer) == 0xF7);
    EXPECT_EQ (code (answer), 0xFE);
}

TEST_F (DeviceSimulator, EndlessBusyAtTheEndAnswersEveryEndBusy)
{
    enterUpdateMode();
    ASSERT_EQ (code (exchange (infoReport (103, {})).back()), 0xF8);
    ASSERT_EQ (sim().setFault ("busy", "end"), 1);
    for (int i = 0; i < 6; ++i)
        ASSERT_EQ (code (ask (endReport())), 0xF7) << "end report " << i;
    EXPECT_EQ (code (nextAnswer (150)), -1) << "one busy answer for each end report";
    sim().clearFaults();
    int busy = 0;
    EXPECT_EQ (code (finish (busy)), 0xFC);
}

TEST_F (DeviceSimulator, SlowAnswersAndAnswerDelayPostponeTheAnswer)
{
    ASSERT_EQ (sim().command ("fault slow mode ms=250 count=1"), 1);
    const double sentAt = juce::Time::getMillisecondCounterHiRes() - startedAt;
    EXPECT_TRUE (send (modeRequest()));
    EXPECT_EQ (code (nextAnswer (100)), -1);
    const auto answer = nextAnswer (1000);
    EXPECT_EQ (code (answer), 0xF6);
    EXPECT_GE (answer.atMs - sentAt, 245.0);

    sim().setAnswerDelay (120);
    const double again = juce::Time::getMillisecondCounterHiRes() - startedAt;
    EXPECT_TRUE (send (modeRequest()));
    const auto delayed = nextAnswer (1000);
    EXPECT_EQ (code (delayed), 0xF6);
    EXPECT_GE (delayed.atMs - again, 115.0);
}

TEST_F (DeviceSimulator, OversizedReportsClaimMoreThanTheyCanDeliver)
{
    ASSERT_EQ (sim().command ("fault oversized mode size=320"), 1);
    EXPECT_TRUE (send (modeRequest()));
    const auto answer = nextAnswer();
    EXPECT_EQ (answer.reportedLength, 320);
    ASSERT_EQ (answer.bytes.size(), 256u);
    EXPECT_EQ (answer.bytes[0], 0xF6);
    EXPECT_EQ (answer.bytes[255], 0x5A);
    EXPECT_TRUE (answer.guardIntact) << "never more than the buffer the host hands over";

    sim().clearFaults();
    sim().detach();
    sim().attach();
    ASSERT_EQ (sim().command ("fault oversized stream size=300 count=2"), 1);
    sim().setStreaming (1);
    ASSERT_TRUE (pumpUntil ([&] { return inputs.size() >= 4; }));
    EXPECT_EQ (inputs[1].reportedLength, 300);
    EXPECT_EQ (inputs[2].reportedLength, 300);
    EXPECT_EQ (inputs[3].reportedLength, 64);
}

TEST_F (DeviceSimulator, UnplugFaultRemovesTheControllerMidUpdate)
{
    std::vector<Record> records (12);
    records[0] = { pattern (200, 1), true, 0 };
    ASSERT_EQ (sim().setFault ("unplug", "data:2"), 1);
    enterUpdateMode();
    ASSERT_EQ (code (exchange (infoReport (103, records)).back()), 0xF8);
    ASSERT_EQ (code (exchange (startReport (1, 200)).back()), 0xF9);
    const auto blocks = dataReports (1, records[0].data);
    EXPECT_EQ (code (exchange (blocks[0]).back()), 0xF9);
    EXPECT_TRUE (send (blocks[1]));
    ASSERT_TRUE (pumpUntil ([&] { return countHeard (HID_MSG_REMOVED) == 1; }));
    EXPECT_EQ (number(), -1);
}

TEST_F (DeviceSimulator, CommandsThatAreNotUnderstoodAreRefused)
{
    EXPECT_EQ (sim().command ("fault nonsense info"), 0);
    EXPECT_EQ (sim().command ("fault slow"), 0);
    EXPECT_EQ (sim().command ("fault slow data:x"), 0);
    EXPECT_EQ (sim().command ("fault slow info ms=fast"), 0);
    EXPECT_EQ (sim().command ("frobnicate"), 0);
    EXPECT_EQ (sim().command ("delay -5"), 0);
    EXPECT_EQ (sim().setFault ("wrong", "nowhere"), 0);
    EXPECT_EQ (sim().command ("# a comment"), 1);
    EXPECT_EQ (sim().command ("log phase two"), 1);
}

// --- modes of answering ----------------------------------------------------------------

TEST_F (DeviceSimulator, SynchronousModeAnswersInsideTheWrite)
{
    sim().setSynchronous (1);
    EXPECT_TRUE (send (modeRequest()));

    // Read at once, before any message is handled.
    std::uint8_t buffer[256] {};
    int length = 256;
    ASSERT_EQ (sim().api.input (number(), buffer, &length), 1);
    EXPECT_EQ (length, 64);
    EXPECT_EQ (buffer[0], 0xF6);
    EXPECT_EQ (buffer[1], 1);

    ASSERT_TRUE (send (infoReport (103, {})));
    length = 256;
    ASSERT_EQ (sim().api.input (number(), buffer, &length), 1);
    EXPECT_EQ (buffer[0], 0xF8);
    sim().setSynchronous (0);
}

TEST_F (DeviceSimulator, FrameModeSpacesReportsOneMillisecondApart)
{
    const auto logFile = temporaryFile ("frames.txt");
    ASSERT_EQ (sim().setLogFile (logFile.getFullPathName().toRawUTF8()), 1);
    sim().setFrameMode (1);
    ASSERT_EQ (sim().command ("busy-answers 4 0 0"), 1);

    std::vector<Record> records (12);
    records[0] = { pattern (10, 1), true, 0 };
    enterUpdateMode();
    ASSERT_EQ (code (exchange (infoReport (103, records)).back()), 0xF8);
    ASSERT_EQ (code (exchange (startReport (1, 10)).back()), 0xF9);
    const auto answers = exchange (dataReports (1, records[0].data)[0]);
    ASSERT_EQ (answers.size(), 5u);

    std::vector<double> times;
    for (const auto& line : juce::StringArray::fromLines (logFile.loadFileAsString()))
        if (line.contains ("in   HID") && (line.contains ("PRGRESS_CHK") || line.contains ("DL_OK")))
            times.push_back (line.fromFirstOccurrenceOf ("+", false, false).trim().getDoubleValue());
    // Each was due at once; one per frame, even from a device thread that woke late, puts
    // the last more than three frames after the first.
    ASSERT_EQ (times.size(), 5u);
    for (size_t i = 1; i < times.size(); ++i)
        EXPECT_GT (times[i], times[i - 1]) << "report " << i;
    EXPECT_GE (times.back() - times.front(), 0.0025);
    logFile.deleteFile();
}

// --- configuration from the environment and the control file --------------------------

TEST_F (DeviceSimulator, EnvironmentSetsTheStartingState)
{
    setenv ("KRV_SIM_ATTACHED", "0", 1);
    setenv ("KRV_SIM_VERSION", "150", 1);
    setenv ("KRV_SIM_COMMANDS", "fault refuse; delay 0", 1);
    sim().reset();
    EXPECT_EQ (number(), -1);
    EXPECT_EQ (sim().getVersion(), 150);

    const int attached = sim().attach();
    ASSERT_TRUE (pumpUntil ([&] { return countHeard (HID_MSG_ARRIVED) == 1; }));
    EXPECT_EQ (heard.back().number, attached);
    EXPECT_EQ (value (exchange (modeRequest()).back()), 2);
}

TEST_F (DeviceSimulator, ControlFileDrivesTheControllerFromOutside)
{
    const auto control = temporaryFile ("control.txt");
    ASSERT_TRUE (control.create());
    setenv ("KRV_SIM_CONTROL", control.getFullPathName().toRawUTF8(), 1);
    sim().reset();
    sim().api.stop();
    sim().api.start(); // the control file is watched from start on

    const int first = number();
    control.appendText ("detach\n");
    ASSERT_TRUE (pumpUntil ([&] { return countHeard (HID_MSG_REMOVED) == 1; }));
    EXPECT_EQ (heard.back().number, first);

    control.appendText ("version 123\nstream off\nattach\n");
    ASSERT_TRUE (pumpUntil ([&] { return countHeard (HID_MSG_ARRIVED) == 1; }));
    int version[2] = { 0, 0 };
    sim().api.getFirmwareVersion (7, version, 1);
    EXPECT_EQ (version[0], 123);

    control.appendText ("fault refuse mode value=3\n");
    pumpFor (500); // the file is read every 20 ms; a loaded machine (sanitizers, CI) may take longer
    EXPECT_EQ (value (exchange (modeRequest()).back()), 3);
    control.deleteFile();
}
