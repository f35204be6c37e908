// Windows: the HID interfaces as SetupAPI lists them, described and opened through
// hid.dll, read and written with overlapped ReadFile and WriteFile.
#include "../SystemBackend.h"

#include "KrvUsbIds.h"

#include <windows.h>

#include <setupapi.h>

// MinGW's HID headers declare hid.dll's functions without C linkage.
extern "C"
{
#include <hidsdi.h>
}

#include <algorithm>
#include <cctype>
#include <cstring>
#include <vector>

namespace fwbridge
{
namespace
{
std::wstring widen (const std::string& text)
{
    std::wstring wide (text.size() + 1, L'\0');
    const int count = MultiByteToWideChar (CP_UTF8, 0, text.c_str(), -1, wide.data(), (int) wide.size());
    wide.resize (count > 0 ? (std::size_t) count - 1 : 0);
    return wide;
}

std::string narrow (const wchar_t* text)
{
    const int size = WideCharToMultiByte (CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1)
        return {};
    std::string result ((std::size_t) size, '\0');
    WideCharToMultiByte (CP_UTF8, 0, text, -1, result.data(), size, nullptr, nullptr);
    result.resize ((std::size_t) size - 1);
    return result;
}

std::string errorText (DWORD error)
{
    char* text = nullptr;
    FormatMessageA (FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                    nullptr, error, 0, reinterpret_cast<char*> (&text), 0, nullptr);
    std::string result = text != nullptr ? text : "";
    LocalFree (text);
    while (! result.empty() && (std::isspace ((unsigned char) result.back()) || result.back() == '.'))
        result.pop_back();
    return result + (result.empty() ? "" : " ") + "(error " + std::to_string (error) + ")";
}

struct Handle
{
    explicit Handle (HANDLE h) : handle (h) {}
    ~Handle()
    {
        if (handle != INVALID_HANDLE_VALUE && handle != nullptr)
            CloseHandle (handle);
    }
    Handle (const Handle&) = delete;
    Handle& operator= (const Handle&) = delete;
    bool valid() const { return handle != INVALID_HANDLE_VALUE && handle != nullptr; }
    HANDLE handle;
};

// What the system tells of a collection instead of its descriptor: its usage page, its
// reports' ids (Windows puts one before every report, 0 when unnumbered) and lengths.
struct Collection
{
    ReportDescriptorSummary summary;
    USHORT inputLength = 0;
    USHORT outputLength = 0;
};

bool describe (HANDLE device, Collection& collection)
{
    PHIDP_PREPARSED_DATA data = nullptr;
    if (! HidD_GetPreparsedData (device, &data))
        return false;

    HIDP_CAPS caps {};
    const bool described = HidP_GetCaps (data, &caps) == HIDP_STATUS_SUCCESS;
    if (described)
    {
        collection.summary.usagePages = { caps.UsagePage };
        collection.summary.valid = true;
        collection.inputLength = caps.InputReportByteLength;
        collection.outputLength = caps.OutputReportByteLength;

        const auto reportIds = [&] (HIDP_REPORT_TYPE type, USHORT valueCount, USHORT buttonCount) {
            std::vector<UCHAR> ids;
            std::vector<HIDP_VALUE_CAPS> values (valueCount);
            if (valueCount > 0 && HidP_GetValueCaps (type, values.data(), &valueCount, data) == HIDP_STATUS_SUCCESS)
                for (USHORT i = 0; i < valueCount; ++i)
                    ids.push_back (values[i].ReportID);
            std::vector<HIDP_BUTTON_CAPS> buttons (buttonCount);
            if (buttonCount > 0 && HidP_GetButtonCaps (type, buttons.data(), &buttonCount, data) == HIDP_STATUS_SUCCESS)
                for (USHORT i = 0; i < buttonCount; ++i)
                    ids.push_back (buttons[i].ReportID);
            return ids;
        };

        const auto outputs = reportIds (HidP_Output, caps.NumberOutputValueCaps, caps.NumberOutputButtonCaps);
        const auto inputs = reportIds (HidP_Input, caps.NumberInputValueCaps, caps.NumberInputButtonCaps);
        const auto numbered = [] (UCHAR id) { return id != 0; };
        collection.summary.numbered = std::any_of (outputs.begin(), outputs.end(), numbered)
                                      || std::any_of (inputs.begin(), inputs.end(), numbered);
        auto firstOutput = std::find_if (outputs.begin(), outputs.end(), numbered);
        collection.summary.outputReportId = firstOutput != outputs.end() ? *firstOutput : 0;
    }

    HidD_FreePreparsedData (data);
    return described;
}

// "\\?\hid#vid_1209&pid_7000&mi_01#..." names the USB interface of a composite device.
int interfaceNumberIn (std::string path)
{
    std::transform (path.begin(), path.end(), path.begin(), [] (char c) { return (char) std::tolower ((unsigned char) c); });
    const auto at = path.find ("&mi_");
    if (at == std::string::npos || at + 6 > path.size())
        return -1;
    return (int) std::strtol (path.substr (at + 4, 2).c_str(), nullptr, 16);
}

class WindowsHidPort final : public HidPort
{
public:
    WindowsHidPort (HANDLE h, const Collection& collection)
        : device (h),
          inputLength (std::max<USHORT> (collection.inputLength, 1)),
          outputLength (collection.outputLength),
          readBuffer (inputLength)
    {
        readDone.hEvent = CreateEventW (nullptr, TRUE, FALSE, nullptr);
        writeDone.hEvent = CreateEventW (nullptr, TRUE, FALSE, nullptr);
    }

