#pragma once

#include "platform/Win32.h"

/** The system calls that hold sleep and shutdown back on Windows (UpdateInhibitor). */
struct PowerCalls
{
    EXECUTION_STATE (WINAPI* setThreadExecutionState)
    (EXECUTION_STATE);
    BOOL (WINAPI* shutdownBlockReasonCreate)
    (HWND, LPCWSTR);
    BOOL (WINAPI* shutdownBlockReasonDestroy)
    (HWND);

    /** The system's own. */
    static const PowerCalls& get();

    /** Other calls in place of the system's for the inhibitors made from now on (a
        recording set in the tests); null returns to the system's. */
    static void useInstead (const PowerCalls* calls);
};
