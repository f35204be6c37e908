// The updater controller's state machine, driven through the real MainComponent on the
// real message loop with a scripted device library.
#include "MainComponentProbe.h"
#include "ScriptedDevice.h"
#include "TestSupport.h"

#include "update/UpdateFileBuilder.h"
#include "update/UpdateFileLocation.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>

namespace
{
constexpr int krv7000 = 7;

std::vector<UpdateRecordSpec> smallRecords()
{
    std::vector<UpdateRecordSpec> records (12);
    for (size_t i = 0; i < records.size(); ++i)
        records[i].data.assign (10 + i, static_cast<std::uint8_t> (i));
    return records;
}

class Controller : public ::testing::Test
{
protected:
    void SetUp() override
    {
        folder = juce::File::createTempFile ("krv-controller");
        folder.createDirectory();
        UpdateFileLocation::setFolderForTesting (folder);
    }

    void TearDown() override
    {
        ui.reset();
        testsupport::pumpFor (10);
        UpdateFileLocation::setFolderForTesting ({});
        folder.deleteRecursively();
    }

    void writeUpdateFile (bool valid = true)
    {
        auto bytes = buildUpdateFile (103, smallRecords());
        if (! valid)
            bytes[75] ^= 0xFF; // a data byte of record 0: its CRC no longer matches
        folder.getChildFile ("KRV-7000_UP.upd").replaceWithData (bytes.data(), bytes.size());
    }

    void create()
    {
        ui = std::make_unique<MainComponent>();
        MainComponentProbe::onQuit (*ui, [this] { ++quits; });
    }

    int state() const { return MainComponentProbe::screenState (*ui); }
    int version() const { return MainComponentProbe::currentFirmwareVersion (*ui); }
    void clickOk() { MainComponentProbe::click (*ui, MainComponentProbe::okButton (*ui)); }
    void clickCancel() { MainComponentProbe::click (*ui, MainComponentProbe::cancelButton (*ui)); }
    void settle() { testsupport::pumpFor (30); }

    bool reaches (int wanted, int timeoutMs = 3000)
    {
        return testsupport::pumpUntil ([&] { return state() == wanted; }, timeoutMs);
    }

    ScriptedDevice device;
    juce::File folder;
    std::unique_ptr<MainComponent> ui;
    int quits = 0;
};
} // namespace

TEST_F (Controller, LanguageScreenOkFollowsTheControllerFoundAtStart)
{
    writeUpdateFile();
    device.plugIn (3, krv7000, 102, false);
    create();
    ASSERT_EQ (MainComponentProbe::updateFileValid (*ui), 1);
    EXPECT_EQ (state(), SelectLanguage);
    EXPECT_EQ (version(), -1); // nothing is decided before OK

    clickOk();
    EXPECT_EQ (state(), ReadyToUpdate);
    EXPECT_EQ (version(), 102);
}

TEST_F (Controller, LanguageScreenOkWithoutControllerShowsNotFoundThenFollowsAttachAndDetach)
{
    writeUpdateFile();
    create();
    clickOk();
    EXPECT_EQ (state(), DeviceNotFound);
    EXPECT_EQ (version(), -1);

    device.plugIn (5, krv7000, 101);
    ASSERT_TRUE (reaches (ReadyToUpdate));
    EXPECT_EQ (version(), 101);

    device.unplug (5);
    ASSERT_TRUE (reaches (DeviceNotFound));
    EXPECT_EQ (version(), -1);

    // Another detach on the not-found screen only recomposes it.
    ui->deviceDetached();
    settle();
    EXPECT_EQ (state(), DeviceNotFound);
}

TEST_F (Controller, AttachAndDetachOnTheLanguageScreenOnlyTrackTheVersion)
{
    writeUpdateFile();
    create();
    device.plugIn (1, krv7000, 104);
    ASSERT_TRUE (testsupport::pumpUntil ([&] { return version() == 104; }));
    settle();
    EXPECT_EQ (state(), SelectLanguage);

    device.unplug (1);
    ASSERT_TRUE (testsupport::pumpUntil ([&] { return version() == -1; }));
    device.plugIn (2, krv7000, 105);
    ASSERT_TRUE (testsupport::pumpUntil ([&] { return version() == 105; }));
    settle();
    EXPECT_EQ (state(), SelectLanguage);

    clickOk();
    EXPECT_EQ (state(), ReadyToUpdate);
    EXPECT_EQ (version(), 105);
}

