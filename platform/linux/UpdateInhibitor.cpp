#include "platform/UpdateInhibitor.h"

#include <systemd/sd-bus.h>

#include <fcntl.h>
#include <unistd.h>

UpdateInhibitor::UpdateInhibitor (const juce::String& who, const juce::String& why, void*)
{
    sd_bus* bus = nullptr;

    if (sd_bus_open_system (&bus) < 0)
    {
        description = "not held: no system bus";
        return;
    }

    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    const int called = sd_bus_call_method (bus,
                                           "org.freedesktop.login1",
                                           "/org/freedesktop/login1",
                                           "org.freedesktop.login1.Manager",
                                           "Inhibit",
                                           &error,
                                           &reply,
                                           "ssss",
                                           "idle:sleep:shutdown",
                                           who.toRawUTF8(),
                                           why.toRawUTF8(),
                                           "block");
    int fd = -1;

    if (called < 0)
        description = juce::String ("not held: ") + (error.message != nullptr ? error.message : "no logind");
    else if (sd_bus_message_read (reply, "h", &fd) < 0 || fd < 0)
        description = "not held: logind gave no descriptor";
    else
    {
        // The reply owns its descriptor; the lock lasts as long as our own copy stays open.
        lockFd = ::fcntl (fd, F_DUPFD_CLOEXEC, 3);
        held = lockFd >= 0;
        description = held ? "held: logind inhibitor fd " + juce::String (lockFd)
                           : juce::String ("not held: descriptor not kept");
    }

    sd_bus_message_unref (reply);
    sd_bus_error_free (&error);
    sd_bus_flush_close_unref (bus);
}

UpdateInhibitor::~UpdateInhibitor()
{
    if (lockFd >= 0)
        ::close (lockFd);
}
