#include "platform/UpdateInhibitor.h"

#include "platform/Win32.h"

UpdateInhibitor::UpdateInhibitor (const juce::String&, const juce::String& why, void* nativeWindow)
    : window (nativeWindow)
{
    executionStateSet = SetThreadExecutionState (ES_CONTINUOUS | ES_SYSTEM_REQUIRED) != 0;

    if (window != nullptr)
        blockReasonSet = ShutdownBlockReasonCreate ((HWND) window, why.toWideCharPointer()) != FALSE;

    held = executionStateSet;
    description = juce::String (held ? "held: " : "not held: ")
                  + (executionStateSet ? "system kept awake" : "SetThreadExecutionState failed")
                  + (blockReasonSet ? ", shutdown block reason set" : ", no shutdown block reason");
}

UpdateInhibitor::~UpdateInhibitor()
{
    if (blockReasonSet)
        ShutdownBlockReasonDestroy ((HWND) window);

    if (executionStateSet)
        SetThreadExecutionState (ES_CONTINUOUS);
}
