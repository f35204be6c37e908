#include "platform/SystemQuit.h"
#include "platform/TraceOutput.h"

#include <juce_events/juce_events.h>

#include <mutex>

namespace
{
std::mutex holdLock;
bool updateRunning = false;
bool quitHeld = false;

bool isUpdateRunning()
{
    const std::lock_guard<std::mutex> lock (holdLock);
    return updateRunning;
}
} // namespace

void SystemQuit::holdDuringUpdate (bool running)
{
    bool honour = false;
    {
        const std::lock_guard<std::mutex> lock (holdLock);
        updateRunning = running;
        honour = ! running && quitHeld;
        quitHeld = quitHeld && running;
    }

    if (honour)
    {
        writeSystemLogLine ("system quit: the update has ended, quitting now");
        juce::MessageManager::callAsync ([] {
            if (auto* app = juce::JUCEApplicationBase::getInstance())
                app->systemRequestedQuit();
        });
    }
}

void SystemQuit::finishUpdateBeforeSessionEnds()
{
    if (! isUpdateRunning())
        return;

    // The system may still cut this wait short; without it the process ends mid-update.
    writeSystemLogLine ("system quit: the session is ending, finishing the update first");
    auto* messages = juce::MessageManager::getInstance();

    while (isUpdateRunning())
        if (! messages->runDispatchLoopUntil (50))
            break;

    writeSystemLogLine (isUpdateRunning() ? "system quit: the session ends before the update has ended"
                                          : "system quit: the session may end now");
}

bool SystemQuit::holdRequest()
{
    const std::lock_guard<std::mutex> lock (holdLock);

    if (! updateRunning)
        return false;

    // Quitting now would leave the controller in its boot loader without firmware.
    quitHeld = true;
    writeSystemLogLine ("system quit: held until the update has ended");
    return true;
}
