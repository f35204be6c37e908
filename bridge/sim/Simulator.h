#pragma once

#include "../common/MessageTarget.h"
#include "../common/ReportQueue.h"
#include "ControlFile.h"
#include "FaultScript.h"
#include "Krv7000Model.h"
#include "SimCommands.h"
#include "SimEnvironment.h"
#include "SimLog.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <queue>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace krvsim
{
/** The simulated KRV-7000 behind the device library's functions: one controller that is
    plugged in and out on command, streams unasked input reports in normal mode, answers
    the update protocol (through Krv7000Model) on a thread of its own, after the delays
    and with the faults it is given, and logs every report. Simulator.cpp has the
    controller on the bus, SimEvents.cpp the timing of what it sends (events, frames, the
    device thread); every control is a command of SimCommands.cpp.
*/
class Simulator
{
public:
    static Simulator& instance();
    ~Simulator();

    /** The device library's functions. */
    int setCallback (void* window, unsigned inputMessage, unsigned arrivalMessage, unsigned removalMessage);
    int start();
    int stop();
    int enumerate (int* numbers);
    int deviceType (int hidNumber);
    int firmwareVersion (int typeCode, int* version, int count);
    int input (int hidNumber, unsigned char* buffer, int* length);
    int write (int hidNumber, const unsigned char* data, int length);

    /** Control, for tests and the control file: each runs a command of the table. */
    int attach();
    int detach();
    bool isAttached();
    int hidNumber();
    void setVersion (int version);
    int getVersion();
    bool command (const std::string& line, std::string& error);
    void clearFaults();
    void setAnswerDelay (int ms);
    void setStreaming (bool on);
    void setSynchronous (bool on);
    void setFrameMode (bool on);
    bool isInUpdateMode();
    int writeCount();
    int updateCount();
    int storedRecord (int recordNumber, unsigned char* buffer, int capacity);
    bool setLogFile (const std::string& path);
    void reset();

    static constexpr int typeCode = 7;
    static constexpr int streamPeriodMs = 10;
    static constexpr int reportsPerStreamPeriod = 3;

private:
    friend struct SimCommandRows;

    Simulator();

    using Clock = std::chrono::steady_clock;

    struct Event
    {
        enum Kind
        {
            deliver,  // an input report reaches the host
            busyTick, // an endless busy answer; report holds the withheld final answer
            leave,    // re-enumeration after an update: unplugged ...
            comeBack  // ... and back with the new version
        };

        Kind kind = deliver;
        Clock::time_point due;
        std::uint64_t order = 0;
        std::uint64_t generation = 0;
        Report report;
        std::string label;
        int intervalMs = 0;
        std::uint64_t faultEpoch = 0;
    };

    struct Later
    {
        bool operator() (const Event& a, const Event& b) const
        {
            return a.due > b.due || (a.due == b.due && a.order > b.order);
        }
    };

    bool control (const Words& words, CommandSource source, std::string& error, int* result = nullptr);
    bool control (const Words& words);
    void settleDeviceThread();
    void applyEnvironmentLocked (const SimEnvironment& env, bool atLoad);
    int attachLocked (bool announce);
    bool detachLocked (bool announce);
    void scheduleLocked (Event event, Clock::time_point due);
    void deliverLocked (const Report& report, const std::string& label);
    void postLocked (fwbridge::Event event, int hidNumber);
    void runEventLocked (Event& event);
    void streamLocked();
    void executePlanLocked (const Plan& plan, const Fault* fault);
    bool takeFaultLocked (const Step& step, Fault& fault);
    void writeStateLocked();
    void startDeviceThreadLocked();
    std::thread stopDeviceThreadLocked();

    void deviceLoop();

    std::mutex lock;
    std::condition_variable wake;
    fwbridge::MessageTarget target;
    SimLog log;
    Krv7000Model model;
    fwbridge::ReportQueue queue;
    /** Reports of a controller that has gone, already announced: the host may still read
        them (its last answer before a reset among them) under that controller's number.
    */
    fwbridge::ReportQueue departedQueue;
    int departedHidNumber = -1;
    std::priority_queue<Event, std::vector<Event>, Later> events;
    std::uint64_t eventOrder = 0;
    std::uint64_t generation = 0;
    std::set<std::int64_t> usedFrames;
    std::int64_t lastDeliveredFrame = -1;

    bool attached = false;
    int currentHidNumber = -1;
    int nextHidNumber = 0;
    int writes = 0;

    int answerDelayMs = 0;
    bool streaming = true;
    bool logStream = true;
    bool synchronous = false;
    bool frameMode = false;
    int reenumerateMs = 200;
    std::string statePath;
    std::string controlPath;

    std::vector<Fault> faults;
    int nextFaultId = 1;
    std::uint64_t faultEpoch = 0;

    Clock::time_point nextStreamTick;
    unsigned streamPhase = 0;

    bool started = false;
    bool deviceStop = false;
    std::thread deviceThread;

    ControlFileReader controlFile;
};
} // namespace krvsim
