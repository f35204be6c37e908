#include "update/UpdateSession.h"

#include "platform/Win32.h"
#include "text/TxtLoader.h"
#include "update/UpdateFile.h"
#include "update/UpdateReports.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace
{
constexpr int modeAttempts = 15;
constexpr int streamingSignals = 10;

// One line of the trace at a time; only the worker writes it.
char traceLine[1024];

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

UpdateSession::UpdateSession (Host& h, const Update& u, const Timings& t)
    : host (h), update (u), timings (t)
{
}

void UpdateSession::run()
{
    host.requestState (Screen::updating);
    host.setProgress (0.0);

    if (update.updatePayloadSize == 0)
    {
        host.requestState (Screen::failed);
        return;
    }

    if (switchToUpdateMode() != 0)
    {
        host.requestState (Screen::failed);
        return;
    }

    // A controller that went away after this point may have lost what it was sent, even
    // when it comes back and takes the rest.
    deviceChangeTaken = false;

    host.writeReport (UpdateReports::buildInfoReport (update.newFirmwareVersion, update.records).data());
    if (! waitForAnswer (timings.answerMs) || host.answer()[0] != HID_UPDATE_ANS_INFO_OK)
    {
        host.requestState (Screen::failed);
        return;
    }

    bool succeeded = transferRecords();

    // The end report goes out after a failure among the records too.
    if (! endUpdate())
        succeeded = false;

    if (deviceChangeTaken)
        succeeded = false;

    host.requestState (succeeded ? Screen::complete : Screen::failed);
}

bool UpdateSession::transferRecords()
{
    const auto& file = update.file;
    juce::int64 dataOffset = (juce::int64) (UpdateFileLayout::headerSize + UpdateFileLayout::recordHeaderSize);

    for (int j = 0; j < updateRecordCount; ++j)
    {
        const auto& record = update.records[j];
        juce::HeapBlock<std::uint8_t> data;

        if (! readRecordData (file, dataOffset, record.length, data))
            return false;

        dataOffset += (juce::int64) record.length + (juce::int64) UpdateFileLayout::recordFrameSize;

        if (! record.transfer)
        {
            debugTrace ("Skip to update %d.\n", j);
            continue;
        }

        host.writeReport (UpdateReports::buildStartReport (j + 1, record.length).data());

        if (! waitForAnswer (timings.answerMs))
        {
            debugTrace ("no response from %s. @%d\n", modelName().toRawUTF8(), 359);
            return false;
        }

        if (host.answer()[0] != HID_UPDATE_ANS_RCV_OK)
        {
            // The device declined this record; the others still go.
            debugTrace ("unexpected response(0x%x). @%d\n", host.answer()[0], 430);
            continue;
        }

        if (! transferBlocks (j + 1, data.get(), record.length))
            return false;
    }

    return true;
}

bool UpdateSession::transferBlocks (int recordNumber, const std::uint8_t* data, std::uint32_t length)
{
    const auto blocks = UpdateReports::blockCount (length);

    for (std::size_t k = 0; k < blocks; ++k)
    {
        host.writeReport (UpdateReports::buildDataBlock (recordNumber, data, length, k).data());

        if (! waitForAnswer (timings.blockAnswerMs))
        {
            debugTrace ("no response from %s. @%d\n", modelName().toRawUTF8(), 386);
            return false;
        }

        if (waitWhileBusy() != 0)
            return false;

        const int code = host.answer()[0];
        const int value = host.answer()[1];

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
        host.setProgress (lastPercent / 100.0);
    }

    return true;
}

bool UpdateSession::endUpdate()
{
    const auto report = UpdateReports::buildEndReport();
    const auto removalsBefore = host.removalCount();
    const bool leftBefore = deviceChangeTaken;

    for (;;)
    {
        host.writeReport (report.data());

        if (! waitForAnswer (timings.answerMs))
        {
            debugTrace ("no response from %s. @%d\n", modelName().toRawUTF8(), 458);
            return false;
        }

        const int code = host.answer()[0];
        const int value = host.answer()[1];

        if (code == HID_UPDATE_ANS_COMPLETE)
        {
            host.setProgress (value / 100.0);
            debugTrace ("HID_UPDATE_ANS_COMPLETE(0x%x, %d). @%d\n", HID_UPDATE_ANS_COMPLETE, value, 467);
            host.pause (timings.pauseMs);
            return true;
        }

        if (code != HID_UPDATE_ANS_PRGRESS_CHK)
        {
            debugTrace ("unexpected response(0x%x). @%d\n", code, 473);

            // A controller boots its new firmware right after it has answered: when it left
            // and its answer was lost with it, the version it comes back with tells.
            if (code == 0 && ! leftBefore && ! host.stopRequested() && host.removalCount() != removalsBefore
                && cameBackUpdated())
            {
                deviceChangeTaken = false;
                return true;
            }
            return false;
        }

        // Busy: ask again after a pause, for as long as the device keeps answering. A stop
        // request cuts the pause short and the next wait ends at once.
        const double fraction = value / 100.0;
        host.setProgress (fraction);
        debugTrace ("Progress Count(%lf). @%d\n", fraction, 471);
        host.pause (timings.pauseMs);
    }
}

bool UpdateSession::cameBackUpdated()
{
    const int version = host.waitForArrival (host.removalCount(), timings.returnMs);

    if (version < 0)
    {
        debugTrace ("%s did not come back within %d ms: update failed. @%d\n", modelName().toRawUTF8(), timings.returnMs, 476);
        return false;
    }

    const bool updated = version == update.newFirmwareVersion;
    debugTrace ("%s came back with version %d, update file version %d: update %s. @%d\n",
                modelName().toRawUTF8(),
                version,
                update.newFirmwareVersion,
                updated ? "complete" : "failed",
                476);
    return updated;
}

int UpdateSession::switchToUpdateMode()
{
    if (! isDeviceStreaming())
    {
        if (host.stopRequested())
            return -1;

        debugTrace ("%s has been already Update mode.\n", modelName().toRawUTF8());
        return 0;
    }

    for (int attempt = 0; attempt < modeAttempts; ++attempt)
    {
        host.writeReport (UpdateReports::buildModeReport().data());
        debugTrace ("send request for update.\n");

        // A time-out is not treated apart: whatever the buffer holds is the answer.
        if (! waitForAnswer (timings.modeAnswerMs))
        {
            if (host.stopRequested())
                return -1;

            host.takeAnswer();
        }

        const int code = host.answer()[0];
        const int value = host.answer()[1];

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

bool UpdateSession::isDeviceStreaming()
{
    // A device in normal mode sends input reports unasked; one in update mode is silent.
    for (int i = 0; i < streamingSignals; ++i)
        if (waitForInput (timings.streamingMs) == Wake::nothing)
            return false;

    return true;
}

int UpdateSession::waitWhileBusy()
{
    if (host.answer()[0] != HID_UPDATE_ANS_PRGRESS_CHK)
        return 0;

    do
    {
        const int value = host.answer()[1];
        if (value != lastPercent)
            debugTrace ("HID_UPDATE_ANS_PRGRESS_CHK(0x%x, %d). @%d\n", host.answer()[0], value, 489);

        lastPercent = value;
        host.setProgress (value / 100.0);

        if (! waitForAnswer (timings.busyAnswerMs))
        {
            debugTrace ("no response from %s. @%d\n", modelName().toRawUTF8(), 497);
            return -1;
        }
    } while (host.answer()[0] == HID_UPDATE_ANS_PRGRESS_CHK);

    return 0;
}

void UpdateSession::debugTrace (const char* format, ...)
{
    std::memset (traceLine, 0, sizeof (traceLine));

    va_list args;
    va_start (args, format);
    std::vsnprintf (traceLine, sizeof (traceLine), format, args);
    va_end (args);

    OutputDebugStringA (traceLine);
}

UpdateSession::Wake UpdateSession::waitForInput (int timeoutMs)
{
    const auto wake = host.waitForInput (timeoutMs);
    deviceChangeTaken = deviceChangeTaken || wake == Wake::deviceChange;
    return wake;
}

bool UpdateSession::waitForAnswer (int timeoutMs)
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

        if (wake == Wake::deviceChange || host.answer()[0] >= HID_UPDATE_ANS_MODE)
            return true;
    }
}

juce::String UpdateSession::modelName() const
{
    return TxtLoader::getInstance()->getText (update.updateFileValid + 1);
}
