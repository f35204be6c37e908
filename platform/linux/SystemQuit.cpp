#include "platform/SystemQuit.h"

#include <juce_events/juce_events.h>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

#include <thread>

namespace
{
int quitPipe[2] { -1, -1 };
std::thread* watcher = nullptr;

void onSignal (int)
{
    const char byte = 1;
    [[maybe_unused]] auto written = ::write (quitPipe[1], &byte, 1); // async-signal-safe
}
} // namespace

void SystemQuit::install()
{
    if (watcher != nullptr || ::pipe2 (quitPipe, O_CLOEXEC) != 0)
        return;

    watcher = new std::thread ([] {
        char byte = 0;
        while (::read (quitPipe[0], &byte, 1) == 1 && byte == 1)
            juce::MessageManager::callAsync ([] {
                if (auto* app = juce::JUCEApplicationBase::getInstance())
                    app->systemRequestedQuit();
            });
    });

    struct sigaction action
    {};
    action.sa_handler = onSignal;
    sigemptyset (&action.sa_mask);
    sigaction (SIGTERM, &action, nullptr);
    sigaction (SIGHUP, &action, nullptr);
    sigaction (SIGINT, &action, nullptr);
}

void SystemQuit::uninstall()
{
    if (watcher == nullptr)
        return;

    std::signal (SIGTERM, SIG_DFL);
    std::signal (SIGHUP, SIG_DFL);
    std::signal (SIGINT, SIG_DFL);

    const char stop = 0;
    [[maybe_unused]] auto written = ::write (quitPipe[1], &stop, 1);
    watcher->join();
    delete watcher;
    watcher = nullptr;
    ::close (quitPipe[0]);
    ::close (quitPipe[1]);
    quitPipe[0] = quitPipe[1] = -1;
}
