#include "SimEnvironment.h"

#include "FaultScript.h"

#include <algorithm>
#include <cstdlib>

namespace krvsim
{
namespace
{
std::string environment (const char* name)
{
    const char* value = std::getenv (name);
    return value != nullptr ? value : "";
}

int environmentInt (const char* name, int fallback)
{
    const auto text = environment (name);
    if (text.empty())
        return fallback;
    char* end = nullptr;
    const long value = std::strtol (text.c_str(), &end, 0);
    return end != nullptr && *end == 0 ? static_cast<int> (value) : fallback;
}

Words switchCommand (const char* verb, const char* name, int fallback)
{
    return { verb, environmentInt (name, fallback) != 0 ? "on" : "off" };
}
} // namespace

SimEnvironment SimEnvironment::read()
{
    SimEnvironment env;
    env.logPath = environment ("KRV_SIM_LOG");
    env.statePath = environment ("KRV_SIM_STATE");
    env.controlPath = environment ("KRV_SIM_CONTROL");

    env.settings = {
        { "version", std::to_string (environmentInt ("KRV_SIM_VERSION", 102)) },
        { "delay", std::to_string (std::max (0, environmentInt ("KRV_SIM_DELAY_MS", 0))) },
        switchCommand ("stream", "KRV_SIM_STREAM", 1),
        switchCommand ("log-stream", "KRV_SIM_LOG_STREAM", 1),
        switchCommand ("sync", "KRV_SIM_SYNC", 0),
        switchCommand ("frames", "KRV_SIM_FRAMES", 0),
    };
    if (environmentInt ("KRV_SIM_ATTACHED", 1) != 0)
        env.settings.push_back ({ "attach" });

    // Start-up commands: "fault silence info; delay 5".
    const auto commands = environment ("KRV_SIM_COMMANDS");
    size_t from = 0;
    while (from <= commands.size())
    {
        auto to = commands.find (';', from);
        if (to == std::string::npos)
            to = commands.size();
        auto words = splitWords (commands.substr (from, to - from));
        if (! words.empty())
            env.commands.push_back (std::move (words));
        from = to + 1;
    }
    return env;
}
} // namespace krvsim