TEST_F (Controller, ReadyScreenFollowsTheControllerAndItsReplacement)
{
    writeUpdateFile();
    device.plugIn (1, krv7000, 101, false);
    device.plugIn (2, krv7000, 102, false);
    create();
    clickOk();
    ASSERT_EQ (state(), ReadyToUpdate);
    EXPECT_EQ (version(), 101); // the first listed wins

    // The current one leaves while the other is present: it takes over.
    device.unplug (1);
    ASSERT_TRUE (testsupport::pumpUntil ([&] { return version() == 102; }));
    EXPECT_EQ (state(), ReadyToUpdate);

    device.unplug (2);
    ASSERT_TRUE (reaches (DeviceNotFound));
}

TEST_F (Controller, RequestsMadeBeforeTheMessageLoopRunsCollapseIntoTheLast)
{
    writeUpdateFile();
    device.plugIn (1, krv7000, 101, false);
    create();
    clickOk();
    ASSERT_EQ (state(), ReadyToUpdate);

    ui->deviceDetached();
    ui->deviceAttached();
    ui->deviceDetached();
    EXPECT_EQ (MainComponentProbe::requestedState (*ui), DeviceNotFound);
    settle();
    EXPECT_EQ (state(), DeviceNotFound);
    EXPECT_EQ (MainComponentProbe::requestedState (*ui), -1);
}

TEST_F (Controller, CancelAndCloseEndTheProgramAtOnceWhenNoWorkerRuns)
{
    writeUpdateFile();
    create();
    clickCancel();
    EXPECT_EQ (quits, 1);

    ui.reset();
    quits = 0;
    create();
    clickOk(); // not found
    clickCancel();
    EXPECT_EQ (quits, 1);

    ui.reset();
    quits = 0;
    device.plugIn (1, krv7000, 101, false);
    create();
    clickOk(); // ready
    ASSERT_EQ (state(), ReadyToUpdate);
    clickCancel();
    EXPECT_EQ (quits, 1);
    EXPECT_FALSE (MainComponentProbe::workerRunning (*ui));
}

TEST_F (Controller, FileErrorScreenRefusesEveryRequestAndItsOkEndsTheProgram)
{
    writeUpdateFile (false);
    device.plugIn (1, 0, 101, false); // without a valid file, type 0 is what the link accepts
    create();
    ASSERT_EQ (MainComponentProbe::updateFileValid (*ui), 0);
    EXPECT_EQ (MainComponentProbe::newFirmwareVersion (*ui), -1);
    EXPECT_EQ (MainComponentProbe::updatePayloadSize (*ui), 0);

    clickOk();
    EXPECT_EQ (state(), ReadyToUpdate); // shown as the file-error screen
    EXPECT_FALSE (MainComponentProbe::okButton (*ui)->isVisible());
    EXPECT_TRUE (MainComponentProbe::cancelButton (*ui)->isVisible());

    device.unplug (1);
    settle();
    ui->deviceAttached();
    settle();
    EXPECT_EQ (state(), ReadyToUpdate);

    clickOk(); // not visible, but a click reaching it must not start anything
    EXPECT_FALSE (MainComponentProbe::workerRunning (*ui));
    EXPECT_EQ (quits, 1);

    clickCancel();
    EXPECT_EQ (quits, 2);
}

TEST_F (Controller, MissingUpdateFileShowsTheFileErrorScreenWithOrWithoutController)
{
    create();
    EXPECT_EQ (MainComponentProbe::updateFileValid (*ui), 0);
    clickOk();
    EXPECT_EQ (state(), DeviceNotFound);
    device.plugIn (1, 0, 100);
    settle();
    EXPECT_EQ (state(), DeviceNotFound); // refused: the file-error screen stays
    EXPECT_FALSE (MainComponentProbe::okButton (*ui)->isVisible());
}

TEST_F (Controller, FinalStatesRefuseRequestsAndTheirOkEndsTheProgram)
{
    writeUpdateFile();
    device.plugIn (1, krv7000, 101, false);
    create();
    clickOk();

    for (int finalState : { UpdateComplete, UpdateFailed })
    {
        MainComponentProbe::forceScreenState (*ui, finalState);
        ui->deviceDetached();
        settle();
        EXPECT_EQ (state(), finalState);
        ui->deviceAttached();
        settle();
        EXPECT_EQ (state(), finalState);
        ui->setScreenState (SelectLanguage);
        EXPECT_EQ (state(), finalState);
    }

    clickCancel();
    EXPECT_EQ (quits, 1);
}

