#include "../DebugOutput.h"

#include <windows.h>

#include <cstdio>

namespace fwbridge
{
void debugLine (const std::string& text)
{
    const auto line = text + "\n";
    OutputDebugStringA (line.c_str());
    // A console program (krv-update) shows it too.
    std::fputs (line.c_str(), stderr);
}

std::string openFailureHint (int error)
{
    // HID devices are opened shared; a denial means a program holds it exclusively.
    if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION)
        return "; another program holds it (close other software for the controller)";
    return {};
}
} // namespace fwbridge
