#pragma once

#include <string>
#include <vector>

namespace krvsim
{
class Simulator;
using Words = std::vector<std::string>;

/** Where a command comes from. The environment's commands attach without an arrival
    message and may not reset (they are what a reset applies).
*/
enum class CommandSource
{
    environment,
    text,    // the control file, SIM_Command, SIM_SetFault
    function // the other SIM_ functions
};

/** The simulator's command language: one table that the KRV_SIM_ variables, the control
    file and the SIM_ functions all go through (bridge/sim/README.md lists the commands).
*/
struct SimCommands
{
    /** Runs one command, with the simulator's lock held. False with a reason when the
        command is unknown or its arguments are wrong; result gets the command's value
        (attach: the HID number or -1; detach: 1 if it was attached). */
    static bool runLocked (Simulator& simulator, const Words& words, CommandSource source, std::string& error,
                           int& result);
};
} // namespace krvsim
