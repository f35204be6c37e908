// The system calls that hold sleep and shutdown back during an update (Windows only).
#include "platform/UpdateInhibitor.h"
#include "platform/windows/PowerCalls.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{
struct Recording
{
    std::vector<std::string> calls;
    bool stateAccepted = true;
    bool reasonAccepted = true;
};

Recording recording;

std::string hex (unsigned long long value)
{
    return juce::String::toHexString ((juce::int64) value).toStdString();
}

EXECUTION_STATE WINAPI recordState (EXECUTION_STATE flags)
{
    recording.calls.push_back ("state " + hex (flags));
    return recording.stateAccepted ? ES_CONTINUOUS : 0;
}

BOOL WINAPI recordCreate (HWND window, LPCWSTR reason)
{
    recording.calls.push_back ("create " + hex ((uintptr_t) window) + " " + juce::String (reason).toStdString());
    return recording.reasonAccepted ? TRUE : FALSE;
}

BOOL WINAPI recordDestroy (HWND window)
{
    recording.calls.push_back ("destroy " + hex ((uintptr_t) window));
    return TRUE;
}
} // namespace

TEST (UpdateInhibitorWindows, MakesTheHoldAndUndoesOnlyWhatWasMadeInReverseOrder)
{
    const PowerCalls recorder { recordState, recordCreate, recordDestroy };
    auto* const window = (HWND) (uintptr_t) 0x1234;
    const std::string held = "state 80000001", create = "create 1234 " + std::string (UpdateInhibitor::updateReason),
                      destroy = "destroy 1234", released = "state 80000000";

    struct Case
    {
        const char* name;
        HWND window;
        bool stateAccepted, reasonAccepted, isHeld;
        std::vector<std::string> made, undone;
        const char* description;
    };
    const Case cases[] = {
        { "both", window, true, true, true, { held, create }, { destroy, released }, "held: system kept awake, shutdown block reason set" },
        { "no window", nullptr, true, true, true, { held }, { released }, "held: system kept awake, no shutdown block reason (no window)" },
        { "reason refused", window, true, false, true, { held, create }, { released }, "held: system kept awake, no shutdown block reason (refused)" },
        { "state refused", window, false, true, false, { held, create }, { destroy }, "not held: SetThreadExecutionState failed, shutdown block reason set" },
    };

    PowerCalls::useInstead (&recorder);

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        recording = { {}, c.stateAccepted, c.reasonAccepted };
        {
            const UpdateInhibitor inhibitor (UpdateInhibitor::updaterName, UpdateInhibitor::updateReason, c.window);
            EXPECT_EQ (recording.calls, c.made);
            EXPECT_EQ (inhibitor.isHeld(), c.isHeld);
            EXPECT_EQ (inhibitor.describe().toStdString(), c.description);
            recording.calls.clear();
        }
        EXPECT_EQ (recording.calls, c.undone);
    }

    PowerCalls::useInstead (nullptr);
}

TEST (UpdateInhibitorWindows, TheSystemKeepsItAwakeWhileHeldAndNoLonger)
{
    // Each call returns the state before it, so a call that repeats the current one reads it.
    // The window takes the real shutdown block reason calls too (Wine refuses them).
    const auto awake = ES_CONTINUOUS | ES_SYSTEM_REQUIRED;
    auto* window = CreateWindowExW (0, L"STATIC", L"inhibitor test", WS_OVERLAPPED, 0, 0, 10, 10,
                                    nullptr, nullptr, GetModuleHandleW (nullptr), nullptr);
    ASSERT_NE (window, nullptr);
    {
        const UpdateInhibitor inhibitor (UpdateInhibitor::updaterName, UpdateInhibitor::updateReason, window);
        EXPECT_TRUE (inhibitor.isHeld()) << inhibitor.describe();
        EXPECT_EQ (SetThreadExecutionState (awake), awake);
    }
    EXPECT_EQ (SetThreadExecutionState (ES_CONTINUOUS), (EXECUTION_STATE) ES_CONTINUOUS);
    DestroyWindow (window);
}
