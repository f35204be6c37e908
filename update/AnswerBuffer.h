#pragma once

#include "update/UpdateSession.h"

#include <juce_core/juce_core.h>

#include <cstdint>
#include <functional>

/** The controller's latest answer between the thread that receives reports and the session's
    worker: the receiver writes whole reports, the worker waits and takes a copy. */
class AnswerBuffer
{
public:
    AnswerBuffer() = default;

    /** Receiver side: copies a report in (length is clipped to the buffer); signals the worker
        when wakeWorker is set. */
    void write (const std::uint8_t* report, int length, bool wakeWorker);

    /** A device change or quit: wakes the worker without touching the answer bytes. */
    void wake();

    /** Receiver side: the controller left, or arrived reporting firmwareVersion. Only
        counted: the receiver wakes the worker with wake() where the change concerns it. */
    void deviceRemoved();
    void deviceArrived (int firmwareVersion);

    /** Worker side: how many times the controller has left so far, and the version of the
        first controller to arrive after removal number `removal` (-1 when none arrives
        within timeoutMs or shouldStop says so). */
    std::uint32_t removalCount() const;
    int waitForArrival (std::uint32_t removal, int timeoutMs, const std::function<bool()>& shouldStop);

    /** Wakes a waiting worker without news (a stop request). */
    void signal() { answerEvent.signal(); }

    /** Forgets pending signals before a session starts. */
    void reset() { answerEvent.reset(); }

    /** Worker side: waits up to timeoutMs; shouldStop ends any wait as unanswered. */
    UpdateSession::Wake waitForInput (int timeoutMs, const std::function<bool()>& shouldStop);
    UpdateSession::Wake takeAnswer();

    /** The worker's copy of the latest answer. */
    const std::uint8_t* answer() const noexcept { return taken; }

    static constexpr int size = 256;

private:
    friend struct MainComponentProbe; // test access

    juce::WaitableEvent answerEvent { false };
    std::uint8_t buffer[size] {};

    /** The worker never reads buffer directly: it takes a copy under lock, so a report
        arriving while it decides cannot tear the answer it looks at.
    */
    juce::CriticalSection lock;
    std::uint8_t taken[size] {};

    /** Counts every write to buffer (under lock). The worker may copy a report before it
        waits for that report's signal, and an input message may bring no report; the count
        tells it such a signal brings nothing new, so one answer is never taken for the
        answers to two reports.
    */
    std::uint32_t answersWritten = 0;
    std::uint32_t answersTaken = 0; // worker only

    /** Device changes and quit wake the worker without touching the answer bytes (under
        lock): an answer that arrived first is taken first, a report that begins with 0x00
        stays a report, and the change still ends the wait it interrupts.
    */
    std::uint32_t wakesSent = 0;
    std::uint32_t wakesTaken = 0; // worker only

    /** The controller's removals and, for the latest arrival, the removals before it and the
        version it reported (under lock): a controller that resets after its last answer is
        told apart by the version it comes back with. */
    std::uint32_t removals = 0;
    std::uint32_t removalsBeforeArrival = 0;
    int versionOnArrival = -1;

    JUCE_DECLARE_NON_COPYABLE (AnswerBuffer)
};
