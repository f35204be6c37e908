#include "platform/SingleInstance.h"

// Windows hands a second start over itself: JUCE's own single-instance handling delivers
// it to anotherInstanceStarted.
bool SingleInstance::claimOrHandOver (const juce::String&, const juce::String&, std::function<void (const juce::String&)>)
{
    return true;
}

void SingleInstance::release()
{
}
