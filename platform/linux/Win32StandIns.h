// The Windows calls the updater makes, declared for Linux: platform/linux/ implements them
// on JUCE's message loop and the dynamic loader. Include platform/Win32.h, not this file.
#pragma once

#include <cstdint>

using BOOL = int;
using UINT = unsigned int;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using LANGID = std::uint16_t;
using ATOM = std::uint16_t;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;
using HANDLE = void*;
using HWND = void*;
using HINSTANCE = void*;
using HMODULE = void*;
using HICON = void*;
using HCURSOR = void*;
using HBRUSH = void*;
using HMENU = void*;
using HGDIOBJ = void*;
using LPSTR = char*;
using LPCSTR = const char*;
using LPVOID = void*;

using WNDPROC = LRESULT (*) (HWND, UINT, WPARAM, LPARAM);
using FARPROC = std::intptr_t (*)();

struct WNDCLASSA
{
    UINT style;
    WNDPROC lpfnWndProc;
    int cbClsExtra;
    int cbWndExtra;
    HINSTANCE hInstance;
    HICON hIcon;
    HCURSOR hCursor;
    HBRUSH hbrBackground;
    LPCSTR lpszMenuName;
    LPCSTR lpszClassName;
};

#define CALLBACK
#define WINAPI

constexpr UINT WM_USER = 0x0400;
constexpr DWORD WS_OVERLAPPEDWINDOW = 0x00CF0000;
constexpr DWORD WS_DISABLED = 0x08000000;
constexpr int SW_HIDE = 0;
constexpr int SW_SHOW = 5;
constexpr int BLACK_BRUSH = 4;
constexpr DWORD ASFW_ANY = 0xFFFFFFFF;
constexpr DWORD LCID_INSTALLED = 0x00000001;
#define IDC_ARROW (reinterpret_cast<LPCSTR> (static_cast<std::uintptr_t> (32512)))

using LOCALE_ENUMPROCA = BOOL (*) (LPSTR);

HMODULE GetModuleHandleA (LPCSTR moduleName);
ATOM RegisterClassA (const WNDCLASSA* windowClass);
BOOL UnregisterClassA (LPCSTR className, HINSTANCE instance);
HWND CreateWindowExA (DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style,
                      int x, int y, int width, int height,
                      HWND parent, HMENU menu, HINSTANCE instance, LPVOID param);
BOOL ShowWindow (HWND window, int command);
BOOL DestroyWindow (HWND window);
LRESULT DefWindowProcA (HWND window, UINT message, WPARAM wParam, LPARAM lParam);
HCURSOR LoadCursorA (HINSTANCE instance, LPCSTR cursorName);
HGDIOBJ GetStockObject (int object);
HMODULE LoadLibraryA (LPCSTR fileName);
FARPROC GetProcAddress (HMODULE module, LPCSTR procedureName);
BOOL FreeLibrary (HMODULE module);
BOOL AllowSetForegroundWindow (DWORD processId);
void OutputDebugStringA (LPCSTR text);
LANGID GetUserDefaultLangID();
BOOL EnumSystemLocalesA (LOCALE_ENUMPROCA callback, DWORD flags);

/** Exported by the executable: device libraries loaded at run time call it. */
extern "C" BOOL PostMessageA (HWND window, UINT message, WPARAM wParam, LPARAM lParam);
