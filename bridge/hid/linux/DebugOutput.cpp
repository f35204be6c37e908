#include "../DebugOutput.h"

#include <cerrno>
#include <cstdio>

namespace fwbridge
{
void debugLine (const std::string& text)
{
    std::fprintf (stderr, "%s\n", text.c_str());
}

std::string openFailureHint (int error)
{
    // A node that vanished (a reset, a pull) is no matter of permissions.
    if (error == EACCES || error == EPERM)
        return "; without the udev rule only root may (see Troubleshooting in the README)";
    return {};
}
} // namespace fwbridge
