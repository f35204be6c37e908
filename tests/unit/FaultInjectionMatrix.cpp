// Fault injection end to end: the real MainComponent (HidCtrl, HidUtil, the window
// messages and the JUCE message loop) runs whole updates against the simulated KRV-7000
// loaded in this process, which is pulled out, falls silent or answers wrongly at each
// step. Whatever happens, the session must end within its time-outs, and it may only
// report success when the controller holds exactly the records the file sends.

#include "MainComponentProbe.h"
#include "SimulatedKrv7000.h"
#include "TraceCapture.h"
#include "TestSupport.h"

#include "ui/MainComponent.h"
#include "update/UpdateFileBuilder.h"
#include "update/UpdateFileLocation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace
{
using Bytes = std::vector<std::uint8_t>;

// --- the update file ------------------------------------------------------------------------
// Five records are sent: 1 (three blocks), 2 (one block), 3 (empty), 5 (four blocks) and 12
// (one block); the others stay behind. Faults inside a record are aimed at record 5, so that
// records before it have already been written to the controller.
constexpr int newVersion = 103;
constexpr int oldVersion = 102; // the simulator's
constexpr int faultRecord = 5;
constexpr int faultRecordBlocks = 4;

const std::vector<UpdateRecordSpec>& fileRecords()
{
    static const std::vector<UpdateRecordSpec> records = []
    {
        const size_t sizes[12] = { 130, 62, 0, 63, 200, 20, 5, 5, 5, 5, 5, 10 };
        const bool sent[12] = { true, true, true, false, true, false, false, false, false, false, false, true };
        std::vector<UpdateRecordSpec> r;
        for (size_t i = 0; i < 12; ++i)
        {
            Bytes data (sizes[i]);
            for (size_t k = 0; k < data.size(); ++k)
                data[k] = (std::uint8_t) (k * 11 + i * 37 + 3);
            r.push_back ({ data, sent[i] });
        }
        return r;
    }();
    return records;
}

int blocksOf (const UpdateRecordSpec& r) { return (int) ((r.data.size() + 61) / 62); }

/** Reports the controller has been written once the given block of a record is out (block 0:
    its start report); with record 13, once the records are done. The mode request counts. */
int writesThrough (int record, int block)
{
    int writes = 2; // mode request and information report
    for (int r = 1; r <= 12 && r <= record; ++r)
    {
        const auto& wanted = fileRecords()[(size_t) r - 1];
        if (! wanted.transfer)
            continue;
        writes += r < record ? 1 + blocksOf (wanted) : 1 + block;
    }
    return writes;
}

const int writesBeforeEnd = writesThrough (13, 0);

// Time-outs of the session, shrunk; the simulator answers at once.
constexpr int streamingMs = 300;
constexpr int modeAnswerMs = 200;
constexpr int answerMs = 300; // also for a data block and between busy answers
// What a session needs besides its time-outs, with room for a loaded machine.
constexpr int workMs = 2500;

// --- the cells ----------------------------------------------------------------------------------
enum class Outcome
{
    complete,
    failed,
    failedThoughStored, // the controller took the update, but its last word was lost
    either // the order of a removal, an arrival and the answers decides; only the rule holds
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
    std::string faults;          // simulator commands armed before Start, one per ';'
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

    Cell& completes() { expected = Outcome::complete; return *this; }
    Cell& failsThoughStored() { expected = Outcome::failedThoughStored; return *this; }
    Cell& endsEitherWay() { expected = Outcome::either; return *this; }
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
    Cell& pulled (Pull p) { pull = p; return *this; }
    Cell& streamTimeOuts (int low, int high) { minStreamTimeOuts = low; maxStreamTimeOuts = high; return *this; }
    Cell& modeTimeOuts (int low, int high) { minModeTimeOuts = low; maxModeTimeOuts = high; return *this; }
    Cell& modeTimeOuts (int n) { return modeTimeOuts (n, n); }
    Cell& answerTimeOuts (int low, int high) { minAnswerTimeOuts = low; maxAnswerTimeOuts = high; return *this; }
    Cell& answerTimeOuts (int n) { return answerTimeOuts (n, n); }
    Cell& traces (std::vector<std::string> lines) { trace = std::move (lines); return *this; }
    Cell& thenUpdateAgain() { updateAgain = true; return *this; }
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
        Cell ("pulled_while_checking_for_knob_reports").pulled (Pull::whileCheckingForStream)
            .streamTimeOuts (0, 1).modeTimeOuts (0, 14).answerTimeOuts (0, 1),
        Cell ("pulled_during_mode_switch", "fault unplug mode").modeTimeOuts (14).traces ({ "unexpected response(0x0).", "retry error" }),
        Cell ("pulled_after_information_report", "fault unplug info"),
        Cell ("pulled_after_start_report", "fault unplug start:" + R).answerTimeOuts (2)
            .traces ({ "unexpected response(0x0). @430", noAnswer + "359", noAnswer + "458" }),
        Cell ("pulled_in_middle_of_record", "fault unplug " + middle).answerTimeOuts (1)
            .traces ({ "unexpected response(0x0). @420", noAnswer + "458" }),
        Cell ("pulled_during_busy_answers", "fault busy " + last + " ms=10").pulled (Pull::whileLastBlockIsBusy)
            .answerTimeOuts (0, 1).traces ({ "unexpected response(0x0). @409" }),
        Cell ("pulled_at_end_report", "fault unplug end count=1").traces ({ "unexpected response(0x0). @473" }),
        Cell ("pulled_during_busy_end_phase", "fault busy end").pulled (Pull::whileEndIsBusy).answerTimeOuts (0, 1)
            .traces ({ "Progress Count(" }),

        // Pulled and plugged back in at once: the controller forgets the update it was given.
        Cell ("replugged_while_checking_for_knob_reports").pulled (Pull::whileCheckingForStreamAndPlugBack).endsEitherWay()
            .streamTimeOuts (0, 1).modeTimeOuts (0, 15).answerTimeOuts (0, 3).thenUpdateAgain(),
        Cell ("replugged_during_mode_switch", "fault unplug mode count=1").pulled (Pull::andPlugBack).endsEitherWay()
            .modeTimeOuts (0, 15).answerTimeOuts (0, 3).thenUpdateAgain(),
        Cell ("replugged_in_middle_of_record", "fault unplug " + middle + " count=1").pulled (Pull::andPlugBack)
            .answerTimeOuts (0, 2).thenUpdateAgain(),

        // Wrong codes (the simulator's choice of a code that is wrong at that step).
        Cell ("wrong_code_to_first_mode_request", "fault wrong mode count=1").completes()
            .traces ({ "unexpected response(0xf8).", "succeeded to change to Update mode." }),
        Cell ("wrong_code_to_every_mode_request", "fault wrong mode").traces ({ "retry error" }),
        Cell ("wrong_code_to_information_report", "fault wrong info"),
        Cell ("wrong_code_to_start_report", "fault wrong start:" + R)
            .traces ({ "unexpected response(0xf7). @430", "unexpected response(0xfa). @473" }),
        Cell ("wrong_code_to_data_block", "fault wrong " + middle).traces ({ "unexpected response(0xfe). @420" }),
        Cell ("wrong_code_to_last_block", "fault wrong " + last).traces ({ "unexpected response(0xf9). @409" }),
        Cell ("wrong_code_to_end_report", "fault wrong end count=1").traces ({ "unexpected response(0xf8). @473" }),
        // The controller has stored everything when its completion answer goes wrong: the
        // tool cannot know, and says the update failed.
        Cell ("wrong_code_to_completion", "fault wrong write:" + std::to_string (writesBeforeEnd + 3)).failsThoughStored()
            .traces ({ "Progress Count(", "unexpected response(0xf8). @473" }),

        // Silence.
        Cell ("silence_to_first_mode_request", "fault silence mode count=1").completes().modeTimeOuts (1)
            .traces ({ "unexpected response(0x1).", "succeeded to change to Update mode." }),
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
            .answerTimeOuts (1).traces ({ noAnswer + "386" }),

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
        Cell ("garbage_to_mode_request").garble (0xF4).completes().modeTimeOuts (1)
            .traces ({ "succeeded to change to Update mode." }),
        Cell ("garbage_to_information_report").garble (0xF0).answerTimeOuts (1),
        Cell ("garbage_to_start_report").garble (0xF1, faultRecord).answerTimeOuts (1).traces ({ noAnswer + "359" }),
        Cell ("garbage_to_data_block").garble (0xF3, faultRecord, 2).answerTimeOuts (1).traces ({ noAnswer + "386" }),
        // Busy answers that come together reach the worker as one, the garbage behind them:
        // the wait for the block or the one between busy answers runs out.
        Cell ("garbage_to_last_block").garble (0xF3, faultRecord, faultRecordBlocks).answerTimeOuts (1)
            .traces ({ noAnswer }),
        Cell ("garbage_to_end_report").garble (0xF2).answerTimeOuts (1).traces ({ noAnswer + "458" }),

        // Input announced that is not there (its report read already, or lost): an input
        // message with nothing to read comes before the answer, which is a little late.
        Cell ("empty_input_message_before_information_answer", "fault slow info ms=40")
            .emptyMessageAfter (0xF0).completes(),
        Cell ("empty_input_message_before_data_block_answer", "fault slow " + middle + " ms=40")
            .emptyMessageAfter (0xF3, faultRecord, 2).completes(),
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

const char* const simVariables[] = { "KRV_SIM_LOG", "KRV_SIM_CONTROL", "KRV_SIM_ATTACHED", "KRV_SIM_VERSION",
                                     "KRV_SIM_STATE", "KRV_SIM_DELAY_MS", "KRV_SIM_SYNC", "KRV_SIM_FRAMES",
                                     "KRV_SIM_STREAM", "KRV_SIM_COMMANDS", "KRV_SIM_LOG_STREAM" };

const char* stateName (int state)
{
    switch (state)
    {
        case SelectLanguage: return "SelectLanguage";
        case DeviceNotFound: return "DeviceNotFound";
        case ReadyToUpdate:  return "ReadyToUpdate";
        case Updating:       return "Updating";
        case UpdateComplete: return "UpdateComplete";
        case UpdateFailed:   return "UpdateFailed";
        default:             return "?";
    }
}
} // namespace

class FaultInjectionCell : public ::testing::TestWithParam<Cell>
{
protected:
    static SimulatedKrv7000& sim() { return SimulatedKrv7000::get(); }

    void SetUp() override
    {
        ASSERT_TRUE (sim().loaded) << "cannot load " << KRV_SIM_LIBRARY << ": " << sim().problem;
        for (auto* name : simVariables)
            unsetenv (name);
        sim().reset(); // plugged in, firmware 1.02, streaming knob reports, no faults
        sim().quietLine();

        folder = juce::File::createTempFile ("krv-faults");
        ASSERT_TRUE (folder.createDirectory());
        const auto file = buildUpdateFile (newVersion, fileRecords());
        ASSERT_TRUE (folder.getChildFile ("KRV-7000_UP.upd").replaceWithData (file.data(), file.size()));
        UpdateFileLocation::setFolderForTesting (folder);
        sim().setLogFile (folder.getChildFile ("controller.log").getFullPathName().toRawUTF8());

        timings.streamingMs = streamingMs;
        timings.modeAnswerMs = modeAnswerMs;
        timings.answerMs = answerMs;
        timings.blockAnswerMs = answerMs;
        timings.busyAnswerMs = answerMs;
        timings.pauseMs = 5;
    }

    void TearDown() override
    {
        if (sim().loaded)
            sim().command ("clear");
        component.reset(); // stops a session that is still running
        DeviceLibrary::useForTesting (nullptr);
        if (sim().loaded)
        {
            sim().quietLine();
            sim().reset();
            sim().setLogFile (nullptr);
        }
        if (HasFailure())
            std::printf ("The controller's log:\n%s\n", folder.getChildFile ("controller.log").loadFileAsString().toRawUTF8());
        UpdateFileLocation::setFolderForTesting ({});
        folder.deleteRecursively();
    }

    struct Holding
    {
        bool exactlyTheFile = true; // every record sent, byte for byte, and no other
        bool nothing = true;
        std::string text;
    };

    Holding holding()
    {
        Holding h;
        for (int r = 1; r <= 12; ++r)
        {
            const auto& wanted = fileRecords()[(size_t) r - 1];
            std::vector<unsigned char> held (4096);
            const int length = sim().storedRecord (r, held.data(), (int) held.size());
            if (length < 0)
            {
                h.exactlyTheFile = h.exactlyTheFile && ! wanted.transfer;
                continue;
            }

            h.nothing = false;
            const bool same = wanted.transfer && length == (int) wanted.data.size()
                              && std::equal (wanted.data.begin(), wanted.data.end(), held.begin());
            h.exactlyTheFile = h.exactlyTheFile && same;
            h.text += (h.text.empty() ? "" : ",") + std::to_string (r) + (same ? "" : "(differs)");
        }
        if (h.nothing)
            h.text = "nothing";
        return h;
    }

    struct Run
    {
        bool ended = false;
        int state = -1;
        double ms = 0.0;
        std::string trace;
        int lastCode = -1, lastValue = -1; // the last answer the session took
    };

    /** One run of the tool: language screen, OK, Start, until a final screen and the worker
        has ended (or the time is up), then the screen's button to quit. */
    Run runTool (int limitMs, const std::function<void (MainComponent&)>& whileRunning)
    {
        Run run;
        component = std::make_unique<MainComponent>();
        auto& ui = *component;
        MainComponentProbe::setTimings (ui, timings);
        MainComponentProbe::onQuit (ui, [this] { ++quits; });

        MainComponentProbe::click (ui, MainComponentProbe::okButton (ui));
        EXPECT_EQ (MainComponentProbe::screenState (ui), ReadyToUpdate) << "the controller is plugged in";
        EXPECT_EQ (MainComponentProbe::currentFirmwareVersion (ui), sim().getVersion());
        if (MainComponentProbe::screenState (ui) != ReadyToUpdate)
            return run;

        TraceCapture capture; // the session's debug trace
        const auto started = juce::Time::getMillisecondCounterHiRes();
        MainComponentProbe::click (ui, MainComponentProbe::okButton (ui));

        run.ended = testsupport::pumpUntil ([&]
        {
            if (whileRunning)
                whileRunning (ui);
            const int state = MainComponentProbe::screenState (ui);
            return (state == UpdateComplete || state == UpdateFailed) && ! MainComponentProbe::workerRunning (ui);
        }, limitMs);

        run.ms = juce::Time::getMillisecondCounterHiRes() - started;
        run.state = MainComponentProbe::screenState (ui);
        run.trace = capture.finish();
        const auto last = MainComponentProbe::answerCopy (ui);
        run.lastCode = last[0];
        run.lastValue = last[1];

        if (run.ended)
        {
            const int quitsBefore = quits;
            const auto before = juce::Time::getMillisecondCounterHiRes();
            MainComponentProbe::click (ui, MainComponentProbe::cancelButton (ui));
            EXPECT_EQ (quits, quitsBefore + 1) << "the final screen's button quits";
            EXPECT_LT (juce::Time::getMillisecondCounterHiRes() - before, 1000.0);
        }
        return run;
    }

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
                return [done, plugBack] (MainComponent& ui)
                {
                    if (*done || MainComponentProbe::screenState (ui) != Updating)
                        return;
                    *done = sim().detach() == 1;
                    if (plugBack)
                        sim().attach();
                };
            }
            case Pull::whileLastBlockIsBusy:
                return [done, answerIsBusy] (MainComponent& ui)
                {
                    if (! *done && sim().writeCount() >= writesThrough (faultRecord, faultRecordBlocks) && answerIsBusy (ui))
                        *done = sim().detach() == 1;
                };
            case Pull::whileEndIsBusy:
                return [done, answerIsBusy] (MainComponent& ui)
                {
                    if (! *done && sim().writeCount() >= writesBeforeEnd + 2 && answerIsBusy (ui))
                        *done = sim().detach() == 1;
                };
            case Pull::andPlugBack:
                return [done] (MainComponent&)
                {
                    if (! *done && sim().isAttached() == 0)
                        *done = sim().attach() >= 0;
                };
            case Pull::none:
                break;
        }
        return {};
    }

    static std::string lastLines (const std::string& trace, int count)
    {
        auto lines = TraceCapture::lines (trace);
        std::string text;
        for (size_t i = lines.size() > (size_t) count ? lines.size() - (size_t) count : 0; i < lines.size(); ++i)
            text += (text.empty() ? "" : " / ") + lines[i];
        return text;
    }

    juce::File folder;
    MainComponent::SessionTimings timings;
    std::unique_ptr<MainComponent> component;
    int quits = 0;
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
        DeviceLibrary::useForTesting (&sim().noisyApi);
    }
    else
    {
        DeviceLibrary::useForTesting (&sim().api);
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

    ASSERT_TRUE (run.ended) << "no final screen " << run.ms << " ms after Start; the trace:\n" << run.trace;
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
        EXPECT_NE (run.trace.find (line), std::string::npos) << "no \"" << line << "\" in the trace:\n" << run.trace;

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
