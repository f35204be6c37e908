#include "platform/UpdateInhibitor.h"

#include "platform/windows/PowerCalls.h"

#include <atomic>

namespace
{
const PowerCalls systemCalls { SetThreadExecutionState, ShutdownBlockReasonCreate, ShutdownBlockReasonDestroy };
std::atomic<const PowerCalls*> callsInstead { nullptr };
} // namespace

const PowerCalls& PowerCalls::get()
{
    const auto* instead = callsInstead.load();
    return instead != nullptr ? *instead : systemCalls;
}

void PowerCalls::useInstead (const PowerCalls* calls)
{
    callsInstead = calls;
}

UpdateInhibitor::UpdateInhibitor (const juce::String&, const juce::String& why, void* nativeWindow)
    : window (nativeWindow)
{
    const auto& calls = PowerCalls::get();
    executionStateSet = calls.setThreadExecutionState (ES_CONTINUOUS | ES_SYSTEM_REQUIRED) != 0;

    if (window != nullptr)
        blockReasonSet = calls.shutdownBlockReasonCreate ((HWND) window, why.toWideCharPointer()) != FALSE;

    held = executionStateSet;
    description = juce::String (held ? "held: " : "not held: ")
                  + (executionStateSet ? "system kept awake" : "SetThreadExecutionState failed")
                  + (blockReasonSet      ? ", shutdown block reason set"
                     : window != nullptr ? ", no shutdown block reason (refused)"
                                         : ", no shutdown block reason (no window)");
}

UpdateInhibitor::~UpdateInhibitor()
{
    const auto& calls = PowerCalls::get();

    if (blockReasonSet)
        calls.shutdownBlockReasonDestroy ((HWND) window);

    if (executionStateSet)
        calls.setThreadExecutionState (ES_CONTINUOUS);
}
