// Fault injection end to end: the real MainComponent (HidCtrl, HidUtil, the window
// messages and the JUCE message loop) runs whole updates against the simulated KRV-7000
// loaded in this process, which is pulled out, falls silent or answers wrongly at each
// step. Whatever happens, the session must end within its time-outs, and it may only
// report success when the controller holds exactly the records the file sends.

#include "WholeUpdateFixture.h"

#include <array>
#include <random>

namespace
{
using namespace wholeupdate;

// --- the cells ----------------------------------------------------------------------------------
enum class Outcome
{
    complete,
    failed,
    failedThoughStored, // the controller took the update, but its last word was lost
    either              // the order of a removal, an arrival and the answers decides; only the rule holds
};

// Faults the test itself brings about while the session runs.
enum class Pull
{
    none,
    whileCheckingForStream, // as soon as the updating screen shows: the tool listens for knob reports
    whileCheckingForStreamAndPlugBack,
    whileLastBlockIsBusy, // during the busy answers after record 5's last block
    whileEndIsBusy,       // during the busy answers to the end reports
    andPlugBack           // plugged in again as soon as it is seen gone
};

struct Cell
{
    std::string name;
    std::string faults;           // simulator commands armed before Start, one per ';'
    std::uint8_t lineCommand = 0; // the answer to this report arrives as random bytes ...
    int lineRecord = 0;           // ... for this record (0: any) ...
    int lineBlock = 0;            // ... and this block of it (0: any)
    bool emptyMessage = false;    // or, instead, an input message with nothing to read follows the report
    Pull pull = Pull::none;
    Outcome expected = Outcome::failed;
    int minStreamTimeOuts = 0, maxStreamTimeOuts = 0; // full waits for a knob report
    int minModeTimeOuts = 0, maxModeTimeOuts = 0;     // full waits for a mode answer
    int minAnswerTimeOuts = 0, maxAnswerTimeOuts = 0; // full waits for any other answer
    std::vector<std::string> trace;                   // parts of lines the trace must hold
    bool updateAgain = false;                         // a second run of the tool follows

    Cell (std::string n, std::string f = {}) : name (std::move (n)), faults (std::move (f)) {}

