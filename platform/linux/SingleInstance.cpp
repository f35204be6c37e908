#include "platform/SingleInstance.h"

#include <juce_events/juce_events.h>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <fcntl.h>

#include <atomic>
#include <cstring>
#include <thread>

namespace
{
// Abstract-namespace socket: no file to clean up, gone with the process, and binding it
// is atomic, so two simultaneous starts cannot both win.
socklen_t makeAddress (const juce::String& applicationName, sockaddr_un& address)
{
    std::memset (&address, 0, sizeof (address));
    address.sun_family = AF_UNIX;
    auto name = applicationName + "-" + juce::String ((int) getuid());
    auto utf8 = name.toRawUTF8();
    auto length = std::min (std::strlen (utf8), sizeof (address.sun_path) - 2);
    std::memcpy (address.sun_path + 1, utf8, length);
    return static_cast<socklen_t> (offsetof (sockaddr_un, sun_path) + 1 + length);
}

struct Listener
{
    int socket = -1;
    int wakePipe[2] { -1, -1 };
    std::thread thread;
    std::function<void (const juce::String&)> callback;

    void run()
    {
        for (;;)
        {
            pollfd fds[2] = { { socket, POLLIN, 0 }, { wakePipe[0], POLLIN, 0 } };
            if (::poll (fds, 2, -1) < 0)
                continue;

            if (fds[1].revents != 0)
                return;

            if ((fds[0].revents & POLLIN) == 0)
                continue;

            const int client = ::accept (socket, nullptr, nullptr);
            if (client < 0)
                continue;

            juce::MemoryBlock received;
            char buffer[1024];
            pollfd clientPoll { client, POLLIN, 0 };

            // A well-behaved peer sends its command line and closes; a stuck one is cut off.
            while (received.getSize() < 65536 && ::poll (&clientPoll, 1, 2000) > 0)
            {
                auto n = ::read (client, buffer, sizeof (buffer));
                if (n <= 0)
                    break;
                received.append (buffer, (size_t) n);
            }

            ::close (client);

            auto commandLine = received.toString();
            auto cb = callback;
            juce::MessageManager::callAsync ([cb, commandLine] { cb (commandLine); });
        }
    }
};

Listener* listener = nullptr;
} // namespace

bool SingleInstance::claimOrHandOver (const juce::String& applicationName,
                                      const juce::String& commandLine,
                                      std::function<void (const juce::String&)> onAnotherInstance)
{
    if (listener != nullptr)
        return true;

    sockaddr_un address;
    const auto addressLength = makeAddress (applicationName, address);

    const int server = ::socket (AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (server < 0)
        return true;

    if (::bind (server, reinterpret_cast<sockaddr*> (&address), addressLength) == 0 && ::listen (server, 4) == 0)
    {
        listener = new Listener();
        listener->socket = server;
        listener->callback = std::move (onAnotherInstance);

        if (::pipe2 (listener->wakePipe, O_CLOEXEC) != 0)
        {
            listener->wakePipe[0] = listener->wakePipe[1] = -1;
            return true;
        }

        listener->thread = std::thread ([] { listener->run(); });
        return true;
    }

    ::close (server);

    const int client = ::socket (AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (client < 0)
        return true;

    bool handedOver = false;
    if (::connect (client, reinterpret_cast<sockaddr*> (&address), addressLength) == 0)
    {
        auto utf8 = commandLine.toRawUTF8();
        auto remaining = std::strlen (utf8);
        while (remaining > 0)
        {
            auto n = ::send (client, utf8, remaining, MSG_NOSIGNAL);
            if (n <= 0)
                break;
            utf8 += n;
            remaining -= (size_t) n;
        }
        handedOver = true;
    }

    ::close (client);
    return ! handedOver;
}

void SingleInstance::release()
{
    if (listener == nullptr)
        return;

    if (listener->wakePipe[1] >= 0)
    {
        char wake = 1;
        [[maybe_unused]] auto written = ::write (listener->wakePipe[1], &wake, 1);
    }

    if (listener->thread.joinable())
        listener->thread.join();

    ::close (listener->socket);
    for (int fd : listener->wakePipe)
        if (fd >= 0)
            ::close (fd);

    delete listener;
    listener = nullptr;
}
