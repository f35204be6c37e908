#pragma once

#include <juce_core/juce_core.h>

/** Holds the system's sleep, shutdown and log-off back for its lifetime, so that nothing on
    the computer cuts a firmware update short. Linux: a logind inhibitor lock (idle, sleep,
    shutdown; mode block) on the system bus. Windows: the system kept awake and a shutdown
    block reason on the window. Where nothing can be taken (no system bus, no logind), the
    update goes on and describe() says why.
*/
class UpdateInhibitor
{
public:
    /** who: the program's name; why: shown by the system; nativeWindow: the HWND on Windows
        (nullptr for a program without a window), unused on Linux. */
    UpdateInhibitor (const juce::String& who, const juce::String& why, void* nativeWindow);
    ~UpdateInhibitor();

    bool isHeld() const noexcept { return held; }

    /** What the updaters tell the system: the product's name and the reason. */
    static constexpr const char* updaterName = "KRV-7000 Firmware Updater";
    static constexpr const char* updateReason = "Updating the KRV-7000's firmware";

    /** One line for the trace, e.g. "held: logind inhibitor fd 7" or "not held: no system bus". */
    const juce::String& describe() const noexcept { return description; }

private:
    bool held = false;
    juce::String description;
    int lockFd = -1;
    void* window = nullptr;
    bool executionStateSet = false;
    bool blockReasonSet = false;

    JUCE_DECLARE_NON_COPYABLE (UpdateInhibitor)
};