TEST_F (Controller, DeviceNewsDuringAnUpdateWakesTheWorkerWithACleanAnswer)
{
    writeUpdateFile();
    device.plugIn (1, krv7000, 101, false);
    create();
    clickOk();
    MainComponentProbe::forceScreenState (*ui, Updating);

    device.sendInput (1, { 0xF9, 42, 7, 7 });
    ASSERT_TRUE (testsupport::pumpUntil ([&] { return MainComponentProbe::answerBuffer (*ui)[0] == 0xF9; }));

    ui->deviceDetached();
    // The answer that came first is taken first; the removal then reads as a clean answer.
    MainComponentProbe::takeAnswer (*ui);
    EXPECT_EQ (MainComponentProbe::answerCopy (*ui)[0], 0xF9);
    MainComponentProbe::takeAnswer (*ui);
    const auto answer = MainComponentProbe::answerCopy (*ui);
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ (answer[(size_t) i], 0) << "byte " << i;
    EXPECT_EQ (MainComponentProbe::requestedState (*ui), -1); // no request during an update
    settle();
    EXPECT_EQ (state(), Updating);
}

// Two asynchronous updates can meet one request: the first applies it, the second finds
// none and must leave the screen as it is.
TEST_F (Controller, AnAsyncUpdateWithoutARequestChangesNothing)
{
    writeUpdateFile();
    device.plugIn (1, krv7000, 101, false);
    create();
    clickOk();
    ASSERT_EQ (state(), ReadyToUpdate);

    ui->deviceAttached();
    ui->handleAsyncUpdate();
    ui->handleAsyncUpdate();
    settle();
    EXPECT_EQ (state(), ReadyToUpdate);
    EXPECT_TRUE (MainComponentProbe::okButton (*ui)->isVisible());
}

// A removal (and an arrival) already queued when Start is pressed: the screen belongs to
// the session from Start on. A controller that is back answers the session, which then
// completes; one that stays away fails it, without the not-found screen in between.
TEST_F (Controller, DeviceNewsQueuedBeforeStartLeaveTheScreenToTheSession)
{
    writeUpdateFile();
    device.onWrite ([this] (int hid, const ScriptedDevice::Report& r) {
        // Every record of the file fits in one block.
        static const std::map<int, std::vector<std::uint8_t>> answers = {
            { 0xF4, { 0xF6, 1 } }, { 0xF0, { 0xF8, 0 } }, { 0xF1, { 0xF9, 0 } }, { 0xF3, { 0xFE, 50 } }, { 0xF2, { 0xFC, 100 } }
        };
        if (auto it = answers.find (r[0]); it != answers.end())
            device.sendInput (hid, it->second);
        return 1;
    });
    MainComponent::SessionTimings fast;
    fast.streamingMs = 1000; // the news reaches the session while it listens for knob reports
    fast.modeAnswerMs = fast.answerMs = fast.blockAnswerMs = fast.busyAnswerMs = 100;
    fast.pauseMs = 5;

    for (const bool plugBack : { false, true })
    {
        SCOPED_TRACE (plugBack ? "removed and back" : "removed");
        device.plugIn (1, krv7000, 101, false);
        create();
        MainComponentProbe::setTimings (*ui, fast);
        clickOk();
        ASSERT_EQ (state(), ReadyToUpdate);

        device.unplug (1);
        if (plugBack)
            device.plugIn (1, krv7000, 101);
        clickOk();                // Start, before the messages are delivered
        juce::Thread::sleep (50); // the worker asks for Updating while they still wait

        bool notFound = false;
        ASSERT_TRUE (testsupport::pumpUntil ([&] {
            notFound = notFound || state() == DeviceNotFound;
            return ! MainComponentProbe::workerRunning (*ui) && (state() == UpdateComplete || state() == UpdateFailed);
        }));
        EXPECT_FALSE (notFound);
        EXPECT_EQ (state(), plugBack ? UpdateComplete : UpdateFailed);

        ui.reset();
        device.unplug (1, false);
    }
}

