#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace krvsim
{
/** The control file (or FIFO) named by KRV_SIM_CONTROL, read on a thread of its own every
    20 ms: each complete line goes to the handler. A regular file that was started afresh
    is read again from its beginning.
*/
class ControlFileReader
{
public:
    ~ControlFileReader() { stop(); }

    void start (const std::string& path, std::function<void (const std::string&)> handleLine);
    /** Waits for the reading thread to end. */
    void stop();

private:
    void readLoop (std::string path);

    std::function<void (const std::string&)> handler;
    std::mutex lock;
    std::condition_variable wake;
    bool stopping = false;
    std::thread thread;
};
} // namespace krvsim
