// Windows: device notifications for the HID interface class, delivered to a message-only
// window on the watch's own thread, plus a periodic look.
#include "../DeviceMonitor.h"

#include <windows.h>

#include <dbt.h>

// MinGW's HID headers declare hid.dll's functions without C linkage.
extern "C"
{
#include <hidsdi.h>
}

#include <atomic>
#include <thread>

namespace fwbridge
{
namespace
{
constexpr wchar_t windowClass[] = L"KrvFwBridgeDeviceWatch";

LRESULT CALLBACK watchWindowProc (HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    // Every notification leads to a rescan once the message loop has drained.
    return DefWindowProcW (window, message, wParam, lParam);
}
} // namespace

struct DeviceMonitor::Watch
{
    std::function<void()> rescan;
    std::atomic<bool> stopping { false };
    HANDLE wakeEvent = CreateEventW (nullptr, FALSE, FALSE, nullptr);
    std::thread thread;

    void loop()
    {
        const auto instance = GetModuleHandleW (nullptr);
        WNDCLASSEXW windowClassInfo {};
        windowClassInfo.cbSize = sizeof (windowClassInfo);
        windowClassInfo.lpfnWndProc = watchWindowProc;
        windowClassInfo.hInstance = instance;
        windowClassInfo.lpszClassName = windowClass;
        RegisterClassExW (&windowClassInfo); // fails harmlessly when a second start finds it
        HWND window = CreateWindowExW (0, windowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, nullptr);

        HDEVNOTIFY notifications = nullptr;
        if (window != nullptr)
        {
            DEV_BROADCAST_DEVICEINTERFACE_W filter {};
            filter.dbcc_size = sizeof (filter);
            filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
            HidD_GetHidGuid (&filter.dbcc_classguid);
            notifications = RegisterDeviceNotificationW (window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
        }

        // Anything that came between the first look and the subscription.
        rescan();

        while (! stopping)
        {
            // Without notifications a periodic look still notices arrivals within a second;
            // with them it only retries devices that could not be opened.
            const DWORD period = notifications != nullptr ? 2000 : 500;
            MsgWaitForMultipleObjects (1, &wakeEvent, FALSE, period, QS_ALLINPUT);
            if (stopping)
                break;

            MSG message;
            while (PeekMessageW (&message, nullptr, 0, 0, PM_REMOVE))
                DispatchMessageW (&message);

            rescan();
        }

        if (notifications != nullptr)
            UnregisterDeviceNotification (notifications);
        if (window != nullptr)
            DestroyWindow (window);
    }
};

DeviceMonitor::DeviceMonitor (std::function<void()> rescan) : watch (std::make_unique<Watch>())
{
    watch->rescan = std::move (rescan);
    watch->thread = std::thread ([w = watch.get()] { w->loop(); });
}

DeviceMonitor::~DeviceMonitor()
{
    stop();
    CloseHandle (watch->wakeEvent);
}

void DeviceMonitor::wake()
{
    SetEvent (watch->wakeEvent);
}

void DeviceMonitor::stop()
{
    watch->stopping = true;
    wake();
    if (watch->thread.joinable())
        watch->thread.join();
}
} // namespace fwbridge