    ~WindowsHidPort() override
    {
        // The read stays pending between calls; it must end before its buffer goes.
        if (pending)
        {
            DWORD ignored = 0;
            CancelIoEx (device.handle, &readDone);
            GetOverlappedResult (device.handle, &readDone, &ignored, TRUE);
        }
        CloseHandle (readDone.hEvent);
        CloseHandle (writeDone.hEvent);
    }

    int read (std::uint8_t* buffer, std::size_t size, int timeoutMs) override
    {
        DWORD got = 0;
        if (! pending)
        {
            ResetEvent (readDone.hEvent);
            if (ReadFile (device.handle, readBuffer.data(), (DWORD) readBuffer.size(), &got, &readDone))
                return deliver (buffer, size, got);
            if (GetLastError() != ERROR_IO_PENDING)
                return -1;
            pending = true;
        }

        // A read that times out stays pending, so no report is lost between calls.
        if (WaitForSingleObject (readDone.hEvent, (DWORD) timeoutMs) == WAIT_TIMEOUT)
            return 0;

        pending = false;
        // The device left: Windows says ERROR_DEVICE_NOT_CONNECTED, Wine ERROR_ACCESS_DENIED.
        if (! GetOverlappedResult (device.handle, &readDone, &got, FALSE))
            return -1;
        return deliver (buffer, size, got);
    }

    int write (const std::uint8_t* data, std::size_t size) override
    {
        // Windows takes exactly the collection's output length, id first, zeros after.
        if (size == 0 || size > outputLength)
            return -1;
        std::vector<std::uint8_t> report (outputLength, 0);
        std::memcpy (report.data(), data, size);

        ResetEvent (writeDone.hEvent);
        DWORD written = 0;
        if (! WriteFile (device.handle, report.data(), (DWORD) report.size(), &written, &writeDone))
        {
            if (GetLastError() != ERROR_IO_PENDING)
                return -1;
            if (WaitForSingleObject (writeDone.hEvent, writeTimeoutMs) == WAIT_TIMEOUT)
            {
                // A device that takes nothing for a second is as good as gone.
                CancelIoEx (device.handle, &writeDone);
                GetOverlappedResult (device.handle, &writeDone, &written, TRUE);
                return -1;
            }
            if (! GetOverlappedResult (device.handle, &writeDone, &written, FALSE))
                return -1;
        }
        // Wine counts a numbered report without its id: any count is the whole report.
        return written > 0 ? (int) size : -1;
    }

private:
    // Windows puts the report id (0 when unnumbered) before every input report; hidraw
    // only where the device numbers them, and the bridge reads reports as hidraw gives them.
    int deliver (std::uint8_t* buffer, std::size_t size, DWORD got)
    {
        const std::size_t skip = got > 0 && readBuffer[0] == 0 ? 1 : 0;
        if (got <= skip)
            return 0;
        const auto count = std::min<std::size_t> (got - skip, size);
        std::memcpy (buffer, readBuffer.data() + skip, count);
        return (int) count;
    }