    Cell& completes()
    {
        expected = Outcome::complete;
        return *this;
    }
    Cell& failsThoughStored()
    {
        expected = Outcome::failedThoughStored;
        return *this;
    }
    Cell& endsEitherWay()
    {
        expected = Outcome::either;
        return *this;
    }
    Cell& garble (std::uint8_t command, int record = 0, int block = 0)
    {
        lineCommand = command;
        lineRecord = record;
        lineBlock = block;
        return *this;
    }
    Cell& emptyMessageAfter (std::uint8_t command, int record = 0, int block = 0)
    {
        garble (command, record, block);
        emptyMessage = true;
        return *this;
    }
    Cell& pulled (Pull p)
    {
        pull = p;
        return *this;
    }
    Cell& streamTimeOuts (int low, int high)
    {
        minStreamTimeOuts = low;
        maxStreamTimeOuts = high;
        return *this;
    }
    Cell& modeTimeOuts (int low, int high)
    {
        minModeTimeOuts = low;
        maxModeTimeOuts = high;
        return *this;
    }
    Cell& modeTimeOuts (int n) { return modeTimeOuts (n, n); }
    Cell& answerTimeOuts (int low, int high)
    {
        minAnswerTimeOuts = low;
        maxAnswerTimeOuts = high;
        return *this;
    }
    Cell& answerTimeOuts (int n) { return answerTimeOuts (n, n); }
    Cell& traces (std::vector<std::string> lines)
    {
        trace = std::move (lines);
        return *this;
    }
    Cell& thenUpdateAgain()
    {
        updateAgain = true;
        return *this;
    }
};

void PrintTo (const Cell& c, std::ostream* out) { *out << c.name; }

std::string at (int record, int block) { return std::to_string (record) + "." + std::to_string (block); }

std::vector<Cell> cells()
{
    const auto R = std::to_string (faultRecord);
    const auto middle = "block:" + at (faultRecord, 2);
    const auto last = "last:" + R;
    const std::string noAnswer = "no response from KRV-7000. @";

    return {
        Cell ("clean_run").completes(),

        // The controller pulled out. While the tool listens for knob reports, the removal
        // usually makes it take the controller for one in update mode already; when the
        // knob reports were counted first, it is pulled during the mode request instead.
        Cell ("pulled_while_checking_for_knob_reports").pulled (Pull::whileCheckingForStream).streamTimeOuts (0, 1).modeTimeOuts (0, 14).answerTimeOuts (0, 1),
        Cell ("pulled_during_mode_switch", "fault unplug mode").modeTimeOuts (14).traces ({ "unexpected response(0x0).", "retry error" }),
        Cell ("pulled_after_information_report", "fault unplug info"),
        Cell ("pulled_after_start_report", "fault unplug start:" + R).answerTimeOuts (2).traces ({ "unexpected response(0x0). @430", noAnswer + "359", noAnswer + "458" }),
        Cell ("pulled_in_middle_of_record", "fault unplug " + middle).answerTimeOuts (1).traces ({ "unexpected response(0x0). @420", noAnswer + "458" }),
        Cell ("pulled_during_busy_answers", "fault busy " + last + " ms=10").pulled (Pull::whileLastBlockIsBusy).answerTimeOuts (0, 1).traces ({ "unexpected response(0x0). @409" }),
        Cell ("pulled_at_end_report", "fault unplug end count=1").traces ({ "unexpected response(0x0). @473" }),
        Cell ("pulled_during_busy_end_phase", "fault busy end").pulled (Pull::whileEndIsBusy).answerTimeOuts (0, 1).traces ({ "Progress Count(" }),

        // Pulled and plugged back in at once: the controller forgets the update it was given.
        Cell ("replugged_while_checking_for_knob_reports").pulled (Pull::whileCheckingForStreamAndPlugBack).endsEitherWay().streamTimeOuts (0, 1).modeTimeOuts (0, 15).answerTimeOuts (0, 3).thenUpdateAgain(),
        Cell ("replugged_during_mode_switch", "fault unplug mode count=1").pulled (Pull::andPlugBack).endsEitherWay().modeTimeOuts (0, 15).answerTimeOuts (0, 3).thenUpdateAgain(),
        Cell ("replugged_in_middle_of_record", "fault unplug " + middle + " count=1").pulled (Pull::andPlugBack).answerTimeOuts (0, 2).thenUpdateAgain(),

        // Wrong codes (the simulator's choice of a code that is wrong at that step).
        Cell ("wrong_code_to_first_mode_request", "fault wrong mode count=1").completes().traces ({ "unexpected response(0xf8).", "succeeded to change to Update mode." }),
        Cell ("wrong_code_to_every_mode_request", "fault wrong mode").traces ({ "retry error" }),
        Cell ("wrong_code_to_information_report", "fault wrong info"),
        Cell ("wrong_code_to_start_report", "fault wrong start:" + R)
            .traces ({ "unexpected response(0xf7). @430", "unexpected response(0xfa). @473" }),
        Cell ("wrong_code_to_data_block", "fault wrong " + middle).traces ({ "unexpected response(0xfe). @420" }),
        Cell ("wrong_code_to_last_block", "fault wrong " + last).traces ({ "unexpected response(0xf9). @409" }),
        Cell ("wrong_code_to_end_report", "fault wrong end count=1").traces ({ "unexpected response(0xf8). @473" }),
        // The controller has stored everything when its completion answer goes wrong: the
        // tool cannot know, and says the update failed.
        Cell ("wrong_code_to_completion", "fault wrong write:" + std::to_string (writesBeforeEnd + 3)).failsThoughStored().traces ({ "Progress Count(", "unexpected response(0xf8). @473" }),

        // Silence.
        Cell ("silence_to_first_mode_request", "fault silence mode count=1").completes().modeTimeOuts (1).traces ({ "unexpected response(0x1).", "succeeded to change to Update mode." }),
        Cell ("silence_to_every_mode_request", "fault silence mode").modeTimeOuts (15).traces ({ "retry error" }),
        Cell ("silence_to_information_report", "fault silence info").answerTimeOuts (1),
        Cell ("silence_to_start_report", "fault silence start:" + R).answerTimeOuts (1).traces ({ noAnswer + "359" }),
        Cell ("silence_to_data_block", "fault silence " + middle).answerTimeOuts (1).traces ({ noAnswer + "386" }),
        Cell ("silence_to_last_block", "fault silence " + last).answerTimeOuts (1).traces ({ noAnswer + "386" }),
        Cell ("silence_to_end_report", "fault silence end count=1").answerTimeOuts (1).traces ({ noAnswer + "458" }),

        // A late answer: within the time-out, and after it, when it comes among the busy
        // answers to the end reports (twenty of them here).
        Cell ("late_answer_within_time_out", "fault slow " + middle + " ms=" + std::to_string (answerMs * 2 / 3)).completes(),
        Cell ("late_answer_after_time_out", "fault slow " + middle + " ms=" + std::to_string (answerMs + 100) + "; busy-answers 2 20")
            .answerTimeOuts (1)
            .traces ({ noAnswer + "386" }),

        // Oversized answers: every answer at that step is longer than any input buffer; what
        // fits holds the right answer, so the update goes through.
        Cell ("oversized_answer_to_mode_request", "fault oversized mode size=300").completes(),
        Cell ("oversized_answer_to_information_report", "fault oversized info size=320").completes(),
        Cell ("oversized_answers_to_start_reports", "fault oversized start size=1000").completes(),
        Cell ("oversized_answers_to_data_blocks", "fault oversized data size=4096").completes(),
        Cell ("oversized_answers_to_last_blocks", "fault oversized last size=300").completes(),
        Cell ("oversized_answers_to_end_reports", "fault oversized end size=512").completes(),
        Cell ("oversized_knob_reports", "fault oversized stream size=300").completes(),

        // Garbage: the answer arrives as random bytes that are no answer of the protocol.
        Cell ("garbage_to_mode_request").garble (0xF4).completes().modeTimeOuts (1).traces ({ "succeeded to change to Update mode." }),
        Cell ("garbage_to_information_report").garble (0xF0).answerTimeOuts (1),
        Cell ("garbage_to_start_report").garble (0xF1, faultRecord).answerTimeOuts (1).traces ({ noAnswer + "359" }),
        Cell ("garbage_to_data_block").garble (0xF3, faultRecord, 2).answerTimeOuts (1).traces ({ noAnswer + "386" }),
        // Busy answers that come together reach the worker as one, the garbage behind them:
        // the wait for the block or the one between busy answers runs out.
        Cell ("garbage_to_last_block").garble (0xF3, faultRecord, faultRecordBlocks).answerTimeOuts (1).traces ({ noAnswer }),
        Cell ("garbage_to_end_report").garble (0xF2).answerTimeOuts (1).traces ({ noAnswer + "458" }),

        // Input announced that is not there (its report read already, or lost): an input
        // message with nothing to read comes before the answer, which is a little late.
        Cell ("empty_input_message_before_information_answer", "fault slow info ms=40")
            .emptyMessageAfter (0xF0)
            .completes(),
        Cell ("empty_input_message_before_data_block_answer", "fault slow " + middle + " ms=40")
            .emptyMessageAfter (0xF3, faultRecord, 2)
            .completes(),
    };
}

/** 64 random bytes, the same for a cell on every run; byte 0 is neither 0 (a device that
    came or went) nor 0xF6 or above, where the controller's answer codes lie. */
std::array<std::uint8_t, 64> garbageFor (const std::string& cellName)
{
    std::uint32_t seed = 2166136261u;
    for (char ch : cellName)
        seed = (seed ^ (std::uint8_t) ch) * 16777619u;

    std::mt19937 random (seed);
    std::array<std::uint8_t, 64> bytes {};
    for (auto& b : bytes)
        b = (std::uint8_t) (random() & 0xFF);
    while (bytes[0] == 0 || bytes[0] >= 0xF6)
        bytes[0] = (std::uint8_t) (random() & 0xFF);
    return bytes;
}

} // namespace

