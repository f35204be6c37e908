// The start of an update through the shipped device library, alone (no updater): finds
// the one KRV-7000, reads its version, asks for update mode and sends the information
// report, checking each answer. With --record DIR, run beside a controller (emulated or
// real), it also writes the dialogue as an umockdev script and the node's ioctls, so
// that umockdev-run can replay the controller here later:
//   krv_replay_probe LIBRARY [--record DIR]
#include "device/FwBridge.h"

#include <dlfcn.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

namespace
{
std::mutex lock;
std::condition_variable posted;
std::deque<std::pair<unsigned, int>> messages;

using Report = std::vector<std::uint8_t>;

// umockdev's script encoding: bytes up to 32 as '^' and b + 64, '^' itself as "^`".
std::string scriptData (const Report& bytes)
{
    std::string text;
    for (auto b : bytes)
    {
        if (b <= 32)
            text += std::string ("^") + (char) (b + 64);
        else if (b == '^')
            text += "^`";
        else
            text.push_back ((char) b);
    }
    return text;
}

std::string hex (const std::uint8_t* bytes, std::size_t count)
{
    std::string text;
    char digits[3];
    for (std::size_t i = 0; i < count; ++i)
    {
        std::snprintf (digits, sizeof (digits), "%02X", bytes[i]);
        text += digits;
    }
    return text;
}

int fail (const std::string& why)
{
    std::fprintf (stderr, "krv_replay_probe: %s\n", why.c_str());
    return 1;
}
} // namespace

extern "C" __attribute__ ((visibility ("default"))) int PostMessageA (void*, unsigned message, std::uintptr_t wParam, std::intptr_t)
{
    std::lock_guard<std::mutex> guard (lock);
    messages.emplace_back (message, (int) wParam);
    posted.notify_all();
    return 1;
}

int main (int argc, char** argv)
{
    if (argc < 2)
        return fail ("usage: krv_replay_probe LIBRARY [--record DIR]");
    const std::string recordDir = argc >= 4 && std::strcmp (argv[2], "--record") == 0 ? argv[3] : "";

    auto* library = dlopen (argv[1], RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr)
        return fail (dlerror());
    auto fn = [&] (const char* name) { return dlsym (library, name); };
    auto start = (HID_Start_t) fn ("HID_Start");
    auto stop = (HID_Stop_t) fn ("HID_Stop");
    auto setCallback = (HID_SetCallback_t) fn ("HID_SetCallback");
    auto enumerate = (HID_EnumHIDno_t) fn ("HID_EnumHIDno");
    auto deviceType = (HID_GetDeviceType_t) fn ("HID_GetDeviceType");
    auto firmwareVersion = (HID_GetFirmwareVersion_t) fn ("HID_GetFirmwareVersion");
    auto input = (HID_Input_t) fn ("HID_Input");
    auto write = (HID_Write_t) fn ("HID_Write");
    auto finalize = (HID_Finalize_t) fn ("HID_Finalize");

    int dummyWindow = 0;
    setCallback (&dummyWindow, HID_MSG_INPUT, HID_MSG_ARRIVED, HID_MSG_REMOVED);
    start();

    int numbers[HID_MAX_DEVICES] {};
    if (enumerate (numbers) != 1 || deviceType (numbers[0]) != HID_TYPE_KRV7000)
        return fail ("no KRV-7000 listed");
    const int number = numbers[0];
    int version[2] = { 0, 0 };
    firmwareVersion (HID_TYPE_KRV7000, version, 1);
    if (version[0] != 102)
        return fail ("version " + std::to_string (version[0]) + ", not 102 (from bcdDevice 0x0102)");

    // Mode request, then the information report of a one-record update of 62 bytes.
    Report mode (64, 0);
    mode[0] = 0xF4;
    Report info (64, 0);
    const std::uint8_t infoHead[] = { 0xF0, 0x00, 0x06, 0x70, 62, 0, 0, 62, 0, 0, 0x81, 0x34, 0x12 };
    std::memcpy (info.data(), infoHead, sizeof (infoHead));
    for (int r = 2; r <= 12; ++r)
        info[(std::size_t) (10 + 3 * (r - 1))] = (std::uint8_t) r;
    const std::pair<Report, std::uint8_t> steps[] = { { mode, 0xF6 }, { info, 0xF8 } };

    std::string script = "d 0 /dev/hidraw0\n";
    for (const auto& [report, expected] : steps)
    {
        {
            std::lock_guard<std::mutex> guard (lock);
            messages.clear();
        }
        if (write (number, report.data(), (int) report.size()) == 0)
            return fail ("HID_Write failed");
        Report withId (1, 0);
        withId.insert (withId.end(), report.begin(), report.end());
        script += "w 0 " + scriptData (withId) + "\n";

        // Its answer: the first input report whose code is the protocol's (knobs may turn).
        Report answer;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds (3);
        std::unique_lock<std::mutex> guard (lock);
        while (answer.empty() || answer[0] < 0xF0)
        {
            if (! posted.wait_until (guard, deadline, [] { return ! messages.empty(); }))
                return fail ("no answer to report 0x" + hex (report.data(), 1));
            const auto [message, from] = messages.front();
            messages.pop_front();
            if (message != HID_MSG_INPUT || from != number)
                continue;
            std::uint8_t buffer[HID_INPUT_CAPACITY] {};
            int length = HID_INPUT_CAPACITY;
            guard.unlock();
            if (input (number, buffer, &length) != 0)
                answer.assign (buffer, buffer + length);
            guard.lock();
        }
        if (answer[0] != expected || (expected == 0xF6 && answer[1] != 1))
            return fail ("answer " + hex (answer.data(), 2) + " to report 0x" + hex (report.data(), 1));
        script += "r 5 " + scriptData (answer) + "\n";
    }

    stop();
    finalize();

    if (! recordDir.empty())
    {
        std::ofstream (recordDir + "/krv7000.script", std::ios::binary) << script;

        // The node's ioctls as hidapi asks them: the descriptor's size, then the descriptor.
        std::ifstream sysfs ("/sys/class/hidraw/hidraw0/device/report_descriptor", std::ios::binary);
        const Report descriptor ((std::istreambuf_iterator<char> (sysfs)), std::istreambuf_iterator<char>());
        std::uint8_t size[4] = { (std::uint8_t) descriptor.size(), (std::uint8_t) (descriptor.size() >> 8), 0, 0 };
        Report full (4 + 4096, 0);
        std::memcpy (full.data(), size, 4);
        std::memcpy (full.data() + 4, descriptor.data(), descriptor.size());
        std::ofstream (recordDir + "/krv7000.ioctl") << "@DEV /dev/hidraw0\n"
                                                     << "HIDIOCGRDESCSIZE 0 " << hex (size, 4) << "\n"
                                                     << "HIDIOCGRDESC 0 " << hex (full.data(), full.size()) << "\n";
    }
    std::printf ("krv_replay_probe: the KRV-7000 answered as recorded\n");
    return 0;
}
