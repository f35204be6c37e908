// Runs a program beside a KRV-7000 emulated at the kernel interface: the program (the
// updater, say) sees a hidraw node, sysfs and udev events under umockdev's preload
// library, while this process answers as the controller. When the program ends, the
// controller's state is written (simulator's state-file format) and its exit code is ours.
//   krv_emulated_host [--version N] [--report-id ID] [--composite] [--unreadable]
//                     [--unplug-at REPORT] [--plug-in-when FILE] [--still] [--knob-interval MS]
//                     [--reset-after MS] [--state FILE] -- PROGRAM [ARGUMENTS...]
#include "EmulatedKrv7000.h"

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

namespace
{
pid_t child = 0;

void passOn (int signal)
{
    if (child > 0)
        kill (child, signal);
}
} // namespace

int main (int argc, char** argv)
{
    emulated::runUnderUmockdev (argc, argv);

    emulated::ControllerSetup setup;
    std::string statePath;
    int unplugAt = 0;
    std::string plugInWhen;
    int first = 1;
    for (; first < argc && std::strcmp (argv[first], "--") != 0; ++first)
    {
        const std::string option = argv[first];
        const bool hasValue = first + 1 < argc;
        if (option == "--version" && hasValue)
            setup.version = std::atoi (argv[++first]);
        else if (option == "--report-id" && hasValue)
            setup.reportId = (std::uint8_t) std::atoi (argv[++first]);
        else if (option == "--state" && hasValue)
            statePath = argv[++first];
        else if (option == "--composite")
            setup.composite = true;
        else if (option == "--unreadable")
            setup.readable = false;
        else if (option == "--still")
            setup.stream = false; // no knob reports: only answers
        else if (option == "--knob-interval" && hasValue)
            setup.knobIntervalMs = std::max (1, std::atoi (argv[++first]));
        else if (option == "--reset-after" && hasValue)
            setup.leaveAfterMs = std::max (0, std::atoi (argv[++first]));
        else if (option == "--unplug-at" && hasValue)
            unplugAt = std::atoi (argv[++first]);
        else if (option == "--plug-in-when" && hasValue)
            plugInWhen = argv[++first];
        else
        {
            std::fprintf (stderr, "krv_emulated_host: unknown option %s\n", option.c_str());
            return 2;
        }
    }
    if (first + 1 >= argc)
    {
        std::fprintf (stderr, "usage: krv_emulated_host [options] -- PROGRAM [ARGUMENTS...]\n");
        return 2;
    }

    emulated::Testbed testbed;
    emulated::EmulatedKrv7000 controller (testbed, setup);
    if (unplugAt > 0)
        controller.unplugAtReport (unplugAt);
    if (plugInWhen.empty())
        controller.plugIn();

    child = fork();
    if (child == 0)
    {
        execvp (argv[first + 1], argv + first + 1);
        std::perror ("krv_emulated_host: exec");
        _exit (127);
    }

    std::signal (SIGTERM, passOn);
    std::signal (SIGINT, passOn);
    // A controller plugged in while the program already runs: when the file appears.
    std::thread later;
    if (! plugInWhen.empty())
        later = std::thread ([&controller, plugInWhen] {
            while (! std::ifstream (plugInWhen).good() && kill (child, 0) == 0)
                std::this_thread::sleep_for (std::chrono::milliseconds (20));
            controller.plugIn();
        });
    int status = 0;
    while (waitpid (child, &status, 0) < 0)
    {
    }

    if (later.joinable())
        later.join();
    if (! statePath.empty() && controller.updates() > 0)
        std::ofstream (statePath) << controller.stateText();
    return WIFEXITED (status) ? WEXITSTATUS (status) : 128 + WTERMSIG (status);
}
