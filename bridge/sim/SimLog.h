#pragma once

#include "../common/ReportQueue.h"

#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>

namespace krvsim
{
/** The simulator's log: one line per report or event, with the time of day and the time
    since the log began, flushed at once so a test (or a person) can read it meanwhile.
*/
class SimLog
{
public:
    ~SimLog() { close(); }

    /** Starts the file afresh; its first line names what writes it. */
    bool open (const std::string& path, const std::string& title = "KRV-7000 simulator log");
    void close();
    bool isOpen() const;

    void write (const std::string& text);

    /** The bytes in hex; a trailing run of one value is written once with its count. */
    static std::string hex (const fwbridge::Report& report);

private:
    mutable std::mutex lock;
    std::FILE* file = nullptr;
    std::chrono::steady_clock::time_point began;
};
} // namespace krvsim
