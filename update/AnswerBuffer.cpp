#include "update/AnswerBuffer.h"

#include "update/UpdateReports.h"

#include <cmath>
#include <cstring>

void AnswerBuffer::write (const std::uint8_t* report, int length, bool wakeWorker)
{
    length = juce::jlimit (0, size, length);

    if (length > 0)
    {
        const juce::ScopedLock sl (lock);

        // An answer not yet taken outlives the controller's ordinary input behind it (a knob
        // report right after a completion answer and a reset); a later answer still wins.
        const bool answerPending = answersWritten != answersTaken && UpdateReports::isAnswerCode (buffer[0]);

        if (! answerPending || UpdateReports::isAnswerCode (report[0]))
        {
            std::memcpy (buffer, report, (size_t) length);
            ++answersWritten;
        }
    }

    if (wakeWorker)
        answerEvent.signal();
}

void AnswerBuffer::wake()
{
    {
        const juce::ScopedLock sl (lock);
        ++wakesSent;
    }
    answerEvent.signal();
}

void AnswerBuffer::deviceRemoved()
{
    const juce::ScopedLock sl (lock);
    ++removals;
}

void AnswerBuffer::deviceArrived (int firmwareVersion)
{
    const juce::ScopedLock sl (lock);
    removalsBeforeArrival = removals;
    versionOnArrival = firmwareVersion;
}

std::uint32_t AnswerBuffer::removalCount() const
{
    const juce::ScopedLock sl (lock);
    return removals;
}

int AnswerBuffer::waitForArrival (std::uint32_t removal, int timeoutMs, const std::function<bool()>& shouldStop)
{
    const auto deadline = juce::Time::getMillisecondCounterHiRes() + timeoutMs;

    for (;;)
    {
        {
            const juce::ScopedLock sl (lock);
            if (removal > 0 && removalsBeforeArrival >= removal)
                return versionOnArrival;
        }

        const auto left = deadline - juce::Time::getMillisecondCounterHiRes();
        if (shouldStop() || left <= 0)
            return -1;

        // Every device change signals the event; a spurious wake only checks again.
        answerEvent.wait (juce::jmax (1, (int) std::ceil (left)));
        answerEvent.reset();
    }
}

UpdateSession::Wake AnswerBuffer::waitForInput (int timeoutMs, const std::function<bool()>& shouldStop)
{
    const auto deadline = juce::Time::getMillisecondCounterHiRes() + timeoutMs;

    for (;;)
    {
        // Once the worker is asked to stop, no wait holds it: the stop signalled the event,
        // and every later wait returns at once as unanswered.
        if (shouldStop())
            return UpdateSession::Wake::nothing;

        const auto left = deadline - juce::Time::getMillisecondCounterHiRes();
        if (! answerEvent.wait (juce::jmax (0, (int) std::ceil (left))))
            return UpdateSession::Wake::nothing;

        answerEvent.reset();

        if (shouldStop())
            return UpdateSession::Wake::nothing;

        // A signal whose report was already copied on an earlier wake brings nothing new.
        const auto wakeKind = takeAnswer();
        if (wakeKind != UpdateSession::Wake::nothing)
            return wakeKind;
    }
}

UpdateSession::Wake AnswerBuffer::takeAnswer()
{
    const juce::ScopedLock sl (lock);

    if (answersWritten != answersTaken)
    {
        std::memcpy (taken, buffer, sizeof (taken));
        answersTaken = answersWritten;

        // A device change behind this answer must still end the next wait.
        if (wakesSent != wakesTaken)
            answerEvent.signal();

        return UpdateSession::Wake::report;
    }

    if (wakesSent != wakesTaken)
    {
        // Every report that came before has been taken: the buffer now reads as cleared, as
        // a later time-out of the mode switch examines it.
        wakesTaken = wakesSent;
        std::memset (buffer, 0, sizeof (buffer));
        std::memset (taken, 0, sizeof (taken));
        return UpdateSession::Wake::deviceChange;
    }

    std::memcpy (taken, buffer, sizeof (taken));
    return UpdateSession::Wake::nothing;
}
