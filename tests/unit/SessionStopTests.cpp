// The update session when the controller goes away, when the application ends while it
// runs, and the worker's copy of the answer.

#include "UpdateSessionHarness.h"

#include <gtest/gtest.h>

#include <cctype>
#include <map>
#include <thread>

namespace
{
using Report = UpdateSessionHarness::Report;
using Lines = std::vector<std::string>;

Report answer (std::uint8_t code, std::uint8_t value) { return UpdateSessionHarness::answer (code, value); }

std::vector<UpdateRecordSpec> records (std::initializer_list<int> sent, size_t size)
{
    std::vector<UpdateRecordSpec> result;
    for (int i = 0; i < 12; ++i)
    {
        UpdateRecordSpec r;
        r.data.assign (size, (std::uint8_t) (0x10 + i));
        r.transfer = std::find (sent.begin(), sent.end(), i) != sent.end();
        result.push_back (r);
    }
    return result;
}

int countCode (const std::vector<Report>& writes, std::uint8_t code)
{
    return (int) std::count_if (writes.begin(), writes.end(), [code] (const Report& r) { return r[0] == code; });
}

bool contains (const Lines& lines, const std::string& line)
{
    return std::find (lines.begin(), lines.end(), line) != lines.end();
}

// Answers as a willing controller in update mode, except where the test says otherwise.
std::vector<Report> willing (const Report& r)
{
    switch (r[0])
    {
        case 0xF4: return { answer (0xF6, 1) };
        case 0xF0: return { answer (0xF8, 0) };
        case 0xF1: return { answer (0xF9, 0) };
        case 0xF3: return { answer (0xF9, 10) }; // records here take several blocks
        case 0xF2: return { answer (0xFC, 100) };
        default: return {};
    }
}

// The product's own waits, except the first, so that a session held by a wait shows.
MainComponent::SessionTimings productTimings()
{
    MainComponent::SessionTimings t;
    t.streamingMs = 100;
    return t;
}
} // namespace

// --- the application ends while the session runs ------------------------------------------

class SessionStop : public ::testing::Test
{
protected:
    void start (UpdateSessionHarness::Responder responder, bool streaming = false)
    {
        h.timings = productTimings();
        if (streaming)
            h.timings.streamingMs = 1000;
        h.writeUpdateFile (103, records ({ 0, 1 }, 200));
        h.respond (std::move (responder));
        ASSERT_TRUE (h.openReadyScreen());
        ASSERT_TRUE (h.pressStart());
        if (streaming)
            h.streamUnasked (10);
    }

    /** Pumps until the device has been written a report with this code count times. */
    bool waitForWrites (std::uint8_t code, int count)
    {
        return testsupport::pumpUntil ([&] { return countCode (h.writes(), code) >= count; }, 5000);
    }

    void expectFailedPromptly (double stopMs)
    {
        EXPECT_LT (stopMs, 2000.0) << "the quit was held by a wait";
        EXPECT_EQ (h.quitCount.load(), 1);
        EXPECT_FALSE (MainComponentProbe::workerRunning (h.ui()));
        ASSERT_TRUE (h.waitUntilFinished (2000));
        EXPECT_EQ (h.screenState(), UpdateFailed);
    }

    UpdateSessionHarness h;
};

TEST_F (SessionStop, QuittingWhileTheDeviceAnswersEveryEndReportBusyEndsPromptly)
{
    start ([] (const Report& r, int) -> std::vector<Report> {
        return r[0] == 0xF2 ? std::vector<Report> { answer (0xF7, 50) } : willing (r);
    });

    ASSERT_TRUE (waitForWrites (0xF2, 4)) << "the end report is repeated while busy";
    EXPECT_EQ (h.screenState(), Updating);

    expectFailedPromptly (h.pressQuit());

    const auto lines = h.traceLines();
    ASSERT_FALSE (lines.empty());
    EXPECT_EQ (lines.back(), "no response from KRV-7000. @458");
}

TEST_F (SessionStop, QuittingWhileADeviceKeepsABlockBusyEndsPromptly)
{
    start ([this] (const Report& r, int) -> std::vector<Report> {
        if (r[0] == 0xF3)
        {
            h.keepSending (0xF7, 33, 5); // busy, within every time-out, for ever
            return {};
        }
        return willing (r);
    });

    ASSERT_TRUE (testsupport::pumpUntil ([this] { return MainComponentProbe::sharedProgress (h.ui()) == 0.33; }, 5000));
    expectFailedPromptly (h.pressQuit());

    // Stopped inside the busy wait: "@497" when the stop is seen first, "@420" when
    // stopAndQuit's all-zero answer is read first; the end report is never answered.
    const auto lines = h.traceLines();
    EXPECT_TRUE (contains (lines, "HID_UPDATE_ANS_PRGRESS_CHK(0xf7, 33). @489"));
    EXPECT_TRUE (contains (lines, "no response from KRV-7000. @497") || contains (lines, "unexpected response(0x0). @420"));
    ASSERT_FALSE (lines.empty());
    EXPECT_EQ (lines.back(), "no response from KRV-7000. @458");
}

