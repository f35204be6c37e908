#pragma once

// Whole updates through the real MainComponent, HidCtrl, HidUtil, window messages and
// JUCE message loop against the simulated KRV-7000 loaded in this process, with the
// session's time-outs shrunk. The controller streams knob reports as in normal mode.

#include "MainComponentProbe.h"
#include "SimulatedKrv7000.h"
#include "TestSupport.h"
#include "TraceCapture.h"

#include "ui/MainComponent.h"
#include "update/UpdateFileBuilder.h"
#include "update/UpdateFileLocation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace wholeupdate
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

inline const std::vector<UpdateRecordSpec>& fileRecords()
{
    static const std::vector<UpdateRecordSpec> records = [] {
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

inline int blocksOf (const UpdateRecordSpec& r) { return (int) ((r.data.size() + 61) / 62); }

/** Reports the controller has been written once the given block of a record is out (block 0:
    its start report); with record 13, once the records are done. The mode request counts. */
inline int writesThrough (int record, int block)
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

inline const int writesBeforeEnd = writesThrough (13, 0);

/** Time-outs of the session, shrunk; the simulator answers at once. */
constexpr int streamingMs = 300;
constexpr int modeAnswerMs = 200;
constexpr int answerMs = 300; // also for a data block and between busy answers
/** What a session needs besides its time-outs, with room for a loaded machine. */
constexpr int workMs = 2500;

const char* const simVariables[] = { "KRV_SIM_LOG", "KRV_SIM_CONTROL", "KRV_SIM_ATTACHED", "KRV_SIM_VERSION",
                                     "KRV_SIM_STATE", "KRV_SIM_DELAY_MS", "KRV_SIM_SYNC", "KRV_SIM_FRAMES",
                                     "KRV_SIM_STREAM", "KRV_SIM_COMMANDS", "KRV_SIM_LOG_STREAM" };

inline const char* stateName (int state)
{
    switch (state)
    {
        case SelectLanguage: return "SelectLanguage";
        case DeviceNotFound: return "DeviceNotFound";
        case ReadyToUpdate: return "ReadyToUpdate";
        case Updating: return "Updating";
        case UpdateComplete: return "UpdateComplete";
        case UpdateFailed: return "UpdateFailed";
        default: return "?";
    }
}
class WholeUpdateFixture : public ::testing::Test
{
protected:
    static SimulatedKrv7000& sim() { return SimulatedKrv7000::get(); }

    void SetUp() override { prepare(); }
    void TearDown() override { cleanUp(); }

    /** A fresh controller and update-file folder: before each run of the tool. */
    void prepare()
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
        timings.returnMs = answerMs;
        timings.pauseMs = 5;
    }

    void cleanUp()
    {
        if (sim().loaded)
            sim().command ("clear");
        component.reset(); // stops a session that is still running
        DeviceLibrary::useInstead (nullptr);
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

        run.ended = testsupport::pumpUntil ([&] {
            if (whileRunning)
                whileRunning (ui);
            const int state = MainComponentProbe::screenState (ui);
            return (state == UpdateComplete || state == UpdateFailed) && ! MainComponentProbe::workerRunning (ui);
        },
                                            limitMs);

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
} // namespace wholeupdate

using wholeupdate::WholeUpdateFixture;
