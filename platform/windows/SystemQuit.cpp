#include "platform/SystemQuit.h"

#include "platform/TraceOutput.h"
#include "platform/Win32.h"

// JUCE turns WM_QUERYENDSESSION into systemRequestedQuit, so a log-off or shutdown is
// answered "not now" during an update. WM_ENDSESSION TRUE comes when the session ends all the
// same (forced, or another program said yes): Windows ends the process once it is handled.
// JUCE leaves it to DefWindowProc, so a hook on the message thread sees it first.
namespace
{
HHOOK endSessionHook = nullptr;

LRESULT CALLBACK beforeWindowProcedure (int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HC_ACTION)
        if (const auto* sent = reinterpret_cast<const CWPSTRUCT*> (lParam); sent->message == WM_ENDSESSION && sent->wParam != FALSE)
            SystemQuit::finishUpdateBeforeSessionEnds();

    return CallNextHookEx (endSessionHook, code, wParam, lParam);
}
} // namespace

void SystemQuit::install()
{
    if (endSessionHook != nullptr)
        return;

    endSessionHook = SetWindowsHookExW (WH_CALLWNDPROC, beforeWindowProcedure, nullptr, GetCurrentThreadId());
    if (endSessionHook == nullptr)
        writeSystemLogLine ("system quit: no end-of-session hook (error " + juce::String ((int) GetLastError())
                            + "), a forced shutdown can cut an update short");
}

void SystemQuit::uninstall()
{
    if (endSessionHook != nullptr)
        UnhookWindowsHookEx (endSessionHook);

    endSessionHook = nullptr;
}
