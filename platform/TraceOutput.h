#pragma once

#include <juce_core/juce_core.h>

/** Whether the session's trace lines (OutputDebugStringA) also reach standard error. On
    Linux they always did and still do by default; on Windows they go to the debugger. */
void showTraceOnStandardError (bool shown);

/** One line for the system log, whatever the session's trace does: standard error on Linux,
    the debugger on Windows (narrow, as the session's lines: Wine shows no wide ones). */
void writeSystemLogLine (const juce::String& line);
