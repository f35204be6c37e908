#pragma once

#include <juce_events/juce_events.h>

#include <functional>

namespace testsupport
{
/** Runs the real message loop until the condition holds or the time is up. */
inline bool pumpUntil (const std::function<bool()>& condition, int timeoutMs = 5000)
{
    const auto deadline = juce::Time::getMillisecondCounterHiRes() + timeoutMs;
    while (! condition())
    {
        if (juce::Time::getMillisecondCounterHiRes() > deadline)
            return false;
        juce::MessageManager::getInstance()->runDispatchLoopUntil (2);
    }
    return true;
}

/** Runs the message loop for a while, for things that must not happen. */
inline void pumpFor (int ms)
{
    juce::MessageManager::getInstance()->runDispatchLoopUntil (ms);
}
} // namespace testsupport
