// The update session: MainComponent's worker thread and its helpers.
#include "ui/MainComponent.h"

#include "device/HidCtrl.h"
#include "platform/Win32.h"
#include "text/TxtLoader.h"
#include "update/UpdateFile.h"
#include "update/UpdateFileLocation.h"
#include "update/UpdateReports.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace
{
const char* const updateFileName = "KRV-7000_UP.upd";
constexpr int modeAttempts = 15;
constexpr int streamingSignals = 10;

// One line of the trace at a time; only the worker writes it.
char traceLine[1024];

juce::String modelName (int modelIndex)
{
    return TxtLoader::getInstance()->getText (modelIndex + 1);
}

// The record's data read afresh from the file. A file that cannot be opened or that no
// longer holds the whole record fails: sending a block of stale 0xFF bytes as firmware
// would be worse than stopping.
bool readRecordData (const juce::File& file, juce::int64 offset, std::uint32_t length,
                     juce::HeapBlock<std::uint8_t>& data)
{
    const auto padded = UpdateReports::blockCount (length) * (std::size_t) UpdateReports::blockSize;
    data.malloc (juce::jmax<std::size_t> (padded, 1));
    if (data == nullptr)
        return false;

    std::memset (data.get(), 0xFF, padded);

    if (! file.existsAsFile())
        return false;

    juce::FileInputStream stream (file);
    if (! stream.openedOk() || ! stream.setPosition (offset))
        return false;

    if (length > 0 && stream.read (data.get(), (int) length) != (int) length)
        return false;

    return true;
}
} // namespace

void MainComponent::run()
{
    requestState (Updating);
    publishProgress (0.0);

    if (updatePayloadSize == 0)
    {
        requestState (UpdateFailed);
        return;
    }

    if (switchToUpdateMode() != 0)
    {
        requestState (UpdateFailed);
        return;
    }

    // A controller that went away after this point may have lost what it was sent, even
    // when it comes back and takes the rest.
    deviceChangeTaken = false;

    writeReport (UpdateReports::buildInfoReport (newFirmwareVersion, updateRecords).data());
    if (! waitForAnswer (timings.answerMs) || answer[0] != HID_UPDATE_ANS_INFO_OK)
    {
        requestState (UpdateFailed);
        return;
    }

    bool succeeded = transferRecords();

    // The end report goes out after a failure among the records too.
    if (! endUpdate())
        succeeded = false;

    if (deviceChangeTaken)
        succeeded = false;

    requestState (succeeded ? UpdateComplete : UpdateFailed);
}

bool MainComponent::transferRecords()
{
    const auto file = updateFileValid == 1 ? UpdateFileLocation::file (updateFileName) : juce::File();
    juce::int64 dataOffset = (juce::int64) (UpdateFileLayout::headerSize + UpdateFileLayout::recordHeaderSize);

    for (int j = 0; j < updateRecordCount; ++j)
    {
        const auto& record = updateRecords[j];
        juce::HeapBlock<std::uint8_t> data;

        if (! readRecordData (file, dataOffset, record.length, data))
            return false;

        dataOffset += (juce::int64) record.length + (juce::int64) UpdateFileLayout::recordFrameSize;

        if (! record.transfer)
        {
            debugTrace ("Skip to update %d.\n", j);
            continue;
        }

        writeReport (UpdateReports::buildStartReport (j + 1, record.length).data());

        if (! waitForAnswer (timings.answerMs))
        {
            debugTrace ("no response from %s. @%d\n", modelName (updateFileValid).toRawUTF8(), 359);
            return false;
        }

        if (answer[0] != HID_UPDATE_ANS_RCV_OK)
        {
            // The device declined this record; the others still go.
            debugTrace ("unexpected response(0x%x). @%d\n", answer[0], 430);
            continue;
        }

        if (! transferBlocks (j + 1, data.get(), record.length))
            return false;
    }

    return true;
}

