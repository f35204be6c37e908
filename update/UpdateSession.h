#pragma once

#include "update/UpdateRecordInfo.h"

#include <juce_core/juce_core.h>

#include <cstdint>

/** The firmware update: stop and wait, one 64-byte report at a time, each answered before
    the next goes. Runs on the worker thread; it reaches the screen and the controller only
    through its Host. */
class UpdateSession
{
public:
    /** Waits of the session, in milliseconds. The product always uses these values; only
        tests shorten them. */
    struct Timings
    {
        int streamingMs = 1000;
        int modeAnswerMs = 10000;
        int answerMs = 10000;
        int blockAnswerMs = 180000;
        int busyAnswerMs = 20000;
        int pauseMs = 100;
        int returnMs = 10000; // a controller that left after the end report, back again
    };

    /** What woke the worker: a report, a device change or quit (read as answer code 0), or
        nothing new (a time-out, or a signal whose report was taken on an earlier wake). */
    enum class Wake
    {
        nothing,
        report,
        deviceChange
    };

    /** The screens the session asks for. */
    enum class Screen
    {
        updating,
        complete,
        failed
    };

    /** What the session needs of the screen that runs it. */
    class Host
    {
    public:
        virtual ~Host() = default;

        /** Sends a 64-byte report to the controller. */
        virtual void writeReport (const std::uint8_t* report) = 0;

        /** Waits up to timeoutMs for input or a device change and takes it into answer(). */
        virtual Wake waitForInput (int timeoutMs) = 0;

        /** Takes what the answer buffer holds now into answer(), without waiting. */
        virtual Wake takeAnswer() = 0;

        /** The session's copy of the latest answer: 256 bytes, byte 0 the answer code. */
        virtual const std::uint8_t* answer() const = 0;

        virtual void requestState (Screen) = 0;
        virtual void setProgress (double fraction) = 0;

        /** Pauses; a request to stop cuts it short. */
        virtual void pause (int ms) = 0;
        virtual bool stopRequested() const = 0;

        /** How many times the controller has left so far. */
        virtual std::uint32_t removalCount() { return 0; }

        /** Waits up to timeoutMs for a controller to arrive after removal number `removal`
            and returns the firmware version it reports; -1 when none comes in time or a
            stop is requested. */
        virtual int waitForArrival (std::uint32_t removal, int timeoutMs)
        {
            juce::ignoreUnused (removal, timeoutMs);
            return -1;
        }
    };

    /** What the session sends: the update file's record table, version and payload size,
        and the file itself, read afresh for every record. */
    struct Update
    {
        const UpdateRecordInfo* records = nullptr; // updateRecordCount entries
        int newFirmwareVersion = -1;
        int updateFileValid = 0;
        int updatePayloadSize = 0;
        juce::File file;
    };

    UpdateSession (Host&, const Update&, const Timings&);

    /** The whole session; its outcome is the final screen state it requests. */
    void run();

    int switchToUpdateMode();
    bool isDeviceStreaming();
    int waitWhileBusy();
    [[gnu::format (printf, 2, 3)]] void debugTrace (const char* format, ...);

    double getLastPercent() const noexcept { return lastPercent; }

private:
    bool waitForAnswer (int timeoutMs);
    Wake waitForInput (int timeoutMs);
    bool transferRecords();
    bool transferBlocks (int recordNumber, const std::uint8_t* data, std::uint32_t length);
    bool endUpdate();
    bool cameBackUpdated();
    juce::String modelName() const;

    Host& host;
    Update update;
    Timings timings;
    double lastPercent = 0.0;       // the last percentage the controller reported
    bool deviceChangeTaken = false; // since the controller entered update mode

    JUCE_DECLARE_NON_COPYABLE (UpdateSession)
};
