#include "platform/InterruptHold.h"

#include "platform/Win32.h"

#include <atomic>
#include <cstdio>

namespace
{
std::atomic<bool> requested { false };

BOOL WINAPI holdConsoleEvent (DWORD)
{
    requested.store (true);
    std::fputs ("\nHeld: the update is writing the controller and finishes first.\n", stderr);
    std::fflush (stderr);
    return TRUE;
}
} // namespace

InterruptHold::InterruptHold()
{
    requested.store (false);
    SetConsoleCtrlHandler (holdConsoleEvent, TRUE);
}

InterruptHold::~InterruptHold() { SetConsoleCtrlHandler (holdConsoleEvent, FALSE); }

bool InterruptHold::wasRequested() noexcept { return requested.load(); }
