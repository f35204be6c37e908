#include "platform/SystemQuit.h"

#include <juce_events/juce_events.h>

#include <mutex>

namespace
{
std::mutex holdLock;
bool updateRunning = false;
bool quitHeld = false;
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
        juce::Logger::outputDebugString ("system quit: the update has ended, quitting now");
        juce::MessageManager::callAsync ([] {
            if (auto* app = juce::JUCEApplicationBase::getInstance())
                app->systemRequestedQuit();
        });
    }
}

bool SystemQuit::holdRequest()
{
    const std::lock_guard<std::mutex> lock (holdLock);

    if (! updateRunning)
        return false;

    // Quitting now would leave the controller in its boot loader without firmware.
    quitHeld = true;
    juce::Logger::outputDebugString ("system quit: held until the update has ended");
    return true;
}
