#include "SimLog.h"

#include <ctime>
#include <sys/time.h>

namespace krvsim
{
bool SimLog::open (const std::string& path, const std::string& title)
{
    std::lock_guard<std::mutex> guard (lock);
    if (file != nullptr)
        std::fclose (file);

    file = path.empty() ? nullptr : std::fopen (path.c_str(), "w");
    began = std::chrono::steady_clock::now();
    if (file != nullptr)
    {
        std::fprintf (file, "# %s: time of day, seconds since start, what happened.\n"
                            "# out = host to controller, in = controller to host; bytes in hex.\n",
                      title.c_str());
        std::fflush (file);
    }
    return file != nullptr;
}

void SimLog::close()
{
    std::lock_guard<std::mutex> guard (lock);
    if (file != nullptr)
        std::fclose (file);
    file = nullptr;
}

bool SimLog::isOpen() const
{
    std::lock_guard<std::mutex> guard (lock);
    return file != nullptr;
}

void SimLog::write (const std::string& text)
{
    std::lock_guard<std::mutex> guard (lock);
    if (file == nullptr)
        return;

    timeval now {};
    gettimeofday (&now, nullptr);
    std::tm local {};
    const std::time_t seconds = now.tv_sec;
    localtime_r (&seconds, &local);

    const auto elapsed = std::chrono::duration<double> (std::chrono::steady_clock::now() - began).count();
    std::fprintf (file, "%02d:%02d:%02d.%06ld  +%11.6f  %s\n", local.tm_hour, local.tm_min, local.tm_sec,
                  static_cast<long> (now.tv_usec), elapsed, text.c_str());
    std::fflush (file);
}

std::string SimLog::hex (const fwbridge::Report& report)
{
    static const char digits[] = "0123456789abcdef";
    size_t end = report.size();
    size_t run = 0;
    while (end > 1 && report[end - 1] == report[end - 2])
    {
        --end;
        ++run;
    }
    // end now indexes the first byte of the trailing run (which is report[end - 1]).
    const bool compress = run >= 3;
    const size_t shown = compress ? end - 1 : report.size();

    std::string text;
    text.reserve (shown * 3 + 16);
    for (size_t i = 0; i < shown; ++i)
    {
        if (i > 0)
            text.push_back (' ');
        text.push_back (digits[report[i] >> 4]);
        text.push_back (digits[report[i] & 0xF]);
    }

    if (compress)
    {
        const auto value = report[end - 1];
        if (! text.empty())
            text.push_back (' ');
        text.push_back (digits[value >> 4]);
        text.push_back (digits[value & 0xF]);
        text += "*" + std::to_string (run + 1);
    }
    return text;
}
} // namespace krvsim
