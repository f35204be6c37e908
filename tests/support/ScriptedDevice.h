#pragma once

// A device library for tests: the ten functions over a scripted set of devices. Tests
// attach and detach devices, queue input reports and answer writes; messages reach the
// link through the real PostMessageA, as from a real library.

#include "device/DeviceLibrary.h"
#include "platform/Win32.h"

#include <cstdint>
#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

class ScriptedDevice
{
public:
    struct Device
    {
        int hidNumber;
        int type;
        int version;
    };

    using Report = std::vector<std::uint8_t>;
    /** Called on the writing thread for every HID_Write; return value is HID_Write's. */
    using WriteHandler = std::function<int (int hidNumber, const Report& report)>;

    ScriptedDevice()
    {
        instance() = this;
        DeviceLibrary::useInstead (&api);
    }

    ~ScriptedDevice()
    {
        DeviceLibrary::useInstead (nullptr);
        instance() = nullptr;
    }

    // --- what the test scripts -------------------------------------------------------
    void plugIn (int hidNumber, int type, int version, bool announce = true)
    {
        {
            std::lock_guard<std::mutex> g (lock);
            devices.push_back ({ hidNumber, type, version });
        }
        if (announce)
            post (HID_MSG_ARRIVED, hidNumber);
    }

    void unplug (int hidNumber, bool announce = true)
    {
        {
            std::lock_guard<std::mutex> g (lock);
            for (auto it = devices.begin(); it != devices.end(); ++it)
                if (it->hidNumber == hidNumber)
                {
                    devices.erase (it);
                    break;
                }
        }
        if (announce)
            post (HID_MSG_REMOVED, hidNumber);
    }

    /** Queues an input report and announces it; any thread. */
    void sendInput (int hidNumber, const Report& report, int reportedLength = -1)
    {
        {
            std::lock_guard<std::mutex> g (lock);
            pending.push_back ({ report, reportedLength < 0 ? (int) report.size() : reportedLength });
        }
        post (HID_MSG_INPUT, hidNumber);
    }

    /** Like sendInput, but HID_Input claims exactly reportedLength (negative too). */
    void sendInputClaiming (int hidNumber, const Report& report, int reportedLength)
    {
        {
            std::lock_guard<std::mutex> g (lock);
            pending.push_back ({ report, reportedLength });
        }
        post (HID_MSG_INPUT, hidNumber);
    }

    /** Called for every HID_GetDeviceType, after the library's lock is released. */
    void onTypeQuery (std::function<void (int hidNumber)> handler)
    {
        std::lock_guard<std::mutex> g (lock);
        typeQueryHandler = std::move (handler);
    }

    void onWrite (WriteHandler handler)
    {
        std::lock_guard<std::mutex> g (lock);
        writeHandler = std::move (handler);
    }

    std::vector<Report> writes() const
    {
        std::lock_guard<std::mutex> g (lock);
        return written;
    }

    int writeCount() const
    {
        std::lock_guard<std::mutex> g (lock);
        return (int) written.size();
    }

    std::vector<int> typesAsked() const
    {
        std::lock_guard<std::mutex> g (lock);
        return askedTypes;
    }

    int versionTypeAsked() const
    {
        std::lock_guard<std::mutex> g (lock);
        return lastVersionType;
    }

    int pendingInputs() const
    {
        std::lock_guard<std::mutex> g (lock);
        return (int) pending.size();
    }

    bool isStarted() const
    {
        std::lock_guard<std::mutex> g (lock);
        return started;
    }

    HWND callbackWindow() const
    {
        std::lock_guard<std::mutex> g (lock);
        return window;
    }

    /** The message numbers of the last HID_SetCallback: input, arrival, removal. */
    std::vector<unsigned> callbackMessages() const
    {
        std::lock_guard<std::mutex> g (lock);
        return messages;
    }

    /** Every library function called, by name, in order (HID_Input and HID_Write too). */
    std::vector<std::string> calls() const
    {
        std::lock_guard<std::mutex> g (lock);
        return called;
    }

    void clearCalls()
    {
        std::lock_guard<std::mutex> g (lock);
        called.clear();
    }

    void post (UINT message, int hidNumber)
    {
        HWND target;
        {
            std::lock_guard<std::mutex> g (lock);
            target = started ? window : nullptr;
        }
        if (target != nullptr)
            PostMessageA (target, message, (WPARAM) hidNumber, 0);
    }

