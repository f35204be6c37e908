// The update session on the real MainComponent and message loop, against a scripted
// controller: reports byte for byte, answers, time-outs, progress and the debug trace.

#include "UpdateSessionHarness.h"

#include "update/UpdateFile.h"

#include <gtest/gtest.h>

#include <map>

namespace
{
using Report = UpdateSessionHarness::Report;
using Lines = std::vector<std::string>;

Report answer (std::uint8_t code, std::uint8_t value) { return UpdateSessionHarness::answer (code, value); }

std::vector<std::uint8_t> bytesOf (size_t count, int seed)
{
    std::vector<std::uint8_t> data (count);
    for (size_t i = 0; i < count; ++i)
        data[i] = (std::uint8_t) (i * 7 + (size_t) seed * 13 + 1);
    return data;
}

UpdateRecordSpec record (size_t size, bool transfer, int seed)
{
    return { bytesOf (size, seed), transfer };
}

/** Twelve records; those listed are sent, all others kept back. */
std::vector<UpdateRecordSpec> recordsSending (std::initializer_list<int> sent, size_t size = 20)
{
    std::vector<UpdateRecordSpec> records;
    for (int i = 0; i < 12; ++i)
        records.push_back (record (size, std::find (sent.begin(), sent.end(), i) != sent.end(), i));
    return records;
}

Report modeReport()
{
    Report r (64, 0);
    r[0] = 0xF4;
    return r;
}
Report endReport()
{
    Report r (64, 0);
    r[0] = 0xF2;
    return r;
}

Report startReport (int number, std::uint32_t length)
{
    Report r (64, 0);
    r[0] = 0xF1;
    r[1] = (std::uint8_t) number;
    r[2] = (std::uint8_t) length;
    r[3] = (std::uint8_t) (length >> 8);
    r[4] = (std::uint8_t) (length >> 16);
    return r;
}

Report dataReport (int number, const std::vector<std::uint8_t>& data, size_t block)
{
    Report r (64, 0xFF);
    r[0] = 0xF3;
    r[1] = (std::uint8_t) number;
    for (size_t i = 0; i < 62 && block * 62 + i < data.size(); ++i)
        r[2 + i] = data[block * 62 + i];
    return r;
}

/** A controller in update mode that accepts everything: percentages count up by one per block. */
struct WillingController
{
    std::map<int, std::uint32_t> lengths;
    std::map<int, std::uint32_t> blocksSeen;
    int percent = 0;

    std::vector<Report> operator() (const Report& r, int)
    {
        switch (r[0])
        {
            case 0xF4: return { answer (0xF6, 1) };
            case 0xF0: return { answer (0xF8, 0) };
            case 0xF1:
                lengths[r[1]] = (std::uint32_t) r[2] | ((std::uint32_t) r[3] << 8) | ((std::uint32_t) r[4] << 16);
                blocksSeen[r[1]] = 0;
                return { answer (0xF9, 0) };
            case 0xF3:
            {
                const auto blocks = (lengths[r[1]] + 61) / 62;
                const bool last = ++blocksSeen[r[1]] == blocks;
                return { answer (last ? 0xFE : 0xF9, (std::uint8_t) ++percent) };
            }
            case 0xF2: return { answer (0xFC, 100) };
            default: return {};
        }
    }
};

Lines skipLines (std::initializer_list<int> records)
{
    Lines lines;
    for (int r : records)
        lines.push_back ("Skip to update " + std::to_string (r) + ".");
    return lines;
}

Lines concat (std::initializer_list<Lines> parts)
{
    Lines all;
    for (auto& p : parts)
        all.insert (all.end(), p.begin(), p.end());
    return all;
}

int countCode (const std::vector<Report>& writes, std::uint8_t code)
{
    return (int) std::count_if (writes.begin(), writes.end(), [code] (const Report& r) { return r[0] == code; });
}
} // namespace

class SessionProtocol : public ::testing::Test
{
protected:
    /** Builds the file, opens the ready screen, presses Start; streams unasked reports first
        when the controller is in its normal mode. */
    void start (const std::vector<UpdateRecordSpec>& records, UpdateSessionHarness::Responder responder,
                bool streaming = false, int version = 103)
    {
        h.writeUpdateFile (version, records);
        h.respond (std::move (responder));
        ASSERT_TRUE (h.openReadyScreen());
        ASSERT_TRUE (h.pressStart());
        if (streaming)
            h.streamUnasked (10);
    }

