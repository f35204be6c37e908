// Placeholder until the update protocol lands: the session fails at once.
#include "ui/MainComponent.h"

#include <cstdarg>
#include <cstdio>

void MainComponent::requestState (int state)
{
    const juce::ScopedLock sl (stateLock);
    requestedState = state;
    triggerAsyncUpdate();
}

void MainComponent::run()
{
    requestState (Updating);
    publishProgress (0.0);
    requestState (UpdateFailed);
}

bool MainComponent::waitForAnswer (int timeoutMs) { return ! threadShouldExit() && answerEvent.wait (timeoutMs) && ! threadShouldExit(); }
void MainComponent::takeAnswer() {}
void MainComponent::publishProgress (double value) { sharedProgress.store (value); }
int MainComponent::switchToUpdateMode() { return -1; }
bool MainComponent::isDeviceStreaming() { return false; }
int MainComponent::waitWhileBusy() { return 0; }
void MainComponent::debugTrace (const char*, ...) {}
