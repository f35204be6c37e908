#pragma once

#include <string>
#include <vector>

namespace krvsim
{
using Words = std::vector<std::string>;

/** The KRV_SIM_ variables, read when the library is loaded and again on reset: the files
    they name, and the settings as commands of the command table.
*/
struct SimEnvironment
{
    std::string logPath;     // KRV_SIM_LOG
    std::string statePath;   // KRV_SIM_STATE
    std::string controlPath; // KRV_SIM_CONTROL

    /** KRV_SIM_VERSION, _DELAY_MS, _STREAM, _LOG_STREAM, _SYNC, _FRAMES and _ATTACHED
        as commands. */
    std::vector<Words> settings;
    /** KRV_SIM_COMMANDS, split at ';'. */
    std::vector<Words> commands;

    static SimEnvironment read();
};
} // namespace krvsim
