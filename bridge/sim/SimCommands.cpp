#include "SimCommands.h"

#include "Simulator.h"

#include <cstdlib>

namespace krvsim
{
namespace
{
bool parseSwitch (const std::string& word, bool& value)
{
    if (word == "on" || word == "1" || word == "yes")
        value = true;
    else if (word == "off" || word == "0" || word == "no")
        value = false;
    else
        return false;
    return true;
}

bool parseCount (const std::string& word, int& value)
{
    char* end = nullptr;
    const long parsed = std::strtol (word.c_str(), &end, 0);
    if (word.empty() || end == nullptr || *end != 0 || parsed < 0 || parsed > 100000000L)
        return false;
    value = static_cast<int> (parsed);
    return true;
}
} // namespace

// Each row's command runs with the simulator's lock held; a change of thread (sync,
// reset) is settled by the caller once the lock is released.
struct SimCommandRows
{
    struct Call
    {
        Simulator& sim;
        const Words& words;
        CommandSource source;
        std::string& error;
        int& result;
    };

    struct Row
    {
        const char* verb;
        size_t minWords; // the verb included
        size_t maxWords;
        bool (*run) (Call&);
    };

    static bool attach (Call& c)
    {
        c.result = c.sim.attachLocked (c.source != CommandSource::environment);
        return true;
    }

    static bool detach (Call& c)
    {
        c.result = c.sim.detachLocked (true) ? 1 : 0;
        return true;
    }

    static bool version (Call& c)
    {
        int number = 0;
        if (! parseCount (c.words[1], number) || number > 9999)
            return false;
        c.sim.model.setVersion (number);
        return true;
    }

    static bool clear (Call& c)
    {
        c.sim.faults.clear();
        ++c.sim.faultEpoch;
        return true;
    }

    static bool fault (Call& c)
    {
        if (c.words.size() == 2 && c.words[1] == "clear")
            return clear (c);

        Fault fault;
        if (! parseFault (Words (c.words.begin() + 1, c.words.end()), fault, c.error))
            return false;
        fault.id = c.sim.nextFaultId++;
        c.sim.faults.push_back (fault);
        c.sim.log.write ("---  fault armed: " + fault.describe());
        return true;
    }

    static bool count (Call& c, int& value)
    {
        return parseCount (c.words[1], value);
    }

    static bool delay (Call& c) { return count (c, c.sim.answerDelayMs); }
    static bool reenumerate (Call& c) { return count (c, c.sim.reenumerateMs); }

    static bool onOff (Call& c, bool& value)
    {
        return parseSwitch (c.words[1], value);
    }

    static bool stream (Call& c) { return onOff (c, c.sim.streaming); }
    static bool logStream (Call& c) { return onOff (c, c.sim.logStream); }
    static bool frames (Call& c) { return onOff (c, c.sim.frameMode); }

    static bool sync (Call& c)
    {
        if (onOff (c, c.sim.synchronous))
            return true;
        c.error = "sync on|off";
        return false;
    }

    static bool busyAnswers (Call& c)
    {
        auto& settings = c.sim.model.settings;
        int afterRecord = 0;
        int atEnd = 0;
        int interval = settings.busyIntervalMs;
        if (! parseCount (c.words[1], afterRecord) || ! parseCount (c.words[2], atEnd)
            || (c.words.size() == 4 && ! parseCount (c.words[3], interval)))
            return false;
        settings.busyAfterRecord = afterRecord;
        settings.busyAtEnd = atEnd;
        settings.busyIntervalMs = interval;
        return true;
    }

    static bool note (Call& c)
    {
        std::string text;
        for (size_t i = 1; i < c.words.size(); ++i)
            text += (i > 1 ? " " : "") + c.words[i];
        c.sim.log.write ("---  note: " + text);
        return true;
    }

    static bool state (Call& c)
    {
        c.sim.writeStateLocked();
        return true;
    }

    static bool reset (Call& c)
    {
        if (c.source == CommandSource::environment)
            return false;
        c.sim.applyEnvironmentLocked (SimEnvironment::read(), false);
        return true;
    }

    static constexpr size_t any = 1000;

    static constexpr Row rows[] = {
        { "attach", 1, 1, attach },
        { "detach", 1, 1, detach },
        { "version", 2, 2, version },
        { "clear", 1, 1, clear },
        { "fault", 1, any, fault },
        { "delay", 2, 2, delay },
        { "stream", 2, 2, stream },
        { "log-stream", 2, 2, logStream },
        { "sync", 2, 2, sync },
        { "frames", 2, 2, frames },
        { "reenumerate", 2, 2, reenumerate },
        { "busy-answers", 3, 4, busyAnswers },
        { "log", 2, any, note },
        { "state", 1, 1, state },
        { "reset", 1, 1, reset },
    };
};

bool SimCommands::runLocked (Simulator& simulator, const Words& words, CommandSource source, std::string& error,
                             int& result)
{
    if (words.empty())
        return true;

    SimCommandRows::Call call { simulator, words, source, error, result };
    for (const auto& row : SimCommandRows::rows)
        if (words[0] == row.verb && words.size() >= row.minWords && words.size() <= row.maxWords && row.run (call))
            return true;

    if (error.empty())
        error = "unknown command '" + words[0] + "' or wrong arguments";
    return false;
}
} // namespace krvsim
