#pragma once

#include <string>

namespace fwbridge
{
/** One line on the host's debug output: standard error on Linux; the debugger output
    (OutputDebugStringA) on Windows, where a window program has no standard error. */
void debugLine (const std::string& text);

/** What the user can do about a device that could not be opened with this system error
    (an errno, or a Windows error code), starting with "; ", or empty. */
std::string openFailureHint (int error);
} // namespace fwbridge