    void finish (int expectedState)
    {
        ASSERT_TRUE (h.waitUntilFinished()) << "the session did not end";
        EXPECT_EQ (h.screenState(), expectedState);
    }

    UpdateSessionHarness h;
};

TEST_F (SessionProtocol, AFullUpdateSendsEveryReportByteForByte)
{
    std::vector<UpdateRecordSpec> records;
    const size_t sizes[] = { 130, 0, 62, 63, 62, 5, 5, 5, 5, 5, 5, 5 };
    const bool sent[] = { true, true, false, true, true, true, false, false, false, false, false, true };
    for (int i = 0; i < 12; ++i)
        records.push_back (record (sizes[i], sent[i], i));

    // Per record number, the answers to each of its blocks.
    std::map<int, std::vector<std::vector<Report>>> blockAnswers {
        { 1, { { answer (0xF9, 10) }, { answer (0xF9, 10) }, { answer (0xFE, 20) } } },
        { 4, { { answer (0xF7, 25), answer (0xF7, 30), answer (0xF9, 35) }, { answer (0xFB, 35) } } },
        { 5, { { answer (0xFE, 35) } } },
        { 6, { { answer (0xFB, 50) } } },
        { 12, { { answer (0xFE, 90) } } },
    };
    std::map<int, size_t> blockIndex;
    int ends = 0;

    start (records, [&] (const Report& r, int) -> std::vector<Report> {
        switch (r[0])
        {
            case 0xF0: return { answer (0xF8, 0x33) };
            case 0xF1: return { answer (0xF9, 0x55) };
            case 0xF3: return blockAnswers[r[1]].at (blockIndex[r[1]]++);
            case 0xF2: return { ends++ == 0 ? answer (0xF7, 95) : answer (0xFC, 100) };
            default: return {};
        }
    });
    finish (UpdateComplete);

    // Information report: version 103 as 0x06 0x70; 352 bytes in all, 265 of them sent.
    Report info (64, 0);
    const std::uint8_t head[] = { 0xF0, 0x00, 0x06, 0x70, 0x60, 0x01, 0x00, 0x09, 0x01, 0x00 };
    std::copy (std::begin (head), std::end (head), info.begin());
    for (int i = 0; i < 12; ++i)
    {
        const auto crc = computeCrc16 (records[(size_t) i].data.data(), records[(size_t) i].data.size());
        info[10 + 3 * (size_t) i] = (std::uint8_t) ((i + 1) | (sent[i] ? 0x80 : 0));
        info[11 + 3 * (size_t) i] = (std::uint8_t) (crc & 0xFF);
        info[12 + 3 * (size_t) i] = (std::uint8_t) (crc >> 8);
    }

    const std::vector<Report> expected {
        info,
        startReport (1, 130),
        dataReport (1, records[0].data, 0),
        dataReport (1, records[0].data, 1),
        dataReport (1, records[0].data, 2),
        startReport (2, 0),
        startReport (4, 63),
        dataReport (4, records[3].data, 0),
        dataReport (4, records[3].data, 1),
        startReport (5, 62),
        dataReport (5, records[4].data, 0),
        startReport (6, 5),
        dataReport (6, records[5].data, 0),
        startReport (12, 5),
        dataReport (12, records[11].data, 0),
        endReport(),
        endReport(),
    };

    const auto writes = h.writes();
    ASSERT_EQ (writes.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ (writes[i], expected[i]) << "report " << i;

    // The last block of record 4 carries one byte, then 0xFF; the silent device got no mode request.
    EXPECT_EQ (writes[8][2], records[3].data[62]);
    EXPECT_EQ (writes[8][3], 0xFF);
    EXPECT_EQ (countCode (writes, 0xF4), 0);

    EXPECT_EQ (h.traceLines(), (Lines {
                                   "KRV-7000 has been already Update mode.",
                                   "HID_UPDATE_ANS_RCV_OK(0xf9, 10). @416",
                                   "HID_UPDATE_ANS_DL_OK(0xfe, 20). @402",
                                   "Skip to update 2.",
                                   "HID_UPDATE_ANS_PRGRESS_CHK(0xf7, 25). @489",
                                   "HID_UPDATE_ANS_PRGRESS_CHK(0xf7, 30). @489",
                                   "HID_UPDATE_ANS_RCV_OK(0xf9, 35). @416",
                                   "HID_UPDATE_ANS_REQ_NEXT(0xfb, 35). @407",
                                   "HID_UPDATE_ANS_REQ_NEXT(0xfb, 50). @407",
                                   "Skip to update 6.",
                                   "Skip to update 7.",
                                   "Skip to update 8.",
                                   "Skip to update 9.",
                                   "Skip to update 10.",
                                   "HID_UPDATE_ANS_DL_OK(0xfe, 90). @402",
                                   "Progress Count(0.950000). @471",
                                   "HID_UPDATE_ANS_COMPLETE(0xfc, 100). @467",
                               }));

    // Progress is the device's last percentage, seen as each report goes out.
    EXPECT_EQ (h.progressAtEachWrite(), (std::vector<double> {
                                            0.0, 0.0, 0.0, 0.10, 0.10, 0.20, 0.20, 0.20, 0.35, 0.35, 0.35, 0.35, 0.35, 0.50, 0.50, 0.90, 0.95 }));
    EXPECT_EQ (MainComponentProbe::progressValue (h.ui()), 1.0);
    EXPECT_EQ (MainComponentProbe::lastPercent (h.ui()), 90.0);
}

TEST_F (SessionProtocol, ASilentDeviceWithNoRecordToSendGetsInfoAndEndOnly)
{
    start (recordsSending ({}), WillingController());
    finish (UpdateComplete);

    const auto writes = h.writes();
    ASSERT_EQ (writes.size(), 2u);
    EXPECT_EQ (writes[0][0], 0xF0);
    EXPECT_EQ (writes[0][9], 0x00) << "nothing to send";
    EXPECT_EQ (writes[1], endReport());

    EXPECT_EQ (h.traceLines(), concat ({ { "KRV-7000 has been already Update mode." },
                                         skipLines ({ 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11 }),
                                         { "HID_UPDATE_ANS_COMPLETE(0xfc, 100). @467" } }));
}

TEST_F (SessionProtocol, AStreamingDeviceIsAskedToEnterUpdateMode)
{
    h.timings.streamingMs = 1000;
    start (recordsSending ({ 0 }), WillingController(), true);
    finish (UpdateComplete);

    const auto writes = h.writes();
    ASSERT_GE (writes.size(), 2u);
    EXPECT_EQ (writes[0], modeReport());
    EXPECT_EQ (writes[1][0], 0xF0);

    EXPECT_EQ (h.traceLines(), concat ({ { "send request for update.", "succeeded to change to Update mode.",
                                           "HID_UPDATE_ANS_DL_OK(0xfe, 1). @402" },
                                         skipLines ({ 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11 }),
                                         { "HID_UPDATE_ANS_COMPLETE(0xfc, 100). @467" } }));
}

TEST_F (SessionProtocol, KnobReportsStillOnTheirWayAreNotTakenForAnswers)
{
    // The controller was streaming: reports it sent just before it switched arrive after
    // the mode request, and more arrive while the information report is out.
    h.timings.streamingMs = 1000;
    WillingController controller;
    start (
        recordsSending ({ 0, 3 }), [&] (const Report& r, int index) -> std::vector<Report> {
            auto answers = controller (r, index);
            if (r[0] == 0xF4 || r[0] == 0xF0)
                answers.insert (answers.begin(), { answer (0x01, 7), answer (0x00, 8) }); // idle knobs report 0x00
            return answers;
        },
        true);
    finish (UpdateComplete);

    EXPECT_EQ (countCode (h.writes(), 0xF4), 1);
    EXPECT_EQ (countCode (h.writes(), 0xF0), 1);
    for (const auto& line : h.traceLines())
        EXPECT_EQ (line.find ("unexpected"), std::string::npos) << line;
}

// A controller that drops off the bus and comes straight back (a USB reset, a hub glitch)
// keeps its update mode but may have lost what it was given: whatever it says later, the
// update is not complete.
TEST_F (SessionProtocol, AControllerThatWentAwayAfterTheModeSwitchNeverEndsComplete)
{
    WillingController controller;
    start (recordsSending ({ 0, 3, 5 }), [&] (const Report& r, int index) -> std::vector<Report> {
        if (r[0] == 0xF1 && r[1] == 4)
        {
            h.device.unplug (UpdateSessionHarness::hidNumber);
            h.device.plugIn (UpdateSessionHarness::hidNumber, UpdateSessionHarness::deviceType,
                             UpdateSessionHarness::deviceVersion);
            return {};
        }
        return controller (r, index);
    });
    finish (UpdateFailed);

    const auto lines = h.traceLines();
    EXPECT_NE (std::find (lines.begin(), lines.end(), "unexpected response(0x0). @430"), lines.end());
    EXPECT_EQ (countCode (h.writes(), 0xF2), 1) << "the end report still goes";
}

// A real controller re-enumerates to boot its new firmware as soon as it has given its
// completion answer; the removal may reach the tool before the worker has read that answer.
TEST_F (SessionProtocol, ARemovalRightBehindTheCompletionAnswerLeavesTheUpdateComplete)
{
    WillingController controller;
    start (recordsSending ({ 0 }), [&] (const Report& r, int index) -> std::vector<Report> {
        if (r[0] != 0xF2)
            return controller (r, index);

        // Both messages queue behind a busy message thread and arrive back to back.
        juce::MessageManager::callAsync ([] { juce::Thread::sleep (30); });
        h.device.sendInput (UpdateSessionHarness::hidNumber, answer (0xFC, 100));
        h.device.unplug (UpdateSessionHarness::hidNumber);
        return {};
    });
    finish (UpdateComplete);

    const auto lines = h.traceLines();
    EXPECT_NE (std::find (lines.begin(), lines.end(), "HID_UPDATE_ANS_COMPLETE(0xfc, 100). @467"), lines.end());
}

TEST_F (SessionProtocol, FifteenRefusedModeRequestsFailBeforeTheInformationReport)
{
    h.timings.streamingMs = 1000;
    start (
        recordsSending ({ 0 }), [] (const Report& r, int) -> std::vector<Report> {
            return { r[0] == 0xF4 ? answer (0xF6, 0) : answer (0xF8, 0) };
        },
        true);
    finish (UpdateFailed);

    const auto writes = h.writes();
    EXPECT_EQ (writes.size(), 15u);
    EXPECT_EQ (countCode (writes, 0xF4), 15);

    Lines expected;
    for (int i = 0; i < 15; ++i)
    {
        expected.push_back ("send request for update.");
        expected.push_back ("failed to change to Update mode.");
    }
    expected.push_back ("retry error");
    EXPECT_EQ (h.traceLines(), expected);
}

TEST_F (SessionProtocol, AModeAnswerOtherThanZeroOrOneFailsAtOnce)
{
    h.timings.streamingMs = 1000;
    start (
        recordsSending ({ 0 }), [] (const Report&, int) -> std::vector<Report> { return { answer (0xF6, 0x2A) }; }, true);
    finish (UpdateFailed);

    EXPECT_EQ (h.writes().size(), 1u);
    EXPECT_EQ (h.traceLines(), (Lines { "send request for update.",
                                        "failed to change to Update mode by unexpected response(0x2a)." }));
}

TEST_F (SessionProtocol, AnUnansweredOrWrongModeAnswerIsRetried)
{
    h.timings.streamingMs = 1000;
    h.timings.modeAnswerMs = 100;
    WillingController controller;
    start (
        recordsSending ({}), [&] (const Report& r, int index) -> std::vector<Report> {
            if (r[0] == 0xF4 && index == 0)
                return {}; // no answer: the last unasked report (code 0x01) is read as the answer
            if (r[0] == 0xF4 && index == 1)
                return { answer (0x42, 1) };
            return controller (r, index);
        },
        true);
    finish (UpdateComplete);

    EXPECT_EQ (countCode (h.writes(), 0xF4), 3);
    const auto lines = h.traceLines();
    ASSERT_GE (lines.size(), 6u);
    EXPECT_EQ (Lines (lines.begin(), lines.begin() + 6),
               (Lines { "send request for update.", "unexpected response(0x1).",
                        "send request for update.", "unexpected response(0x42).",
                        "send request for update.", "succeeded to change to Update mode." }));
}

TEST_F (SessionProtocol, AWrongOrMissingAnswerToTheInformationReportFailsWithoutEndReport)
{
    start (recordsSending ({ 0 }), [] (const Report& r, int) -> std::vector<Report> {
        return { r[0] == 0xF0 ? answer (0xF9, 0) : answer (0xFC, 100) };
    });
    finish (UpdateFailed);

    EXPECT_EQ (h.writes().size(), 1u);
    EXPECT_EQ (h.writes()[0][0], 0xF0);
    EXPECT_EQ (h.traceLines(), (Lines { "KRV-7000 has been already Update mode." }));
}

TEST_F (SessionProtocol, NoAnswerToTheInformationReportFailsWithoutEndReport)
{
    start (recordsSending ({ 0 }), [] (const Report&, int) -> std::vector<Report> { return {}; });
    finish (UpdateFailed);

    EXPECT_EQ (h.writes().size(), 1u);
    EXPECT_GE (h.elapsedMs, h.timings.streamingMs + h.timings.answerMs - 20);
}

TEST_F (SessionProtocol, AWrongAnswerToAStartReportSkipsThatRecordOnly)
{
    WillingController controller;
    start (recordsSending ({ 0, 1 }, 70), [&] (const Report& r, int index) -> std::vector<Report> {
        if (r[0] == 0xF1 && r[1] == 1)
            return { answer (0xF7, 40) }; // busy counts as wrong here
        return controller (r, index);
    });
    finish (UpdateComplete);

    const auto writes = h.writes();
    for (const auto& w : writes)
    {
        if (w[0] == 0xF3)
        {
            EXPECT_EQ (w[1], 2) << "no data of record 1";
        }
    }
    EXPECT_EQ (countCode (writes, 0xF3), 2);
    EXPECT_EQ (countCode (writes, 0xF2), 1);

    EXPECT_EQ (h.traceLines(), concat ({ { "KRV-7000 has been already Update mode.",
                                           "unexpected response(0xf7). @430",
                                           "HID_UPDATE_ANS_RCV_OK(0xf9, 1). @416",
                                           "HID_UPDATE_ANS_DL_OK(0xfe, 2). @402" },
                                         skipLines ({ 2, 3, 4, 5, 6, 7, 8, 9, 10, 11 }),
                                         { "HID_UPDATE_ANS_COMPLETE(0xfc, 100). @467" } }));
}

TEST_F (SessionProtocol, ARecordOfLengthZeroSendsStartOnly)
{
    auto records = recordsSending ({ 0, 1 });
    records[0].data.clear();
    start (records, WillingController());
    finish (UpdateComplete);

    const auto writes = h.writes();
    ASSERT_GE (writes.size(), 3u);
    EXPECT_EQ (writes[1], startReport (1, 0));
    EXPECT_EQ (writes[2], startReport (2, 20));
}

TEST_F (SessionProtocol, RcvOkToTheOnlyBlockOfARecordFailsButTheEndReportStillGoes)
{
    start (recordsSending ({ 0, 1 }, 62), [] (const Report& r, int) -> std::vector<Report> {
        switch (r[0])
        {
            case 0xF0: return { answer (0xF8, 0) };
            case 0xF1: return { answer (0xF9, 0) };
            case 0xF3: return { answer (0xF9, 50) };
            default: return { answer (0xFC, 100) }; // the outcome stays failure
        }
    });
    finish (UpdateFailed);

    EXPECT_EQ (countCode (h.writes(), 0xF3), 1);
    EXPECT_EQ (h.writes().back(), endReport());
    EXPECT_EQ (h.traceLines(), (Lines { "KRV-7000 has been already Update mode.",
                                        "unexpected response(0xf9). @409",
                                        "HID_UPDATE_ANS_COMPLETE(0xfc, 100). @467" }));
}

TEST_F (SessionProtocol, AWrongAnswerToABlockBeforeTheLastFails)
{
    start (recordsSending ({ 0 }, 63), [] (const Report& r, int) -> std::vector<Report> {
        switch (r[0])
        {
            case 0xF0: return { answer (0xF8, 0) };
            case 0xF1: return { answer (0xF9, 0) };
            case 0xF3: return { answer (0xFE, 50) };
            default: return { answer (0xFA, 0) };
        }
    });
    finish (UpdateFailed);

    EXPECT_EQ (countCode (h.writes(), 0xF3), 1);
    EXPECT_EQ (h.traceLines(), (Lines { "KRV-7000 has been already Update mode.",
                                        "unexpected response(0xfe). @420",
                                        "unexpected response(0xfa). @473" }));
}

// Each case runs its own session, hence no fixture.
TEST (UpdateSessionTimeOuts, MissingAnswersEachFailWithTheirOwnTraceLine)
{
    struct Case
    {
        std::uint8_t silentAfter; // the report left unanswered
        bool busyFirst;           // the block is answered busy once, then nothing
        Lines trace;
    };
    const Case cases[] = {
        { 0xF1, false, { "no response from KRV-7000. @359", "HID_UPDATE_ANS_COMPLETE(0xfc, 100). @467" } },
        { 0xF3, false, { "no response from KRV-7000. @386", "HID_UPDATE_ANS_COMPLETE(0xfc, 100). @467" } },
        { 0xF3, true, { "HID_UPDATE_ANS_PRGRESS_CHK(0xf7, 12). @489", "no response from KRV-7000. @497", "HID_UPDATE_ANS_COMPLETE(0xfc, 100). @467" } },
        { 0xF2, false, concat ({ { "HID_UPDATE_ANS_DL_OK(0xfe, 1). @402" }, skipLines ({ 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11 }), { "no response from KRV-7000. @458" } }) },
    };

    for (const auto& c : cases)
    {
        UpdateSessionHarness run;
        run.writeUpdateFile (103, recordsSending ({ 0 }));
        run.respond ([&c] (const Report& r, int) -> std::vector<Report> {
            if (r[0] == c.silentAfter)
                return c.busyFirst ? std::vector<Report> { answer (0xF7, 12) } : std::vector<Report> {};
            switch (r[0])
            {
                case 0xF0: return { answer (0xF8, 0) };
                case 0xF1: return { answer (0xF9, 0) };
                case 0xF3: return { answer (0xFE, 1) };
                default: return { answer (0xFC, 100) };
            }
        });
        ASSERT_TRUE (run.openReadyScreen());
        ASSERT_TRUE (run.pressStart());
        ASSERT_TRUE (run.waitUntilFinished());
        EXPECT_EQ (run.screenState(), UpdateFailed);

        const auto lines = run.traceLines();
        ASSERT_GE (lines.size(), 1u);
        EXPECT_EQ (Lines (lines.begin() + 1, lines.end()), c.trace) << "silent after 0x" << std::hex << (int) c.silentAfter;
    }
}

TEST_F (SessionProtocol, EndlessBusyAnswersToTheEndReportRepeatItAndMoveTheProgress)
{
    int ends = 0;
    start (recordsSending ({}), [&] (const Report& r, int) -> std::vector<Report> {
        if (r[0] == 0xF0)
            return { answer (0xF8, 0) };
        // Busy for 30 rounds, with percentages past 100, then complete.
        ++ends;
        return { ends <= 30 ? answer (0xF7, (std::uint8_t) (5 * ends)) : answer (0xFC, 77) };
    });
    finish (UpdateComplete);

    const auto writes = h.writes();
    EXPECT_EQ (countCode (writes, 0xF2), 31);
    for (size_t i = 1; i < writes.size(); ++i)
        EXPECT_EQ (writes[i], endReport());

    const auto progress = h.progressAtEachWrite();
    ASSERT_EQ (progress.size(), 32u);
    for (int n = 1; n <= 30; ++n)
        EXPECT_DOUBLE_EQ (progress[(size_t) n + 1], 5 * n / 100.0) << "the END after busy answer " << n;
    EXPECT_DOUBLE_EQ (progress[31], 1.5) << "the value is not limited";
    EXPECT_DOUBLE_EQ (MainComponentProbe::progressValue (h.ui()), 0.77);

    const auto lines = h.traceLines();
    ASSERT_EQ (lines.size(), 1u + 12u + 30u + 1u);
    EXPECT_EQ (lines[13], "Progress Count(0.050000). @471");
    EXPECT_EQ (lines[42], "Progress Count(1.500000). @471");
    EXPECT_EQ (lines[43], "HID_UPDATE_ANS_COMPLETE(0xfc, 77). @467");
}

TEST_F (SessionProtocol, TheEndReportIsRepeatedOnlyAfterThePause)
{
    h.timings.pauseMs = 60;
    int ends = 0;
    start (recordsSending ({}), [&] (const Report& r, int) -> std::vector<Report> {
        if (r[0] == 0xF0)
            return { answer (0xF8, 0) };
        return { ++ends <= 3 ? answer (0xF7, 10) : answer (0xFC, 100) };
    });
    finish (UpdateComplete);

    const auto times = h.timeAtEachWrite();
    ASSERT_EQ (times.size(), 5u);
    for (size_t i = 2; i < times.size(); ++i)
        EXPECT_GE (times[i] - times[i - 1], 59.0) << "end report " << i;

    // The completed answer is followed by the pause too before the final state is asked for.
    EXPECT_GE (h.finishedAt - times[4], 59.0);
}

TEST_F (SessionProtocol, ARecordThatNoLongerLiesInTheFileIsNotSent)
{
    auto records = recordsSending ({ 0, 11 }, 200);
    h.writeUpdateFile (103, records);
    h.respond (WillingController());
    ASSERT_TRUE (h.openReadyScreen());

    // The file shrinks after it was checked: record 11's data is gone.
    const auto bytes = buildUpdateFile (103, records);
    h.updateFile().replaceWithData (bytes.data(), bytes.size() - 150);

    ASSERT_TRUE (h.pressStart());
    finish (UpdateFailed);

    const auto writes = h.writes();
    EXPECT_EQ (countCode (writes, 0xF1), 1) << "record 0 only";
    EXPECT_EQ (countCode (writes, 0xF3), 4);
    EXPECT_EQ (writes.back(), endReport());
}

// The session on its own: no window, no message loop, no device library. A host that
// answers each report at once, as a willing controller in update mode would.
namespace
{
struct DirectHost : UpdateSession::Host
{
    WillingController controller;
    std::vector<Report> written, pending;
    std::vector<UpdateSession::Screen> screens;
    std::uint8_t latest[256] {};

    void writeReport (const std::uint8_t* report) override
    {
        written.emplace_back (report, report + 64);
        for (auto& a : controller (written.back(), (int) written.size() - 1))
            pending.push_back (a);
    }
    UpdateSession::Wake waitForInput (int) override { return takeAnswer(); }
    UpdateSession::Wake takeAnswer() override
    {
        if (pending.empty())
            return UpdateSession::Wake::nothing;
        std::copy (pending.front().begin(), pending.front().end(), latest);
        pending.erase (pending.begin());
        return UpdateSession::Wake::report;
    }
    const std::uint8_t* answer() const override { return latest; }
    void requestState (UpdateSession::Screen s) override { screens.push_back (s); }
    void setProgress (double) override {}
    void pause (int) override {}
    bool stopRequested() const override { return false; }
};
} // namespace

TEST (SessionWithoutAWindow, SendsTheFileThroughItsHostAndAsksForTheScreens)
{
    const auto folder = juce::File::createTempFile ("krv-direct");
    ASSERT_TRUE (folder.createDirectory());
    const auto records = recordsSending ({ 0, 4 }, 100);
    const auto bytes = buildUpdateFile (103, records);
    const auto file = folder.getChildFile ("KRV-7000_UP.upd");
    ASSERT_TRUE (file.replaceWithData (bytes.data(), bytes.size()));

    UpdateRecordInfo table[updateRecordCount] {};
    for (size_t i = 0; i < (size_t) updateRecordCount; ++i)
        table[i] = { (std::uint32_t) records[i].data.size(), computeCrc16 (records[i].data.data(), records[i].data.size()),
                     records[i].transfer };

    DirectHost host;
    UpdateSession::Update update { table, 103, 1, 200, file };
    UpdateSession::Timings timings;
    timings.streamingMs = 0;
    UpdateSession (host, update, timings).run();
    folder.deleteRecursively();

    EXPECT_EQ (host.screens, (std::vector<UpdateSession::Screen> { UpdateSession::Screen::updating,
                                                                   UpdateSession::Screen::complete }));
    // Information, then per record a start report and two blocks, then the end report.
    ASSERT_EQ (host.written.size(), 1u + 2u * 3u + 1u);
    EXPECT_EQ (host.written[0][0], 0xF0);
    EXPECT_EQ (host.written[4], startReport (5, 100));
    EXPECT_EQ (host.written[6], dataReport (5, records[4].data, 1));
    EXPECT_EQ (host.written.back()[0], 0xF2);
}
