// Hidden windows and posted messages on JUCE's message loop, standing in for the
// Windows calls the device link makes. A posted message runs the window procedure on
// the message thread, in posting order; a message for a window that is gone is dropped.
#include "platform/TraceOutput.h"
#include "platform/Win32.h"

#include <juce_events/juce_events.h>

#include <atomic>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>

namespace
{
struct WindowRegistry
{
    std::mutex lock;
    std::map<std::string, WNDPROC> classes;
    std::map<HWND, WNDPROC> windows;
    std::uintptr_t nextHandle = 0x1000;

    static WindowRegistry& get()
    {
        static WindowRegistry registry;
        return registry;
    }

    WNDPROC procedureFor (HWND window)
    {
        std::lock_guard<std::mutex> guard (lock);
        auto found = windows.find (window);
        return found != windows.end() ? found->second : nullptr;
    }
};

class PostedWindowMessage final : public juce::MessageManager::MessageBase
{
public:
    PostedWindowMessage (HWND w, UINT m, WPARAM wp, LPARAM lp) : window (w), message (m), wParam (wp), lParam (lp) {}

    void messageCallback() override
    {
        // Looked up again here: the window may have been destroyed since posting.
        if (auto procedure = WindowRegistry::get().procedureFor (window))
            procedure (window, message, wParam, lParam);
    }

private:
    HWND window;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

int moduleAnchor = 0;
int stockObjects[8] {};
int arrowCursor = 0;
} // namespace

HMODULE GetModuleHandleA (LPCSTR moduleName)
{
    // Only the program's own module is ever asked for.
    return moduleName == nullptr ? static_cast<HMODULE> (&moduleAnchor) : nullptr;
}

ATOM RegisterClassA (const WNDCLASSA* windowClass)
{
    if (windowClass == nullptr || windowClass->lpszClassName == nullptr || windowClass->lpfnWndProc == nullptr)
        return 0;

    auto& registry = WindowRegistry::get();
    std::lock_guard<std::mutex> guard (registry.lock);

    if (! registry.classes.emplace (windowClass->lpszClassName, windowClass->lpfnWndProc).second)
        return 0; // already registered, as on Windows

    return static_cast<ATOM> (0xC000 + registry.classes.size());
}

BOOL UnregisterClassA (LPCSTR className, HINSTANCE)
{
    if (className == nullptr)
        return 0;

    auto& registry = WindowRegistry::get();
    std::lock_guard<std::mutex> guard (registry.lock);
    return registry.classes.erase (className) > 0 ? 1 : 0;
}

HWND CreateWindowExA (DWORD, LPCSTR className, LPCSTR, DWORD, int, int, int, int, HWND, HMENU, HINSTANCE, LPVOID)
{
    if (className == nullptr)
        return nullptr;

    auto& registry = WindowRegistry::get();
    std::lock_guard<std::mutex> guard (registry.lock);

    auto found = registry.classes.find (className);
    if (found == registry.classes.end())
        return nullptr;

    // Handles are never reused, so a late message cannot reach a newer window.
    auto* handle = reinterpret_cast<HWND> (registry.nextHandle);
    registry.nextHandle += 0x10;
    registry.windows.emplace (handle, found->second);
    return handle;
}

BOOL ShowWindow (HWND window, int)
{
    return WindowRegistry::get().procedureFor (window) != nullptr ? 1 : 0;
}

BOOL DestroyWindow (HWND window)
{
    auto& registry = WindowRegistry::get();
    std::lock_guard<std::mutex> guard (registry.lock);
    return registry.windows.erase (window) > 0 ? 1 : 0;
}

LRESULT DefWindowProcA (HWND, UINT, WPARAM, LPARAM)
{
    return 0;
}

HCURSOR LoadCursorA (HINSTANCE, LPCSTR)
{
    return &arrowCursor;
}

HGDIOBJ GetStockObject (int object)
{
    return object >= 0 && object < 8 ? &stockObjects[object] : nullptr;
}

BOOL AllowSetForegroundWindow (DWORD)
{
    // Any process may raise its window here; the single-instance hand-over does the rest.
    return 1;
}

namespace
{
std::atomic<bool> traceShown { true };
}

void showTraceOnStandardError (bool shown) { traceShown.store (shown); }

void writeSystemLogLine (const juce::String& line)
{
    juce::Logger::outputDebugString (line);
}

void OutputDebugStringA (LPCSTR text)
{
    if (text == nullptr || ! traceShown.load())
        return;

    std::fputs (text, stderr);
    std::fflush (stderr);
}

extern "C" __attribute__ ((visibility ("default"))) BOOL PostMessageA (HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (WindowRegistry::get().procedureFor (window) == nullptr)
        return 0;

    if (juce::MessageManager::getInstanceWithoutCreating() == nullptr)
        return 0;

    return (new PostedWindowMessage (window, message, wParam, lParam))->post() ? 1 : 0;
}