class FaultInjectionCell : public WholeUpdateFixture, public ::testing::WithParamInterface<Cell>
{
protected:
    /** What the test does on the message thread while the session runs. */
    std::function<void (MainComponent&)> pullFor (const Cell& cell)
    {
        auto done = std::make_shared<bool> (false);
        auto answerIsBusy = [] (MainComponent& ui) { return MainComponentProbe::answerCopy (ui)[0] == 0xF7; };

        switch (cell.pull)
        {
            case Pull::whileCheckingForStream:
            case Pull::whileCheckingForStreamAndPlugBack:
            {
                const bool plugBack = cell.pull == Pull::whileCheckingForStreamAndPlugBack;
                return [done, plugBack] (MainComponent& ui) {
                    if (*done || MainComponentProbe::screenState (ui) != Updating)
                        return;
                    *done = sim().detach() == 1;
                    if (plugBack)
                        sim().attach();
                };
            }
            case Pull::whileLastBlockIsBusy:
                return [done, answerIsBusy] (MainComponent& ui) {
                    if (! *done && sim().writeCount() >= writesThrough (faultRecord, faultRecordBlocks) && answerIsBusy (ui))
                        *done = sim().detach() == 1;
                };
            case Pull::whileEndIsBusy:
                return [done, answerIsBusy] (MainComponent& ui) {
                    if (! *done && sim().writeCount() >= writesBeforeEnd + 2 && answerIsBusy (ui))
                        *done = sim().detach() == 1;
                };
            case Pull::andPlugBack:
                return [done] (MainComponent&) {
                    if (! *done && sim().isAttached() == 0)
                        *done = sim().attach() >= 0;
                };
            case Pull::none:
                break;
        }
        return {};
    }
};