TEST_F (SessionStop, QuittingWhileASilentDeviceHoldsABlockEndsPromptly)
{
    start ([] (const Report& r, int) -> std::vector<Report> {
        return r[0] == 0xF3 ? std::vector<Report> {} : willing (r); // 180 s for a block
    });

    ASSERT_TRUE (waitForWrites (0xF3, 1));
    expectFailedPromptly (h.pressQuit());

    // stopAndQuit's all-zero answer may be read before the stop request is seen.
    const auto lines = h.traceLines();
    ASSERT_GE (lines.size(), 2u);
    EXPECT_TRUE (lines[lines.size() - 2] == "no response from KRV-7000. @386"
                 || lines[lines.size() - 2] == "unexpected response(0x0). @420")
        << lines[lines.size() - 2];
    EXPECT_EQ (lines.back(), "no response from KRV-7000. @458");
    EXPECT_EQ (countCode (h.writes(), 0xF3), 1);
}

TEST_F (SessionStop, QuittingDuringTheModeSwitchSendsNoMoreRequests)
{
    start ([] (const Report& r, int) -> std::vector<Report> {
        return r[0] == 0xF4 ? std::vector<Report> {} : willing (r);
    },
           true);

    ASSERT_TRUE (waitForWrites (0xF4, 1));
    expectFailedPromptly (h.pressQuit());

    // The all-zero answer of stopAndQuit may cost one attempt before the stop is seen;
    // none after it.
    const auto writes = h.writes();
    EXPECT_LE (countCode (writes, 0xF4), 2);
    EXPECT_EQ (countCode (writes, 0xF0), 0);
}

TEST_F (SessionStop, TheApplicationEndingWithoutStopAndQuitEndsTheSessionPromptly)
{
    start ([] (const Report& r, int) -> std::vector<Report> {
        return r[0] == 0xF3 ? std::vector<Report> {} : willing (r);
    });

    ASSERT_TRUE (waitForWrites (0xF3, 1));
    EXPECT_LT (h.destroyComponent(), 2000.0);
    EXPECT_EQ (h.quitCount.load(), 0);
    EXPECT_EQ (countCode (h.writes(), 0xF2), 1) << "the end report still went out";
}

// --- the controller goes away --------------------------------------------------------------

namespace
{
struct RemovalCase
{
    const char* phase;
    bool streaming;
    std::uint8_t removedOn; // the device goes instead of answering this report...
    int nth;                // ...the nth time it is written
    bool busyFirst;         // after answering busy once
    bool comesBack;         // and is plugged in again at once
    Lines expectedTrace;    // the last lines of the trace
};

void PrintTo (const RemovalCase& c, std::ostream* out) { *out << c.phase; }
} // namespace

class SessionRemoval : public ::testing::TestWithParam<RemovalCase>
{
};

