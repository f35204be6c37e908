// A controller boots its new firmware right after it has answered the end report, and so
// leaves the bus and comes back. That ordinary ending must read as complete, however the
// answer, the removal, the arrival and the returned controller's first reports interleave,
// and as complete only when the controller that comes back reports the file's version.

#include "UpdateSessionHarness.h"

#include <gtest/gtest.h>

#include <map>

namespace
{
using Report = UpdateSessionHarness::Report;

constexpr int fileVersion = 103;
constexpr int returnedNumber = UpdateSessionHarness::hidNumber + 1;

Report answer (std::uint8_t code, std::uint8_t value) { return UpdateSessionHarness::answer (code, value); }

/** Starts an update of two records whose end report the test answers, and waits until the
    end report is out. */
void runUntilEndReport (UpdateSessionHarness& h, std::map<int, int>& blocks)
{
    std::vector<UpdateRecordSpec> records (12);
    for (size_t i = 0; i < 12; ++i)
    {
        records[i].data.assign (i == 0 ? 100 : 20, (std::uint8_t) (0x20 + i));
        records[i].transfer = i < 2;
    }
    h.writeUpdateFile (fileVersion, records);
    h.respond ([&blocks] (const Report& r, int) -> std::vector<Report> {
        switch (r[0])
        {
            case 0xF0: return { answer (0xF8, 0) };
            case 0xF1: return { answer (0xF9, 0) };
            case 0xF3: return { answer (++blocks[r[1]] == (r[1] == 1 ? 2 : 1) ? 0xFE : 0xF9, 50) };
            default: return {};
        }
    });

    ASSERT_TRUE (h.openReadyScreen());
    ASSERT_TRUE (h.pressStart());
    ASSERT_TRUE (testsupport::pumpUntil ([&h] { return h.writesWithCode (0xF2).size() == 1; }));
}

/** The whole trace since Start (it can be taken once). */
std::string traceText (UpdateSessionHarness& h)
{
    std::string text;
    for (const auto& line : h.traceLines())
        text += line + "\n";
    return text;
}
} // namespace

// The answer is in, and before the worker has taken it the controller's ordinary input
// follows: a knob report right behind it, or the reset and the returned controller's first
// report. The worker is held on the lock it copies under meanwhile.
TEST (ResetAfterCompletion, AnAnswerNotYetTakenSurvivesTheReportsBehindIt)
{
    struct Case
    {
        const char* name;
        bool resets;
        std::uint8_t behind; // first byte of the report behind the answer
    };

    for (const auto& c : { Case { "knob report behind the answer", false, 0x01 },
                           Case { "reset, then a knob report", true, 0x01 },
                           Case { "reset, then an empty report", true, 0x00 } })
    {
        SCOPED_TRACE (c.name);
        UpdateSessionHarness h;
        std::map<int, int> blocks;
        runUntilEndReport (h, blocks);

        {
            const juce::ScopedLock sl (MainComponentProbe::answerLock (h.ui()));
            h.device.sendInput (UpdateSessionHarness::hidNumber, answer (0xFC, 100));
            testsupport::pumpFor (20);
            if (c.resets)
            {
                h.device.unplug (UpdateSessionHarness::hidNumber);
                testsupport::pumpFor (20);
                h.device.plugIn (returnedNumber, UpdateSessionHarness::deviceType, fileVersion);
                testsupport::pumpFor (20);
            }
            h.device.sendInput (c.resets ? returnedNumber : UpdateSessionHarness::hidNumber, answer (c.behind, 0x55));
            testsupport::pumpFor (20);
        }

        ASSERT_TRUE (h.waitUntilFinished (2000)) << "the session waited out its time-out";
        EXPECT_EQ (h.screenState(), UpdateComplete);
        EXPECT_EQ (traceText (h).find ("unexpected"), std::string::npos);
    }
}

// The library dropped the answer when the controller left: the version the controller comes
// back with decides.
TEST (ResetAfterCompletion, AnAnswerLostAtTheRemovalIsDecidedByTheReturnedVersion)
{
    struct Case
    {
        const char* name;
        int returnedVersion; // -1: stays away
        int expectedState;
        const char* trace;
    };

    for (const auto& c : { Case { "back with the file's version", fileVersion, UpdateComplete, "update complete. @476" },
                           Case { "back with the old version", UpdateSessionHarness::deviceVersion, UpdateFailed, "update failed. @476" },
                           Case { "stays away", -1, UpdateFailed, "did not come back within 300 ms" } })
    {
        SCOPED_TRACE (c.name);
        UpdateSessionHarness h;
        std::map<int, int> blocks;
        runUntilEndReport (h, blocks);

        h.device.unplug (UpdateSessionHarness::hidNumber);
        testsupport::pumpFor (50);
        if (c.returnedVersion >= 0)
            h.device.plugIn (returnedNumber, UpdateSessionHarness::deviceType, c.returnedVersion);

        ASSERT_TRUE (h.waitUntilFinished (2000));
        EXPECT_EQ (h.screenState(), c.expectedState);
        const auto all = traceText (h);
        EXPECT_NE (all.find ("unexpected response(0x0). @473"), std::string::npos) << all;
        EXPECT_NE (all.find (c.trace), std::string::npos) << all;
    }
}

// A controller that left during the transfer never ends complete, even when it came back
// with the file's version and leaves again after the end report.
TEST (ResetAfterCompletion, ARemovalBeforeTheEndReportStillFails)
{
    UpdateSessionHarness h;
    h.writeUpdateFile (fileVersion, std::vector<UpdateRecordSpec> (12, UpdateRecordSpec { std::vector<std::uint8_t> (20, 0x31), true }));
    h.respond ([] (const Report& r, int) -> std::vector<Report> {
        switch (r[0])
        {
            case 0xF0: return { answer (0xF8, 0) };
            case 0xF1: return { answer (0xF9, 0) };
            case 0xF3:
                if (r[1] != 2) // record 2 goes unanswered
                    return { answer (0xFE, 50) };
                return {};
            default: return {};
        }
    });
    ASSERT_TRUE (h.openReadyScreen());
    ASSERT_TRUE (h.pressStart());

    ASSERT_TRUE (testsupport::pumpUntil ([&h] { return h.writesWithCode (0xF3).size() == 2; }));
    {
        // Back before the worker hears of it, so the end report reaches the returned controller.
        const juce::ScopedLock sl (MainComponentProbe::answerLock (h.ui()));
        h.device.unplug (UpdateSessionHarness::hidNumber);
        testsupport::pumpFor (20);
        h.device.plugIn (returnedNumber, UpdateSessionHarness::deviceType, fileVersion);
        testsupport::pumpFor (20);
    }

    ASSERT_TRUE (testsupport::pumpUntil ([&h] { return h.writesWithCode (0xF2).size() == 1; }));
    h.device.unplug (returnedNumber);
    testsupport::pumpFor (20);
    h.device.plugIn (returnedNumber + 1, UpdateSessionHarness::deviceType, fileVersion);

    ASSERT_TRUE (h.waitUntilFinished (2000));
    EXPECT_EQ (h.screenState(), UpdateFailed);
    EXPECT_EQ (traceText (h).find ("@476"), std::string::npos);
}