bool MainComponent::transferBlocks (int recordNumber, const std::uint8_t* data, std::uint32_t length)
{
    const auto blocks = UpdateReports::blockCount (length);

    for (std::size_t k = 0; k < blocks; ++k)
    {
        writeReport (UpdateReports::buildDataBlock (recordNumber, data, length, k).data());

        if (! waitForAnswer (timings.blockAnswerMs))
        {
            debugTrace ("no response from %s. @%d\n", modelName (updateFileValid).toRawUTF8(), 386);
            return false;
        }

        if (waitWhileBusy() != 0)
            return false;

        const int code = answer[0];
        const int value = answer[1];

        if (k < blocks - 1)
        {
            if (code != HID_UPDATE_ANS_RCV_OK)
            {
                debugTrace ("unexpected response(0x%x). @%d\n", code, 420);
                return false;
            }

            if (value != lastPercent)
                debugTrace ("HID_UPDATE_ANS_RCV_OK(0x%x, %d). @%d\n", HID_UPDATE_ANS_RCV_OK, value, 416);
        }
        else if (code == HID_UPDATE_ANS_DL_OK)
        {
            if (value != lastPercent)
                debugTrace ("HID_UPDATE_ANS_DL_OK(0x%x, %d). @%d\n", HID_UPDATE_ANS_DL_OK, value, 402);
        }
        else if (code == HID_UPDATE_ANS_REQ_NEXT)
        {
            debugTrace ("HID_UPDATE_ANS_REQ_NEXT(0x%x, %d). @%d\n", HID_UPDATE_ANS_REQ_NEXT, value, 407);
        }
        else
        {
            debugTrace ("unexpected response(0x%x). @%d\n", code, 409);
            return false;
        }

        lastPercent = value;
        publishProgress (lastPercent / 100.0);
    }

    return true;
}

bool MainComponent::endUpdate()
{
    const auto report = UpdateReports::buildEndReport();

    for (;;)
    {
        writeReport (report.data());

        if (! waitForAnswer (timings.answerMs))
        {
            debugTrace ("no response from %s. @%d\n", modelName (updateFileValid).toRawUTF8(), 458);
            return false;
        }

        const int code = answer[0];
        const int value = answer[1];

        if (code == HID_UPDATE_ANS_COMPLETE)
        {
            publishProgress (value / 100.0);
            debugTrace ("HID_UPDATE_ANS_COMPLETE(0x%x, %d). @%d\n", HID_UPDATE_ANS_COMPLETE, value, 467);
            wait (timings.pauseMs);
            return true;
        }

        if (code != HID_UPDATE_ANS_PRGRESS_CHK)
        {
            debugTrace ("unexpected response(0x%x). @%d\n", code, 473);
            return false;
        }

        // Busy: ask again after a pause, for as long as the device keeps answering. A stop
        // request cuts the pause short and the next wait ends at once.
        const double fraction = value / 100.0;
        publishProgress (fraction);
        debugTrace ("Progress Count(%lf). @%d\n", fraction, 471);
        wait (timings.pauseMs);
    }
}

int MainComponent::switchToUpdateMode()
{
    if (! isDeviceStreaming())
    {
        if (threadShouldExit())
            return -1;

        debugTrace ("%s has been already Update mode.\n", modelName (updateFileValid).toRawUTF8());
        return 0;
    }

    for (int attempt = 0; attempt < modeAttempts; ++attempt)
    {
        writeReport (UpdateReports::buildModeReport().data());
        debugTrace ("send request for update.\n");

        // A time-out is not treated apart: whatever the buffer holds is the answer.
        if (! waitForAnswer (timings.modeAnswerMs))
        {
            if (threadShouldExit())
                return -1;

            takeAnswer();
        }

        const int code = answer[0];
        const int value = answer[1];

        if (code == HID_UPDATE_ANS_MODE)
        {
            if (value == 1)
            {
                debugTrace ("succeeded to change to Update mode.\n");
                return 0;
            }

            if (value != 0)
            {
                debugTrace ("failed to change to Update mode by unexpected response(0x%0x).\n", value);
                return -1;
            }

            debugTrace ("failed to change to Update mode.\n");
        }
        else
        {
            debugTrace ("unexpected response(0x%0x).\n", code);
        }
    }

    debugTrace ("retry error\n");
    return -1;
}

