#include "platform/InterruptHold.h"

#include <atomic>
#include <csignal>
#include <cstring>
#include <unistd.h>

namespace
{
std::atomic<bool> requested { false };
struct sigaction previousInt
{
}, previousTerm {};

extern "C" void holdSignal (int)
{
    requested.store (true);
    static const char line[] = "\nHeld: the update is writing the controller and finishes first.\n";
    // Only async-signal-safe calls here.
    [[maybe_unused]] const auto written = ::write (STDERR_FILENO, line, sizeof (line) - 1);
}
} // namespace

InterruptHold::InterruptHold()
{
    requested.store (false);
    struct sigaction action
    {};
    action.sa_handler = holdSignal;
    sigemptyset (&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction (SIGINT, &action, &previousInt);
    sigaction (SIGTERM, &action, &previousTerm);
}

InterruptHold::~InterruptHold()
{
    sigaction (SIGINT, &previousInt, nullptr);
    sigaction (SIGTERM, &previousTerm, nullptr);
}

bool InterruptHold::wasRequested() noexcept { return requested.load(); }