TEST_P (FaultInjectionCell, EndsInTimeAndNeverClaimsAnUpdateTheControllerDoesNotHold)
{
    const auto& cell = GetParam();

    if (cell.lineCommand != 0)
    {
        SimulatedKrv7000::Spoiler spoiler;
        spoiler.command = cell.lineCommand;
        spoiler.record = cell.lineRecord;
        spoiler.block = cell.lineBlock;
        spoiler.bytes = garbageFor (cell.name);
        spoiler.emptyMessage = cell.emptyMessage;
        sim().spoilOnce (spoiler);
        DeviceLibrary::useInstead (&sim().noisyApi);
    }
    else
    {
        DeviceLibrary::useInstead (&sim().api);
    }

    juce::StringArray commands;
    commands.addTokens (cell.faults, ";", {});
    for (const auto& c : commands)
    {
        if (c.trim().isNotEmpty())
        {
            ASSERT_EQ (sim().command (c.trim().toRawUTF8()), 1) << c;
        }
    }

    const int lowerMs = cell.minStreamTimeOuts * streamingMs + cell.minModeTimeOuts * modeAnswerMs
                        + cell.minAnswerTimeOuts * answerMs;
    const int boundMs = workMs + cell.maxStreamTimeOuts * streamingMs + cell.maxModeTimeOuts * modeAnswerMs
                        + cell.maxAnswerTimeOuts * answerMs;

    const auto run = runTool (boundMs + 3000, pullFor (cell));
    const auto held = holding();
    const int version = sim().getVersion();

    std::printf ("[   CELL   ] %-40s %-14s controller holds %-15s version %d.%02d  %5.0f ms  | %s\n",
                 cell.name.c_str(), stateName (run.state), held.text.c_str(), version / 100, version % 100, run.ms,
                 lastLines (run.trace, 2).c_str());
    RecordProperty ("outcome", stateName (run.state));
    RecordProperty ("held", held.text);
    RecordProperty ("ms", (int) run.ms);

    ASSERT_TRUE (run.ended) << "no final screen " << run.ms << " ms after Start; the trace:\n"
                            << run.trace;
    SCOPED_TRACE (juce::String::formatted ("the last answer taken: 0x%02x 0x%02x", run.lastCode, run.lastValue).toStdString());
    EXPECT_LE (run.ms, boundMs) << "longer than its time-outs allow";
    EXPECT_GE (run.ms, lowerMs - 20) << "it gave up before its time-outs ran out";
    if (cell.lineCommand != 0)
    {
        EXPECT_TRUE (sim().answerWasSpoilt()) << "the line never reached the answer";
    }

    // The rule of every cell: success only with exactly the file's records on the controller.
    if (run.state == UpdateComplete)
    {
        EXPECT_TRUE (held.exactlyTheFile) << "UpdateComplete, but the controller holds " << held.text;
        EXPECT_EQ (version, newVersion);
        EXPECT_EQ (sim().updateCount(), 1);
    }

    switch (cell.expected)
    {
        case Outcome::complete:
            EXPECT_EQ (run.state, UpdateComplete) << run.trace;
            EXPECT_NE (run.trace.find ("HID_UPDATE_ANS_COMPLETE(0xfc, 100). @467"), std::string::npos) << run.trace;
            break;
        case Outcome::failed:
            EXPECT_EQ (run.state, UpdateFailed) << run.trace;
            EXPECT_TRUE (held.nothing) << "the controller holds " << held.text;
            EXPECT_EQ (version, oldVersion);
            break;
        case Outcome::failedThoughStored:
            EXPECT_EQ (run.state, UpdateFailed) << run.trace;
            EXPECT_TRUE (held.exactlyTheFile) << "the controller holds " << held.text;
            EXPECT_EQ (version, newVersion);
            break;
        case Outcome::either:
            EXPECT_TRUE (run.state == UpdateComplete || run.state == UpdateFailed) << stateName (run.state);
            if (run.state == UpdateFailed)
            {
                EXPECT_TRUE (held.nothing) << "the controller holds " << held.text;
            }
            break;
    }

    for (const auto& line : cell.trace)
        EXPECT_NE (run.trace.find (line), std::string::npos) << "no \"" << line << "\" in the trace:\n"
                                                             << run.trace;

    if (cell.updateAgain && run.state == UpdateFailed)
    {
        // The user starts the tool again: the controller, back in its normal mode, takes the update.
        sim().command ("clear");
        component.reset();
        ASSERT_EQ (sim().isAttached(), 1);

        const auto again = runTool (workMs + 3000, {});
        const auto heldAfter = holding();
        std::printf ("[   CELL   ] %-40s %-14s controller holds %-15s version %d.%02d  %5.0f ms  | second run\n",
                     cell.name.c_str(), stateName (again.state), heldAfter.text.c_str(), sim().getVersion() / 100,
                     sim().getVersion() % 100, again.ms);

        ASSERT_TRUE (again.ended) << again.trace;
        EXPECT_LE (again.ms, workMs);
        EXPECT_EQ (again.state, UpdateComplete) << again.trace;
        EXPECT_TRUE (heldAfter.exactlyTheFile) << heldAfter.text;
        EXPECT_EQ (sim().getVersion(), newVersion);
    }
}