bool MainComponent::isDeviceStreaming()
{
    // A device in normal mode sends input reports unasked; one in update mode is silent.
    for (int i = 0; i < streamingSignals; ++i)
        if (waitForInput (timings.streamingMs) == Wake::nothing)
            return false;

    return true;
}

int MainComponent::waitWhileBusy()
{
    if (answer[0] != HID_UPDATE_ANS_PRGRESS_CHK)
        return 0;

    do
    {
        const int value = answer[1];
        if (value != lastPercent)
            debugTrace ("HID_UPDATE_ANS_PRGRESS_CHK(0x%x, %d). @%d\n", answer[0], value, 489);

        lastPercent = value;
        publishProgress (value / 100.0);

        if (! waitForAnswer (timings.busyAnswerMs))
        {
            debugTrace ("no response from %s. @%d\n", modelName (updateFileValid).toRawUTF8(), 497);
            return -1;
        }
    } while (answer[0] == HID_UPDATE_ANS_PRGRESS_CHK);

    return 0;
}

void MainComponent::debugTrace (const char* format, ...)
{
    std::memset (traceLine, 0, sizeof (traceLine));

    va_list args;
    va_start (args, format);
    std::vsnprintf (traceLine, sizeof (traceLine), format, args);
    va_end (args);

    OutputDebugStringA (traceLine);
}

void MainComponent::requestState (int state)
{
    const juce::ScopedLock sl (stateLock);
    requestedState = state;
    triggerAsyncUpdate();
}

MainComponent::Wake MainComponent::waitForInput (int timeoutMs)
{
    const auto deadline = juce::Time::getMillisecondCounterHiRes() + timeoutMs;

    for (;;)
    {
        // Once the thread is asked to stop, no wait holds it: the StopWaker has signalled the
        // event, and every later wait returns at once as unanswered.
        if (threadShouldExit())
            return Wake::nothing;

        const auto left = deadline - juce::Time::getMillisecondCounterHiRes();
        if (! answerEvent.wait (juce::jmax (0, (int) std::ceil (left))))
            return Wake::nothing;

        answerEvent.reset();

        if (threadShouldExit())
            return Wake::nothing;

        // A signal whose report was already copied on an earlier wake brings nothing new.
        const auto wake = takeAnswer();
        if (wake != Wake::nothing)
            return wake;
    }
}

bool MainComponent::waitForAnswer (int timeoutMs)
{
    // A controller that was streaming knob reports may still have some on their way when
    // it is asked something: those are not answers (their codes are below the protocol's),
    // so the wait goes on for the time left. A device change or quit still ends the wait,
    // read as answer code 0.
    const auto deadline = juce::Time::getMillisecondCounterHiRes() + timeoutMs;

    for (;;)
    {
        const auto left = deadline - juce::Time::getMillisecondCounterHiRes();
        const auto wake = waitForInput (juce::jmax (0, (int) std::ceil (left)));

        if (wake == Wake::nothing)
            return false;

        if (wake == Wake::deviceChange || answer[0] >= HID_UPDATE_ANS_MODE)
            return true;
    }
}

MainComponent::Wake MainComponent::takeAnswer()
{
    const juce::ScopedLock sl (answerLock);

    if (answersWritten != answersTaken)
    {
        std::memcpy (answer, answerBuffer, sizeof (answer));
        answersTaken = answersWritten;

        // A device change behind this answer must still end the next wait.
        if (wakesSent != wakesTaken)
            answerEvent.signal();

        return Wake::report;
    }

    if (wakesSent != wakesTaken)
    {
        // Every report that came before has been taken: the buffer now reads as cleared, as
        // a later time-out of the mode switch examines it.
        wakesTaken = wakesSent;
        std::memset (answerBuffer, 0, sizeof (answerBuffer));
        std::memset (answer, 0, sizeof (answer));
        deviceChangeTaken = true;
        return Wake::deviceChange;
    }

    std::memcpy (answer, answerBuffer, sizeof (answer));
    return Wake::nothing;
}

void MainComponent::publishProgress (double value)
{
    sharedProgress.store (value);
}

void MainComponent::writeReport (const std::uint8_t* report)
{
    if (hidCtrl != nullptr)
        hidCtrl->write (report, UpdateReports::reportSize);
}
