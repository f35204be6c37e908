// Windows: the round trip per block through a fwbridge.dll (a report written with HID_Write,
// its answer's input message received and read with HID_Input) on a KRV-7000 reached
// through the system's HID stack, beside the system's bare round trip on the same device
// in the same run (overlapped WriteFile, then ReadFile of the answer), measured in turns.
// Under Wine the device is the emulated node, reached through winebus.
//   krv_bench_hid.exe FWBRIDGE_DLL   (prints table rows; exit 0 when the library adds at
//                                      most 100 us per block)
#include "device/FwBridge.h"

#include <windows.h>

#include <setupapi.h>

extern "C"
{
#include <hidsdi.h>
}

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace
{
constexpr int rounds = 300;
constexpr int turns = 3;
constexpr unsigned inputMessage = HID_MSG_INPUT;
constexpr USHORT vendorId = 0x1209, productId = 0x7000;

double nowUs()
{
    static LARGE_INTEGER frequency {};
    if (frequency.QuadPart == 0)
        QueryPerformanceFrequency (&frequency);
    LARGE_INTEGER now;
    QueryPerformanceCounter (&now);
    return (double) now.QuadPart * 1.0e6 / (double) frequency.QuadPart;
}

double median (std::vector<double> values)
{
    if (values.empty())
        return 0.0;
    std::sort (values.begin(), values.end());
    return values[values.size() / 2];
}

double percentile99 (std::vector<double> values)
{
    if (values.empty())
        return 0.0;
    std::sort (values.begin(), values.end());
    return values[std::min (values.size() - 1, values.size() * 99 / 100)];
}

struct Library
{
    HID_SetCallback_t setCallback;
    HID_Start_t start;
    HID_Stop_t stop;
    HID_EnumHIDno_t enumerate;
    HID_Input_t input;
    HID_Write_t write;
};

Library library {};
int answers = 0;

LRESULT CALLBACK windowProc (HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == inputMessage)
    {
        unsigned char report[HID_INPUT_CAPACITY];
        int length = sizeof (report);
        if (library.input ((int) wParam, report, &length) == 1 && length > 0 && report[0] == 0xF6)
            ++answers;
        return 0;
    }
    return DefWindowProcW (window, message, wParam, lParam);
}

