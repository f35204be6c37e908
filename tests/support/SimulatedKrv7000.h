#pragma once

// The simulated KRV-7000 (build/sim/libfwbridge.so) loaded into the test process: its
// ten device-library functions as the product resolves them, and its SIM_* controls.
// Optionally a line between the two that turns one chosen answer into random bytes, as
// a noisy cable or a confused controller would deliver it, or that announces input
// that is not there.

#include "bridge/sim/SimControl.h"
#include "device/DeviceLibrary.h"
#include "platform/Win32.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <dlfcn.h>
#include <mutex>

class SimulatedKrv7000
{
public:
    /** The one simulator of the process (the library is a process-wide singleton). */
    static SimulatedKrv7000& get()
    {
        static SimulatedKrv7000 sim;
        return sim;
    }

    bool loaded = false;
    juce::String problem;
    FwBridgeApi api;      // the library's own functions
    FwBridgeApi noisyApi; // the same, with input passing through the noisy line

    SIM_Attach_t attach = nullptr;
    SIM_Detach_t detach = nullptr;
    SIM_IsAttached_t isAttached = nullptr;
    SIM_GetHidNumber_t hidNumber = nullptr;
    SIM_SetVersion_t setVersion = nullptr;
    SIM_GetVersion_t getVersion = nullptr;
    SIM_SetFault_t setFault = nullptr;
    SIM_ClearFaults_t clearFaults = nullptr;
    SIM_SetAnswerDelay_t setAnswerDelay = nullptr;
    SIM_SetStreaming_t setStreaming = nullptr;
    SIM_SetSynchronous_t setSynchronous = nullptr;
    SIM_SetFrameMode_t setFrameMode = nullptr;
    SIM_Command_t command = nullptr;
    SIM_IsInUpdateMode_t isInUpdateMode = nullptr;
    SIM_GetWriteCount_t writeCount = nullptr;
    SIM_GetUpdateCount_t updateCount = nullptr;
    SIM_GetStoredRecord_t storedRecord = nullptr;
    SIM_SetLogFile_t setLogFile = nullptr;
    SIM_Reset_t reset = nullptr;

    // --- the noisy line -----------------------------------------------------------------
    /** Which report's answer is spoilt: the first written report with this command code
        (and, when not 0, this record number and this block of the record, counted from
        1). Its final answer (the first protocol answer after it that is not a busy one;
        for the end report, its busy answer too) reaches the host as these bytes. */
    struct Spoiler
    {
        std::uint8_t command = 0;
        int record = 0;
        int block = 0;
        std::array<std::uint8_t, 64> bytes {};
        bool emptyMessage = false; // instead: once the report is out, an input message
                                   // comes with nothing to read; the answer is left alone
        bool leadingZero = false;  // instead: a report beginning with 0x00 (an idle knob
                                   // report) arrives just before the answer
    };

    void spoilOnce (const Spoiler& s)
    {
        std::lock_guard<std::mutex> g (lineLock);
        spoiler = s;
        armed = true;
        pending = false;
        spoilt = false;
        blocksOfRecord.fill (0);
    }

    void quietLine()
    {
        std::lock_guard<std::mutex> g (lineLock);
        armed = false;
        pending = false;
        zeroReportDue = false;
    }

    bool answerWasSpoilt()
    {
        std::lock_guard<std::mutex> g (lineLock);
        return spoilt;
    }

private:
    SimulatedKrv7000()
    {
        loaded = DeviceLibrary::load ({ KRV_SIM_LIBRARY }, api, problem);
        handle = dlopen (KRV_SIM_LIBRARY, RTLD_NOW | RTLD_LOCAL);
        loaded = loaded && handle != nullptr;
        resolve (attach, "SIM_Attach");
        resolve (detach, "SIM_Detach");
        resolve (isAttached, "SIM_IsAttached");
        resolve (hidNumber, "SIM_GetHidNumber");
        resolve (setVersion, "SIM_SetVersion");
        resolve (getVersion, "SIM_GetVersion");
        resolve (setFault, "SIM_SetFault");
        resolve (clearFaults, "SIM_ClearFaults");
        resolve (setAnswerDelay, "SIM_SetAnswerDelay");
        resolve (setStreaming, "SIM_SetStreaming");
        resolve (setSynchronous, "SIM_SetSynchronous");
        resolve (setFrameMode, "SIM_SetFrameMode");
        resolve (command, "SIM_Command");
        resolve (isInUpdateMode, "SIM_IsInUpdateMode");
        resolve (writeCount, "SIM_GetWriteCount");
        resolve (updateCount, "SIM_GetUpdateCount");
        resolve (storedRecord, "SIM_GetStoredRecord");
        resolve (setLogFile, "SIM_SetLogFile");
        resolve (reset, "SIM_Reset");

        noisyApi = api;
        noisyApi.setCallback = &noisySetCallback;
        noisyApi.write = &noisyWrite;
        noisyApi.input = &noisyInput;
    }

