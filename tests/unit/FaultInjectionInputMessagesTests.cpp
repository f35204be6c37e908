// An input message that brings no report: the library announced input, but the report
// had already been read (a read on arrival takes the report a later message was meant
// for) or was lost. Nothing was received, so the session must keep waiting for the real
// answer instead of taking the previous one again.

#include "UpdateSessionHarness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>

namespace
{
using Report = UpdateSessionHarness::Report;

Report answer (std::uint8_t code, std::uint8_t value) { return UpdateSessionHarness::answer (code, value); }

// Record 1 takes two blocks, record 2 one.
std::vector<UpdateRecordSpec> twoRecords()
{
    std::vector<UpdateRecordSpec> records (12);
    for (size_t i = 0; i < 12; ++i)
    {
        records[i].data.assign (i == 0 ? 100 : 20, (std::uint8_t) (0x20 + i));
        records[i].transfer = i < 2;
    }
    return records;
}
} // namespace

class FaultInjectionInputMessages : public ::testing::Test
{
protected:
    /** Runs an update in which the report with this code, the first time it is written,
        is followed by an input message with nothing to read, and its answer comes later. */
    void runWithEmptyMessageAfter (std::uint8_t command)
    {
        std::map<int, int> blocks;
        h.writeUpdateFile (103, twoRecords());
        h.respond ([this, command, &blocks] (const Report& r, int) -> std::vector<Report> {
            Report reply;
            switch (r[0])
            {
                case 0xF0: reply = answer (0xF8, 0); break;
                case 0xF1: reply = answer (0xF9, 0); break;
                case 0xF3: reply = answer (++blocks[r[1]] == (r[1] == 1 ? 2 : 1) ? 0xFE : 0xF9, 50); break;
                case 0xF2: reply = answer (0xFC, 100); break;
                default: return {};
            }

            if (r[0] == command && ! announced)
            {
                heldBack = reply;
                announced = true;
                h.device.post (HID_MSG_INPUT, UpdateSessionHarness::hidNumber);
                return {};
            }
            return { reply };
        });

        ASSERT_TRUE (h.openReadyScreen());
        ASSERT_TRUE (h.pressStart());

        // The empty message is handled; only then does the answer come.
        ASSERT_TRUE (testsupport::pumpUntil ([this] { return announced.load(); }));
        writesBeforeAnswer = h.writes().size();
        testsupport::pumpFor (100);
        writesWhileWaiting = h.writes().size() - writesBeforeAnswer;
        h.device.sendInput (UpdateSessionHarness::hidNumber, heldBack);

        ASSERT_TRUE (h.waitUntilFinished());
    }

    UpdateSessionHarness h;
    std::atomic<bool> announced { false };
    Report heldBack;
    size_t writesBeforeAnswer = 0;
    size_t writesWhileWaiting = 0;
};

TEST_F (FaultInjectionInputMessages, AnEmptyMessageIsNoAnswerToTheInformationReport)
{
    runWithEmptyMessageAfter (0xF0);

    EXPECT_EQ (writesWhileWaiting, 0u) << "nothing may go out before the answer";
    EXPECT_EQ (h.screenState(), UpdateComplete);
    EXPECT_EQ (h.writesWithCode (0xF3).size(), 3u);
    for (const auto& line : h.traceLines())
        EXPECT_EQ (line.find ("unexpected"), std::string::npos) << line;
}

TEST_F (FaultInjectionInputMessages, AnEmptyMessageIsNoAnswerToADataBlock)
{
    // The previous answer (to the start report) is still in the buffer: taking it again
    // would send the next block before the controller has acknowledged this one.
    runWithEmptyMessageAfter (0xF3);

    EXPECT_EQ (writesWhileWaiting, 0u) << "the second block went out before the first was answered";
    EXPECT_EQ (h.screenState(), UpdateComplete);
    EXPECT_EQ (h.writesWithCode (0xF3).size(), 3u);
    for (const auto& line : h.traceLines())
        EXPECT_EQ (line.find ("unexpected"), std::string::npos) << line;
}

// The worker wakes for one report, and before it has copied the answer the next report is
// in: it copies that one, and the signal the next report gave is still pending. That
// signal must not make the same answer count a second time, as the answer to the next
// report. Here a knob report still on its way wakes the worker after the mode request,
// and the mode answer arrives while the worker is about to copy.
TEST_F (FaultInjectionInputMessages, AnAnswerTakenBeforeItsSignalIsNotTakenTwice)
{
    h.timings.streamingMs = 1000;
    h.timings.modeAnswerMs = 2000;
    h.writeUpdateFile (103, twoRecords());

    std::map<int, int> blocks;
    h.respond ([&blocks] (const Report& r, int) -> std::vector<Report> {
        switch (r[0])
        {
            case 0xF4: return {}; // answered by the test
            case 0xF0: return { answer (0xF8, 0) };
            case 0xF1: return { answer (0xF9, 0) };
            case 0xF3: return { answer (++blocks[r[1]] == (r[1] == 1 ? 2 : 1) ? 0xFE : 0xF9, 50) };
            case 0xF2: return { answer (0xFC, 100) };
            default: return {};
        }
    });

    ASSERT_TRUE (h.openReadyScreen());
    ASSERT_TRUE (h.pressStart());
    h.streamUnasked (10);
    ASSERT_TRUE (testsupport::pumpUntil ([this] { return h.writesWithCode (0xF4).size() == 1; }));

    {
        // While the test holds the lock the worker copies under, a woken worker waits to copy.
        const juce::ScopedLock sl (MainComponentProbe::answerLock (h.ui()));
        h.device.sendInput (UpdateSessionHarness::hidNumber, answer (0x01, 0x55));
        testsupport::pumpFor (50);
        h.device.sendInput (UpdateSessionHarness::hidNumber, answer (0xF6, 1));
        testsupport::pumpFor (20);
    }

    ASSERT_TRUE (h.waitUntilFinished());
    EXPECT_EQ (h.screenState(), UpdateComplete);
    EXPECT_EQ (h.writesWithCode (0xF0).size(), 1u);
    EXPECT_EQ (h.writesWithCode (0xF3).size(), 3u);
    for (const auto& line : h.traceLines())
        EXPECT_EQ (line.find ("unexpected"), std::string::npos) << line;
}
