#include "ControlFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace krvsim
{
void ControlFileReader::start (const std::string& path, std::function<void (const std::string&)> handleLine)
{
    stop();
    handler = std::move (handleLine);
    {
        std::lock_guard<std::mutex> guard (lock);
        stopping = false;
    }
    thread = std::thread ([this, path] { readLoop (path); });
}

void ControlFileReader::stop()
{
    {
        std::lock_guard<std::mutex> guard (lock);
        stopping = true;
    }
    wake.notify_all();

    if (thread.joinable())
        thread.join();
}

void ControlFileReader::readLoop (std::string path)
{
    int fd = -1;
    std::string pending;

    for (;;)
    {
        if (fd < 0)
        {
            struct stat info = {};
            if (::stat (path.c_str(), &info) == 0)
                fd = ::open (path.c_str(), (S_ISFIFO (info.st_mode) ? O_RDWR : O_RDONLY) | O_NONBLOCK | O_CLOEXEC);
        }

        if (fd >= 0)
        {
            struct stat info = {};
            const auto offset = ::lseek (fd, 0, SEEK_CUR);
            if (::fstat (fd, &info) == 0 && S_ISREG (info.st_mode) && offset > info.st_size)
            {
                // The file was started afresh.
                ::lseek (fd, 0, SEEK_SET);
                pending.clear();
            }

            char buffer[512];
            for (;;)
            {
                const auto count = ::read (fd, buffer, sizeof (buffer));
                if (count <= 0)
                    break;
                pending.append (buffer, (size_t) count);
            }

            for (auto newline = pending.find ('\n'); newline != std::string::npos; newline = pending.find ('\n'))
            {
                const auto line = pending.substr (0, newline);
                pending.erase (0, newline + 1);
                handler (line);
            }
        }

        std::unique_lock<std::mutex> guard (lock);
        if (wake.wait_for (guard, std::chrono::milliseconds (20), [this] { return stopping; }))
            break;
    }

    if (fd >= 0)
        ::close (fd);
}
} // namespace krvsim