// Pumps messages until the count of answers reaches target; false after a second without.
bool awaitAnswer (int target)
{
    const auto deadline = GetTickCount() + 1000;
    MSG message;
    while (answers < target)
    {
        if (PeekMessageW (&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW (&message);
        else if (GetTickCount() > deadline)
            return false;
        else
            MsgWaitForMultipleObjects (0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
    return true;
}

std::vector<double> throughLibrary (bool& ok)
{
    std::vector<double> samples;
    ok = false;
    if (library.start() != 1)
        return samples;

    int numbers[HID_MAX_DEVICES] {};
    const auto deadline = GetTickCount() + 10000;
    while (library.enumerate (numbers) < 1 && GetTickCount() < deadline)
        Sleep (50);

    unsigned char report[64] = { 0xF4 }; // the mode request; in update mode it is answered at once
    answers = 0;
    if (library.write (numbers[0], report, 64) == 1 && awaitAnswer (1))
    {
        ok = true;
        for (int i = 0; i < rounds && ok; ++i)
        {
            const auto start = nowUs();
            ok = library.write (numbers[0], report, 64) == 1 && awaitAnswer (answers + 1);
            samples.push_back (nowUs() - start);
        }
    }
    library.stop();
    return samples;
}

std::wstring findController()
{
    GUID hidClass;
    HidD_GetHidGuid (&hidClass);
    HDEVINFO set = SetupDiGetClassDevsW (&hidClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    std::wstring found;
    SP_DEVICE_INTERFACE_DATA entry {};
    entry.cbSize = sizeof (entry);
    for (DWORD index = 0; found.empty() && SetupDiEnumDeviceInterfaces (set, nullptr, &hidClass, index, &entry); ++index)
    {
        DWORD needed = 0;
        SetupDiGetDeviceInterfaceDetailW (set, &entry, nullptr, 0, &needed, nullptr);
        std::vector<BYTE> storage (needed + sizeof (SP_DEVICE_INTERFACE_DETAIL_DATA_W));
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*> (storage.data());
        detail->cbSize = sizeof (*detail);
        if (! SetupDiGetDeviceInterfaceDetailW (set, &entry, detail, needed, nullptr, nullptr))
            continue;
        HANDLE device = CreateFileW (detail->DevicePath, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
        HIDD_ATTRIBUTES attributes {};
        attributes.Size = sizeof (attributes);
        if (device != INVALID_HANDLE_VALUE && HidD_GetAttributes (device, &attributes) && attributes.VendorID == vendorId
            && attributes.ProductID == productId)
            found = detail->DevicePath;
        if (device != INVALID_HANDLE_VALUE)
            CloseHandle (device);
    }
    SetupDiDestroyDeviceInfoList (set);
    return found;
}

// One overlapped transfer, waited for up to a second; bytes moved, or -1.
int transfer (HANDLE device, bool reading, BYTE* data, DWORD size, OVERLAPPED& done)
{
    ResetEvent (done.hEvent);
    DWORD moved = 0;
    const BOOL finished = reading ? ReadFile (device, data, size, &moved, &done) : WriteFile (device, data, size, &moved, &done);
    if (! finished)
    {
        if (GetLastError() != ERROR_IO_PENDING)
            return -1;
        if (WaitForSingleObject (done.hEvent, 1000) != WAIT_OBJECT_0 || ! GetOverlappedResult (device, &done, &moved, FALSE))
        {
            CancelIoEx (device, &done);
            GetOverlappedResult (device, &done, &moved, TRUE);
            return -1;
        }
    }
    return (int) moved;
}

std::vector<double> bareRoundTrips (const std::wstring& path, bool& ok)
{
    std::vector<double> samples;
    ok = false;
    HANDLE device = CreateFileW (path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (device == INVALID_HANDLE_VALUE)
        return samples;

    OVERLAPPED done {};
    done.hEvent = CreateEventW (nullptr, TRUE, FALSE, nullptr);
    BYTE report[65] = { 0, 0xF4 };
    BYTE answer[65];
    ok = true;
    for (int i = 0; i < rounds && ok; ++i)
    {
        const auto start = nowUs();
        ok = transfer (device, false, report, sizeof (report), done) > 0 && transfer (device, true, answer, sizeof (answer), done) > 0;
        samples.push_back (nowUs() - start);
    }
    CloseHandle (done.hEvent);
    CloseHandle (device);
    return samples;
}

void row (const std::string& what, const std::string& figure, const std::string& target, const std::string& met)
{
    std::printf ("| %-58s | %14s | %-30s | %-6s |\n", what.c_str(), figure.c_str(), target.c_str(), met.c_str());
}

std::string microseconds (double value)
{
    char text[32];
    std::snprintf (text, sizeof (text), "%.1f us", value);
    return text;
}
} // namespace

int wmain (int argc, wchar_t** argv)
{
    if (argc < 2)
    {
        std::fprintf (stderr, "usage: krv_bench_hid FWBRIDGE_DLL\n");
        return 2;
    }

    HMODULE dll = LoadLibraryW (argv[1]);
    const auto find = [dll] (const char* name) { return dll != nullptr ? GetProcAddress (dll, name) : nullptr; };
    library.setCallback = reinterpret_cast<HID_SetCallback_t> (reinterpret_cast<void*> (find ("HID_SetCallback")));
    library.start = reinterpret_cast<HID_Start_t> (reinterpret_cast<void*> (find ("HID_Start")));
    library.stop = reinterpret_cast<HID_Stop_t> (reinterpret_cast<void*> (find ("HID_Stop")));
    library.enumerate = reinterpret_cast<HID_EnumHIDno_t> (reinterpret_cast<void*> (find ("HID_EnumHIDno")));
    library.input = reinterpret_cast<HID_Input_t> (reinterpret_cast<void*> (find ("HID_Input")));
    library.write = reinterpret_cast<HID_Write_t> (reinterpret_cast<void*> (find ("HID_Write")));
    if (! library.setCallback || ! library.start || ! library.stop || ! library.enumerate || ! library.input || ! library.write)
    {
        std::fprintf (stderr, "krv_bench_hid: no usable device library\n");
        return 2;
    }

    WNDCLASSW windowClass {};
    windowClass.lpfnWndProc = windowProc;
    windowClass.hInstance = GetModuleHandleW (nullptr);
    windowClass.lpszClassName = L"KrvBenchHid";
    RegisterClassW (&windowClass);
    HWND window = CreateWindowW (L"KrvBenchHid", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, windowClass.hInstance, nullptr);
    library.setCallback (window, HID_MSG_INPUT, HID_MSG_ARRIVED, HID_MSG_REMOVED);

    // In turns, so that both see the same machine: the library, then the bare device.
    std::vector<double> viaLibrary, bare;
    bool ok = true;
    for (int turn = 0; turn < turns && ok; ++turn)
    {
        bool libraryOk = false, bareOk = false;
        const auto blocks = throughLibrary (libraryOk);
        const auto path = findController();
        const auto trips = path.empty() ? std::vector<double>() : bareRoundTrips (path, bareOk);
        ok = libraryOk && bareOk;
        viaLibrary.insert (viaLibrary.end(), blocks.begin(), blocks.end());
        bare.insert (bare.end(), trips.begin(), trips.end());
    }

    const double libraryMedian = median (viaLibrary), bareMedian = median (bare);
    const double added = libraryMedian - bareMedian;
    const bool met = ok && added <= 100.0;
    row (std::string ("fwbridge.dll (") + (sizeof (void*) == 4 ? "32" : "64") + "-bit), emulated KRV-7000 under Wine: "
             + std::to_string (viaLibrary.size()) + " blocks" + (ok ? "" : " (NOT COMPLETE)"),
         "", "", ok ? "" : "MISSED");
    row ("  per block (HID_Write, message, HID_Input), median (p99 " + microseconds (percentile99 (viaLibrary)) + ")",
         microseconds (libraryMedian), "", "");
    row ("  the system's bare round trip, same node (WriteFile, ReadFile)", microseconds (bareMedian), "", "");
    row ("  what the library adds, median", microseconds (added), "<= 100 us", met ? "ok" : "MISSED");
    DestroyWindow (window);
    return met ? 0 : 1;
}
