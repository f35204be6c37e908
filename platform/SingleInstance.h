// Hands a second start's command line to the running instance. JUCE detects the second
// instance on every platform, but only Windows and macOS deliver its message; elsewhere
// this channel (a per-user local socket) does.
#pragma once

#include <juce_core/juce_core.h>

#include <functional>

class SingleInstance
{
public:
    /** Called once, early. Returns true when this process is the first instance and now
        listens for later ones; false when a running instance was told about this start
        (the caller then ends). With no channel available it returns true.
        onAnotherInstance runs on the message thread with the other command line. */
    static bool claimOrHandOver (const juce::String& applicationName,
                                 const juce::String& commandLine,
                                 std::function<void (const juce::String&)> onAnotherInstance);

    /** Stops listening; later starts then find no running instance. */
    static void release();
};