    /** FWBRIDGE_CALL: the library's convention, which 32-bit Windows tells apart. */
    FwBridgeApi api {
        [] (void*) FWBRIDGE_CALL {
        std::lock_guard<std::mutex> g (instance()->lock);
        instance()->called.push_back ("HID_Initialize");
        return 1;
        },
        [] (void* w, unsigned input, unsigned arrival, unsigned removal) FWBRIDGE_CALL {
        std::lock_guard<std::mutex> g (instance()->lock);
        instance()->called.push_back (w != nullptr ? "HID_SetCallback" : "HID_SetCallback(null)");
        instance()->window = static_cast<HWND> (w);
        instance()->messages = { input, arrival, removal };
        return 1;
    },
        []() FWBRIDGE_CALL {
        std::lock_guard<std::mutex> g (instance()->lock);
        instance()->called.push_back ("HID_Start");
        instance()->started = true;
        return 1;
        },
        []() FWBRIDGE_CALL {
        std::lock_guard<std::mutex> g (instance()->lock);
        instance()->called.push_back ("HID_Stop");
        instance()->started = false;
        return 1;
        },
        []() FWBRIDGE_CALL {
        std::lock_guard<std::mutex> g (instance()->lock);
        instance()->called.push_back ("HID_Finalize");
        return 1;
        },
        [] (int* numbers) FWBRIDGE_CALL {
        std::lock_guard<std::mutex> g (instance()->lock);
        instance()->called.push_back ("HID_EnumHIDno");
        int n = 0;
        for (auto& d : instance()->devices)
            if (n < HID_MAX_DEVICES)
                numbers[n++] = d.hidNumber;
        return n;
        },
        [] (int hidNumber) FWBRIDGE_CALL {
        int type = -1;
        std::function<void (int)> handler;
        {
            std::lock_guard<std::mutex> g (instance()->lock);
            instance()->called.push_back ("HID_GetDeviceType");
            handler = instance()->typeQueryHandler;
            for (auto& d : instance()->devices)
                if (d.hidNumber == hidNumber)
                {
                    instance()->askedTypes.push_back (d.type);
                    type = d.type;
                    break;
                }
        }
        if (handler)
            handler (hidNumber);
        return type;
        },
        [] (int type, int* version, int) FWBRIDGE_CALL {
        std::lock_guard<std::mutex> g (instance()->lock);
        instance()->called.push_back ("HID_GetFirmwareVersion");
        instance()->lastVersionType = type;
        for (auto& d : instance()->devices)
            if (d.type == type)
            {
                version[0] = d.version;
                return 1;
            }
        return 0;
        },
        [] (int, unsigned char* buffer, int* length) FWBRIDGE_CALL {
        std::lock_guard<std::mutex> g (instance()->lock);
        instance()->called.push_back ("HID_Input");
        auto& queue = instance()->pending;
        if (queue.empty())
        {
            *length = 0;
            return 0;
        }
        auto next = queue.front();
        queue.pop_front();
        // Like a careless library: copies at most the capacity, but reports what it likes.
        const int copy = std::min<int> ((int) next.bytes.size(), *length);
        if (copy > 0)
            std::memcpy (buffer, next.bytes.data(), (size_t) copy);
        *length = next.reportedLength;
        return 1;
        },
        [] (int hidNumber, const unsigned char* data, int length) FWBRIDGE_CALL {
        WriteHandler handler;
        Report report (data, data + length);
        {
            std::lock_guard<std::mutex> g (instance()->lock);
            instance()->called.push_back ("HID_Write");
            instance()->written.push_back (report);
            handler = instance()->writeHandler;
        }
        return handler ? handler (hidNumber, report) : 1;
        }
    };

private:
    struct Pending
    {
        Report bytes;
        int reportedLength;
    };

    static ScriptedDevice*& instance()
    {
        static ScriptedDevice* current = nullptr;
        return current;
    }

    mutable std::mutex lock;
    std::vector<Device> devices;
    std::deque<Pending> pending;
    std::vector<Report> written;
    std::vector<int> askedTypes;
    int lastVersionType = -1;
    WriteHandler writeHandler;
    std::function<void (int)> typeQueryHandler;
    HWND window = nullptr;
    bool started = false;
    std::vector<unsigned> messages;
    std::vector<std::string> called;
};
