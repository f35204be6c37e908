#include "platform/TraceOutput.h"

// The system's OutputDebugStringA writes to the debugger only (DebugView shows it); the
// trace cannot be turned off there and does not reach the console.
void showTraceOnStandardError (bool) {}