TEST_F (Controller, InputIsCopiedInEveryStateAndCutAt256Bytes)
{
    writeUpdateFile();
    device.plugIn (1, krv7000, 101, false);
    create();

    std::vector<std::uint8_t> longReport (300);
    for (size_t i = 0; i < longReport.size(); ++i)
        longReport[i] = static_cast<std::uint8_t> (i + 1);
    device.sendInput (1, longReport, 300);
    ASSERT_TRUE (testsupport::pumpUntil ([&] { return MainComponentProbe::answerBuffer (*ui)[0] == 1; }));
    EXPECT_EQ (MainComponentProbe::answerBuffer (*ui)[255], 0); // the library copied 256, the last is 256 & 0xFF

    // A shorter report overwrites only its own bytes.
    device.sendInput (1, { 0xAA, 0xBB });
    ASSERT_TRUE (testsupport::pumpUntil ([&] { return MainComponentProbe::answerBuffer (*ui)[0] == 0xAA; }));
    EXPECT_EQ (MainComponentProbe::answerBuffer (*ui)[1], 0xBB);
    EXPECT_EQ (MainComponentProbe::answerBuffer (*ui)[2], 3);
}

TEST_F (Controller, StartRunsTheWorkerOnceAndItsResultIsFinal)
{
    writeUpdateFile();
    device.plugIn (1, krv7000, 101, false);
    create();
    MainComponent::SessionTimings fast;
    fast.streamingMs = 20;
    fast.modeAnswerMs = fast.answerMs = fast.blockAnswerMs = fast.busyAnswerMs = 50;
    fast.pauseMs = 5;
    MainComponentProbe::setTimings (*ui, fast);

    clickOk();
    ASSERT_EQ (state(), ReadyToUpdate);
    clickOk(); // Start: the silent device never answers the information report
    clickOk(); // a second press before Updating is applied starts nothing new
    ASSERT_TRUE (reaches (UpdateFailed));
    ASSERT_TRUE (testsupport::pumpUntil ([&] { return ! MainComponentProbe::workerRunning (*ui); }));

    const auto infoReports = device.writes();
    ASSERT_EQ (infoReports.size(), 1u); // one session: one information report, no end report
    EXPECT_EQ (infoReports[0][0], 0xF0);

    ui->deviceAttached();
    settle();
    EXPECT_EQ (state(), UpdateFailed);
    EXPECT_EQ (quits, 0);

    // Even back on the ready screen, a finished session never runs again.
    MainComponentProbe::forceScreenState (*ui, ReadyToUpdate);
    clickOk();
    testsupport::pumpFor (200);
    EXPECT_EQ (device.writeCount(), 1);
    EXPECT_FALSE (MainComponentProbe::workerRunning (*ui));
}

TEST_F (Controller, CloseRightAfterStartWaitsForTheWorkerAndEndsPromptly)
{
    writeUpdateFile();
    device.plugIn (1, krv7000, 101, false);
    create(); // the product's own time-outs: seconds per wait
    clickOk();
    ASSERT_EQ (state(), ReadyToUpdate);

    const auto started = juce::Time::getMillisecondCounterHiRes();
    clickOk();     // Start
    clickCancel(); // Close, before Updating was applied
    const auto took = juce::Time::getMillisecondCounterHiRes() - started;

    EXPECT_FALSE (MainComponentProbe::workerRunning (*ui));
    EXPECT_EQ (quits, 1);
    EXPECT_LT (took, 1500.0);
}

TEST_F (Controller, DestroyingTheScreenDuringAnUpdateStopsTheWorkerFirst)
{
    writeUpdateFile();
    device.plugIn (1, krv7000, 101, false);
    // The device answers the mode request and the information report, then goes quiet
    // in the middle of the first record.
    device.onWrite ([this] (int hid, const ScriptedDevice::Report& r) {
        if (r[0] == 0xF4)
            device.sendInput (hid, { 0xF6, 1 });
        else if (r[0] == 0xF0)
            device.sendInput (hid, { 0xF8, 0 });
        else if (r[0] == 0xF1)
            device.sendInput (hid, { 0xF9, 0 });
        return 1;
    });
    create();
    clickOk();
    clickOk();
    ASSERT_TRUE (reaches (Updating));
    ASSERT_TRUE (testsupport::pumpUntil ([&] { return device.writeCount() >= 3; }));

    // As at a system quit: the window goes while the worker waits up to minutes.
    const auto started = juce::Time::getMillisecondCounterHiRes();
    ui.reset();
    EXPECT_LT (juce::Time::getMillisecondCounterHiRes() - started, 1500.0);
    EXPECT_EQ (quits, 0);
}