TEST_P (SessionRemoval, EndsInUpdateFailedWithinItsTimeOuts)
{
    const auto& c = GetParam();
    UpdateSessionHarness h;
    h.timings.streamingMs = c.streaming ? 1000 : 100;
    h.timings.modeAnswerMs = 30;
    h.writeUpdateFile (103, records ({ 0, 1 }, 100)); // two blocks each

    std::atomic<bool> removed { false };
    int matches = 0;
    std::map<int, int> blocks;

    auto remove = [&h, &c] {
        h.device.unplug (UpdateSessionHarness::hidNumber);
        if (c.comesBack)
            h.device.plugIn (UpdateSessionHarness::hidNumber, UpdateSessionHarness::deviceType, 100);
    };

    h.respond ([&] (const Report& r, int) -> std::vector<Report> {
        if (! removed.load() && r[0] == c.removedOn && ++matches == c.nth)
        {
            removed.store (true);
            if (c.busyFirst)
                h.sendThen (answer (0xF7, 40), remove);
            else
                remove();
            return {};
        }

        if (r[0] == 0xF3)
            return { answer (++blocks[r[1]] == 2 ? 0xFE : 0xF9, 10) };
        return willing (r);
    });

    ASSERT_TRUE (h.openReadyScreen());
    ASSERT_TRUE (h.pressStart());
    if (c.streaming)
        h.streamUnasked (10);

    // The longest cases leave fifteen mode requests, or a start and an end report,
    // unanswered: well within this.
    ASSERT_TRUE (h.waitUntilFinished (5000)) << c.phase;
    EXPECT_EQ (h.screenState(), UpdateFailed) << c.phase;
    EXPECT_TRUE (removed.load()) << c.phase;

    const auto lines = h.traceLines();
    ASSERT_GE (lines.size(), c.expectedTrace.size()) << c.phase;
    if (! c.comesBack)
    {
        EXPECT_EQ (Lines (lines.end() - (long) c.expectedTrace.size(), lines.end()), c.expectedTrace) << c.phase;
    }
    else
    {
        EXPECT_TRUE (contains (lines, c.expectedTrace.front())) << c.phase;
    }

    if (c.removedOn == 0xF4 || c.removedOn == 0xF0)
    {
        EXPECT_EQ (countCode (h.writes(), 0xF2), 0) << c.phase;
    }
}

namespace
{
Lines fifteenModeAttemptsAfterRemoval()
{
    Lines lines;
    for (int i = 0; i < 15; ++i)
    {
        lines.push_back ("send request for update.");
        lines.push_back ("unexpected response(0x0).");
    }
    lines.push_back ("retry error");
    return lines;
}

const RemovalCase removalCases[] = {
    { "mode switch", true, 0xF4, 1, false, false, fifteenModeAttemptsAfterRemoval() },
    { "information", false, 0xF0, 1, false, false, { "KRV-7000 has been already Update mode." } },
    { "start", false, 0xF1, 1, false, false, { "unexpected response(0x0). @430", "no response from KRV-7000. @359", "no response from KRV-7000. @458" } },
    { "block before the last", false, 0xF3, 1, false, false, { "unexpected response(0x0). @420", "no response from KRV-7000. @458" } },
    { "last block", false, 0xF3, 2, false, false, { "HID_UPDATE_ANS_RCV_OK(0xf9, 10). @416", "unexpected response(0x0). @409", "no response from KRV-7000. @458" } },
    { "busy block", false, 0xF3, 1, true, false, { "HID_UPDATE_ANS_PRGRESS_CHK(0xf7, 40). @489", "unexpected response(0x0). @420", "no response from KRV-7000. @458" } },
    { "end", false, 0xF2, 1, false, false, { "unexpected response(0x0). @473", "KRV-7000 did not come back within 300 ms: update failed. @476" } },
    { "block, device back at once", false, 0xF3, 1, false, true, { "unexpected response(0x0). @420" } },
    { "end, device back at once", false, 0xF2, 1, false, true, { "unexpected response(0x0). @473" } },
};
} // namespace

INSTANTIATE_TEST_SUITE_P (EachPhase, SessionRemoval, ::testing::ValuesIn (removalCases),
                          [] (const ::testing::TestParamInfo<RemovalCase>& info) {
    std::string name;
    for (const char* p = info.param.phase; *p != 0; ++p)
        name += std::isalnum ((unsigned char) *p) ? *p : '_';
    return name;
});

// --- the worker's copy of the answer -------------------------------------------------------

TEST (SessionAnswerCopy, TheWorkerTakesTheAnswerUnderTheLockTheMessageThreadWritesUnder)
{
    UpdateSessionHarness h;
    h.writeUpdateFile (103, records ({ 0 }, 10));
    ASSERT_TRUE (h.openReadyScreen());
    auto& ui = h.ui();

    std::atomic<bool> taken { false };
    std::thread worker;
    {
        // While a report is being copied in, the worker must wait for all of it.
        const juce::ScopedLock sl (MainComponentProbe::answerLock (ui));
        auto* buffer = MainComponentProbe::answerBufferForWriting (ui);
        std::memset (buffer, 0xAA, 128);

        worker = std::thread ([&] { MainComponentProbe::takeAnswer (ui); taken.store (true); });
        std::this_thread::sleep_for (std::chrono::milliseconds (50));
        EXPECT_FALSE (taken.load()) << "the answer was read while it was being written";

        std::memset (buffer + 128, 0xAA, 128);
    }
    worker.join();

    const auto copy = MainComponentProbe::answerCopy (ui);
    for (size_t i = 0; i < copy.size(); ++i)
        ASSERT_EQ (copy[i], 0xAA) << "byte " << i;
}
