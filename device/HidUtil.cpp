#include "device/HidUtil.h"

#include "device/DeviceLibrary.h"

std::atomic<HidUtil*> HidUtil::activeInstance { nullptr };

HidUtil::~HidUtil()
{
    stop();
}

int HidUtil::acceptedType() const noexcept
{
    return static_cast<unsigned> (modelIndex) < 2 ? acceptedDeviceTypes[modelIndex] : -1;
}

bool HidUtil::start (HidHandler* newOwner, int newModelIndex)
{
    HidUtil* expected = nullptr;
    if (! activeInstance.compare_exchange_strong (expected, this))
        return false;

    owner = newOwner;
    modelIndex = newModelIndex;

    instance = GetModuleHandleA (nullptr);
    if (instance == nullptr)
    {
        stop();
        return false;
    }

    WNDCLASSA windowClass {};
    windowClass.style = 0;
    windowClass.lpfnWndProc = windowProcedure;
    windowClass.cbClsExtra = 0;
    windowClass.cbWndExtra = 0;
    windowClass.hInstance = instance;
    windowClass.hIcon = nullptr;
    windowClass.hCursor = LoadCursorA (nullptr, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH> (GetStockObject (BLACK_BRUSH));
    windowClass.lpszMenuName = nullptr;
    windowClass.lpszClassName = windowClassName;
    RegisterClassA (&windowClass);

    window = CreateWindowExA (0, windowClassName, windowClassName, WS_OVERLAPPEDWINDOW | WS_DISABLED,
                              0, 0, 10, 10, nullptr, nullptr, instance, nullptr);
    if (window == nullptr)
    {
        stop();
        return false;
    }

    ShowWindow (window, SW_HIDE);

    // A missing device library is a failed start like any other: no device, no events.
    api = DeviceLibrary::get();
    if (api == nullptr)
    {
        stop();
        return false;
    }

    api->initialize (instance);
    api->setCallback (window, HID_MSG_INPUT, HID_MSG_ARRIVED, HID_MSG_REMOVED);
    if (const auto note = DeviceLibrary::conventionNote (*api); note.isNotEmpty())
        OutputDebugStringA ((note + "\n").toRawUTF8());
    api->start();
    return true;
}

void HidUtil::stop()
{
    release();

    HidUtil* self = this;
    activeInstance.compare_exchange_strong (self, nullptr);
    owner = nullptr;

    if (instance != nullptr && window != nullptr)
    {
        if (api != nullptr)
        {
            api->stop();
            api->setCallback (nullptr, 0, 0, 0);
            api->finalize();
        }

        DestroyWindow (window);
        UnregisterClassA (windowClassName, instance);
        instance = nullptr;
        window = nullptr;
    }

    api = nullptr;
}

bool HidUtil::lookup()
{
    if (hidNumber.load() >= 0)
        return true;

    if (api == nullptr)
        return false;

    int numbers[HID_MAX_DEVICES] {};
    const int count = api->enumHidNumbers (numbers);
    const int listed = count < 0 ? 0 : (count > HID_MAX_DEVICES ? HID_MAX_DEVICES : count);

    for (int i = 0; i < listed; ++i)
    {
        // -1 means "no device" here; a library that lists it has nothing to offer.
        if (numbers[i] >= 0 && api->getDeviceType (numbers[i]) == acceptedType())
        {
            hidNumber.store (numbers[i]);
            return true;
        }
    }

    return false;
}

bool HidUtil::release()
{
    if (hidNumber.load() < 0)
        return false;

    hidNumber.store (-1);
    return true;
}

int HidUtil::readFirmwareVersion()
{
    if (hidNumber.load() < 0 || api == nullptr)
        return 0;

    int version[2] = { 0, 0 };
    api->getFirmwareVersion (acceptedType(), version, 1);
    return version[0];
}

int HidUtil::readInput (std::uint8_t* buffer, int capacity)
{
    const int number = hidNumber.load();
    if (buffer == nullptr || capacity == 0 || number < 0 || api == nullptr)
        return 0;

    int length = capacity;
    api->input (number, buffer, &length);
    return length;
}

bool HidUtil::write (const std::uint8_t* data, int length)
{
    const int number = hidNumber.load();
    if (data == nullptr || length == 0 || number < 0 || api == nullptr)
        return false;

    return api->write (number, data, length) != 0;
}

LRESULT CALLBACK HidUtil::windowProcedure (HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (auto* util = activeInstance.load(); util != nullptr && util->owner != nullptr)
    {
        const auto number = static_cast<int> (wParam);

        switch (message)
        {
            case HID_MSG_REMOVED:
                if (number == util->hidNumber.load() && util->release())
                    util->owner->deviceDetached();
                break;

            case HID_MSG_ARRIVED:
                if (util->hidNumber.load() < 0 && util->lookup())
                    util->owner->deviceAttached();
                break;

            case HID_MSG_INPUT:
                if (number == util->hidNumber.load())
                    util->owner->inputReceived();
                break;

            default:
                break;
        }
    }

    return DefWindowProcA (window, message, wParam, lParam);
}