    template <typename Fn>
    void resolve (Fn& function, const char* name)
    {
        function = handle != nullptr ? reinterpret_cast<Fn> (dlsym (handle, name)) : nullptr;
        loaded = loaded && function != nullptr;
    }

    static int FWBRIDGE_CALL noisySetCallback (void* window, unsigned inputMessage, unsigned arrivalMessage, unsigned removalMessage)
    {
        auto& self = get();
        {
            std::lock_guard<std::mutex> g (self.lineLock);
            self.hostWindow = window;
            self.inputMessage = inputMessage;
        }
        return self.api.setCallback (window, inputMessage, arrivalMessage, removalMessage);
    }

    static int FWBRIDGE_CALL noisyWrite (int hidNumber, const unsigned char* data, int length)
    {
        auto& self = get();
        bool announce = false;
        {
            // Armed before the report goes out: the answer may be read before write returns.
            std::lock_guard<std::mutex> g (self.lineLock);
            if (self.armed && data != nullptr && length >= 2)
            {
                const int record = data[1];
                if (data[0] == 0xF1 && record < 13)
                    self.blocksOfRecord[(size_t) record] = 0;
                const int block = data[0] == 0xF3 && record < 13 ? ++self.blocksOfRecord[(size_t) record] : 0;

                const auto& s = self.spoiler;
                if (data[0] == s.command && (s.record == 0 || s.record == record) && (s.block == 0 || s.block == block))
                {
                    self.armed = false;
                    self.pending = ! s.emptyMessage && ! s.leadingZero;
                    self.zeroReportDue = s.leadingZero;
                    announce = s.emptyMessage;
                    // Announced before the report goes out, so it comes before the answer.
                    if (s.leadingZero && self.hostWindow != nullptr)
                        PostMessageA (self.hostWindow, self.inputMessage, (WPARAM) hidNumber, 0);
                }
            }
        }

        const int result = self.api.write (hidNumber, data, length);

        if (announce)
        {
            std::lock_guard<std::mutex> g (self.lineLock);
            self.spoilt = true;
            if (self.hostWindow != nullptr)
                PostMessageA (self.hostWindow, self.inputMessage, (WPARAM) hidNumber, 0);
        }
        return result;
    }

    static int FWBRIDGE_CALL noisyInput (int hidNumber, unsigned char* buffer, int* length)
    {
        auto& self = get();
        {
            std::lock_guard<std::mutex> g (self.lineLock);
            if (self.zeroReportDue && buffer != nullptr && length != nullptr && *length >= 64)
            {
                self.zeroReportDue = false;
                self.spoilt = true;
                std::memset (buffer, 0, 64);
                buffer[2] = 0x40; // a control at rest
                *length = 64;
                return 1;
            }
        }

        const int result = self.api.input (hidNumber, buffer, length);

        std::lock_guard<std::mutex> g (self.lineLock);
        // Unasked knob reports (codes below 0xF0) pass; so do busy answers, but for the end
        // report's, which is all the end report gets at first.
        if (self.pending && result != 0 && buffer != nullptr && length != nullptr && *length >= 1
            && buffer[0] >= 0xF0 && (buffer[0] != 0xF7 || self.spoiler.command == 0xF2))
        {
            const int room = *length < 64 ? *length : 64;
            std::memcpy (buffer, self.spoiler.bytes.data(), (size_t) room);
            self.pending = false;
            self.spoilt = true;
        }
        return result;
    }

    void* handle = nullptr;

    std::mutex lineLock;
    Spoiler spoiler;
    bool armed = false;
    bool pending = false;
    bool zeroReportDue = false;
    bool spoilt = false;
    std::array<int, 13> blocksOfRecord {};
    void* hostWindow = nullptr;
    unsigned inputMessage = 0;
};
