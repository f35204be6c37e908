#pragma once

/** Whether the session's trace lines (OutputDebugStringA) also reach standard error. On
    Linux they always did and still do by default; on Windows they go to the debugger. */
void showTraceOnStandardError (bool shown);
