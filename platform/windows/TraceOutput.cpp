#include "platform/TraceOutput.h"

#include "platform/Win32.h"

// The system's OutputDebugStringA writes to the debugger only (DebugView shows it); the
// trace cannot be turned off there and does not reach the console.
void showTraceOnStandardError (bool) {}

void writeSystemLogLine (const juce::String& line)
{
    OutputDebugStringA ((line + "\n").toRawUTF8());
}