INSTANTIATE_TEST_SUITE_P (FaultInjection, FaultInjectionCell, ::testing::ValuesIn (cells()),
                          [] (const ::testing::TestParamInfo<Cell>& info) { return info.param.name; });

// The simulator itself: a run of the tool that stops while the controller streams leaves
// reports unread whose messages will never come. The next run must not read them in
// place of the reports its own messages announce.
TEST (FaultInjectionController, InputLeftUnreadWhenTheLibraryStopsIsGoneWhenItStartsAgain)
{
    using namespace wholeupdate;
    auto& sim = SimulatedKrv7000::get();
    ASSERT_TRUE (sim.loaded) << sim.problem;
    for (auto* name : simVariables)
        unsetenv (name);
    sim.reset();

    // A host that does not read: the knob reports pile up.
    WNDCLASSA windowClass {};
    windowClass.lpfnWndProc = &DefWindowProcA;
    windowClass.hInstance = GetModuleHandleA (nullptr);
    windowClass.lpszClassName = "KRV_IDLE_HOST";
    RegisterClassA (&windowClass);
    HWND window = CreateWindowExA (0, "KRV_IDLE_HOST", "", 0, 0, 0, 10, 10, nullptr, nullptr, windowClass.hInstance, nullptr);
    ASSERT_NE (window, nullptr);
    sim.api.setCallback (window, HID_MSG_INPUT, HID_MSG_ARRIVED, HID_MSG_REMOVED);
    sim.api.start();
    int numbers[128] {};
    ASSERT_EQ (sim.api.enumHidNumbers (numbers), 1);
    const int hid = numbers[0];
    testsupport::pumpFor (60);
    sim.api.stop();

    sim.command ("stream off");
    sim.api.start();
    unsigned char buffer[256] {};
    int length = (int) sizeof (buffer);
    EXPECT_EQ (sim.api.input (hid, buffer, &length), 0);
    EXPECT_EQ (length, 0) << "a report from before the stop";
    sim.api.stop();
    sim.api.setCallback (nullptr, 0, 0, 0);
    testsupport::pumpFor (5);
    DestroyWindow (window);
    UnregisterClassA ("KRV_IDLE_HOST", windowClass.hInstance);
    sim.reset();
}