    static constexpr DWORD writeTimeoutMs = 1000;

    Handle device;
    USHORT inputLength;
    USHORT outputLength;
    std::vector<std::uint8_t> readBuffer;
    OVERLAPPED readDone {};
    OVERLAPPED writeDone {};
    bool pending = false;
};

class WindowsHidBackend final : public HidBackend
{
public:
    std::vector<HidDeviceInfo> enumerate() override
    {
        std::vector<HidDeviceInfo> found;
        GUID hidClass;
        HidD_GetHidGuid (&hidClass);
        HDEVINFO set = SetupDiGetClassDevsW (&hidClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
        if (set == INVALID_HANDLE_VALUE)
            return found;

        SP_DEVICE_INTERFACE_DATA entry {};
        entry.cbSize = sizeof (entry);
        for (DWORD index = 0; SetupDiEnumDeviceInterfaces (set, nullptr, &hidClass, index, &entry); ++index)
        {
            DWORD needed = 0;
            SetupDiGetDeviceInterfaceDetailW (set, &entry, nullptr, 0, &needed, nullptr);
            if (needed < sizeof (SP_DEVICE_INTERFACE_DETAIL_DATA_W))
                continue;
            std::vector<std::uint8_t> storage (needed);
            auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*> (storage.data());
            detail->cbSize = sizeof (SP_DEVICE_INTERFACE_DETAIL_DATA_W);
            if (! SetupDiGetDeviceInterfaceDetailW (set, &entry, detail, needed, nullptr, nullptr))
                continue;

            HidDeviceInfo info;
            if (describeInterface (detail->DevicePath, info))
                found.push_back (std::move (info));
        }

        SetupDiDestroyDeviceInfoList (set);
        return found;
    }

    std::unique_ptr<HidPort> open (const std::string& path, std::string& reason, int& error) override
    {
        Handle device (CreateFileW (widen (path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
        Collection collection;
        if (! device.valid() || ! describe (device.handle, collection))
        {
            error = (int) GetLastError();
            reason = errorText ((DWORD) error);
            return nullptr;
        }

        // Room for a burst of knob reports while the reader is between reads.
        HidD_SetNumInputBuffers (device.handle, 128);
        auto port = std::make_unique<WindowsHidPort> (device.handle, collection);
        device.handle = INVALID_HANDLE_VALUE;
        return port;
    }

private:
    static bool describeInterface (const wchar_t* devicePath, HidDeviceInfo& info)
    {
        // No access asked: the attributes of any HID interface can be read this way, also
        // of the keyboards and mice that the system keeps for itself.
        Handle device (CreateFileW (devicePath, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
        if (! device.valid())
            return false;

        HIDD_ATTRIBUTES attributes {};
        attributes.Size = sizeof (attributes);
        if (! HidD_GetAttributes (device.handle, &attributes) || attributes.VendorID != krv7000::usbVendorId
            || attributes.ProductID != krv7000::usbProductId)
            return false;

        info.path = narrow (devicePath);
        info.vendorId = attributes.VendorID;
        info.productId = attributes.ProductID;
        info.releaseNumber = attributes.VersionNumber;
        info.interfaceNumber = interfaceNumberIn (info.path);

        wchar_t serial[128] {};
        if (HidD_GetSerialNumberString (device.handle, serial, sizeof (serial)))
            info.serialNumber = narrow (serial);

        Collection collection;
        if (describe (device.handle, collection))
            info.describedBySystem = collection.summary;
        return true;
    }
};
} // namespace

std::unique_ptr<HidBackend> createSystemBackend()
{
    return std::make_unique<WindowsHidBackend>();
}
} // namespace fwbridge
