#include "Simulator.h"

#include "SimLabels.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace krvsim
{
namespace
{
std::string trim (const std::string& text)
{
    const auto first = text.find_first_not_of (" \t\r\n");
    if (first == std::string::npos)
        return {};
    const auto last = text.find_last_not_of (" \t\r\n");
    return text.substr (first, last - first + 1);
}

const char* onOff (bool on)
{
    return on ? "on" : "off";
}
} // namespace

Simulator& Simulator::instance()
{
    static Simulator simulator;
    return simulator;
}

Simulator::Simulator()
{
    std::lock_guard<std::mutex> guard (lock);
    const auto env = SimEnvironment::read();
    if (! env.logPath.empty())
        log.open (env.logPath);
    applyEnvironmentLocked (env, true);
}

Simulator::~Simulator()
{
    stop();
}

void Simulator::applyEnvironmentLocked (const SimEnvironment& env, bool atLoad)
{
    model = Krv7000Model();
    answerDelayMs = 0;
    streaming = true;
    logStream = true;
    synchronous = false;
    frameMode = false;
    reenumerateMs = 200;
    statePath = env.statePath;
    controlPath = env.controlPath;
    faults.clear();
    ++faultEpoch;
    queue.clear();
    departedQueue.clear();
    departedHidNumber = -1;
    events = {};
    usedFrames.clear();
    lastDeliveredFrame = -1;
    ++generation;

    attached = false;
    currentHidNumber = -1;
    writes = 0;

    int result = 0;
    for (const auto& words : env.settings)
    {
        std::string error;
        SimCommands::runLocked (*this, words, CommandSource::environment, error, result);
    }

    log.write (std::string (atLoad ? "--- simulator loaded" : "--- simulator reset") + ": firmware "
               + versionText (model.getVersion()) + (attached ? ", attached" : ", detached")
               + (synchronous ? ", answers inside HID_Write" : "") + (frameMode ? ", 1 ms frames" : "")
               + (answerDelayMs > 0 ? ", answer delay " + std::to_string (answerDelayMs) + " ms" : ""));

    for (const auto& words : env.commands)
    {
        std::string error;
        if (! SimCommands::runLocked (*this, words, CommandSource::environment, error, result))
            log.write ("--- KRV_SIM_COMMANDS: " + error);
    }
}

// --- the device library's functions ---------------------------------------------------

int Simulator::setCallback (void* window, unsigned inputMessage, unsigned arrivalMessage, unsigned removalMessage)
{
    target.setWindow (window, inputMessage, arrivalMessage, removalMessage);
    log.write (window != nullptr ? "--- host window set" : "--- host window cleared");
    return 1;
}

int Simulator::start()
{
    std::lock_guard<std::mutex> guard (lock);
    if (started)
        return 1;

    started = true;
    target.enable (true);
    if (! synchronous)
        startDeviceThreadLocked();

    if (! controlPath.empty())
        controlFile.start (controlPath, [this] (const std::string& line) {
            std::string error;
            command (line, error);
        });

    log.write ("--- started");
    return 1;
}

int Simulator::stop()
{
    std::thread device;
    {
        std::lock_guard<std::mutex> guard (lock);
        if (! started)
            return 1;

        started = false;
        target.enable (false);
        device = stopDeviceThreadLocked();
        events = {};
        usedFrames.clear();
        lastDeliveredFrame = -1;
        // No message will announce these any more; a host that starts again must not read
        // them in place of the reports its messages announce.
        queue.clear();
        departedQueue.clear();
        departedHidNumber = -1;
    }

    controlFile.stop();
    if (device.joinable())
        device.join();

    log.write ("--- stopped");
    return 1;
}

int Simulator::enumerate (int* numbers)
{
    std::lock_guard<std::mutex> guard (lock);
    if (numbers == nullptr || ! attached)
        return 0;
    numbers[0] = currentHidNumber;
    return 1;
}

int Simulator::deviceType (int hidNumber)
{
    std::lock_guard<std::mutex> guard (lock);
    return attached && hidNumber == currentHidNumber ? typeCode : -1;
}

int Simulator::firmwareVersion (int type, int* version, int count)
{
    std::lock_guard<std::mutex> guard (lock);
    if (version == nullptr || count < 1 || ! attached || type != typeCode)
        return 0;
    version[0] = model.getVersion();
    return 1;
}

int Simulator::input (int hidNumber, unsigned char* buffer, int* length)
{
    if (length == nullptr)
        return 0;

    std::lock_guard<std::mutex> guard (lock);
    std::optional<Report> report;
    if (attached && hidNumber == currentHidNumber)
        report = queue.pop();
    else if (hidNumber == departedHidNumber)
        report = departedQueue.pop();

    if (! report)
    {
        *length = 0;
        return 0;
    }

    const int copied = fwbridge::copyReport (*report, buffer, length);
    // An oversized report is owned up to in full, as a careless library would.
    *length = report->size() > (size_t) reportSize ? static_cast<int> (report->size()) : copied;
    return 1;
}

namespace
{
// Messages that HID_Write gives rise to are posted once the simulator's lock is released:
// the host's message thread reads the answer at once, and must not find the lock held
// by the thread that is still returning from HID_Write.
thread_local std::vector<std::pair<fwbridge::Event, int>>* postsAfterUnlock = nullptr;

struct PostAfterUnlock
{
    explicit PostAfterUnlock (fwbridge::MessageTarget& t) : target (t) { postsAfterUnlock = &posts; }

    ~PostAfterUnlock()
    {
        postsAfterUnlock = nullptr;
        for (auto& [event, hidNumber] : posts)
            target.post (event, hidNumber);
    }

    fwbridge::MessageTarget& target;
    std::vector<std::pair<fwbridge::Event, int>> posts;
};
} // namespace

void Simulator::postLocked (fwbridge::Event event, int hidNumber)
{
    if (postsAfterUnlock != nullptr)
        postsAfterUnlock->emplace_back (event, hidNumber);
    else
        target.post (event, hidNumber);
}

int Simulator::write (int hidNumber, const unsigned char* data, int length)
{
    PostAfterUnlock posts (target); // declared first: runs after the guard has unlocked
    std::lock_guard<std::mutex> guard (lock);

    if (data == nullptr || length <= 0 || length > reportSize)
    {
        log.write ("out  rejected: a report of " + std::to_string (length) + " bytes");
        return 0;
    }

    Report report ((size_t) reportSize, 0);
    std::memcpy (report.data(), data, (size_t) length);

    if (! attached || hidNumber != currentHidNumber)
    {
        log.write (reportLine ("out", hidNumber, report, "to no attached controller: " + commandLabel (report)));
        return 0;
    }

    ++writes;
    if (log.isOpen()) // the line costs more than the rest of the answer
        log.write (reportLine ("out", hidNumber, Report (data, data + length), commandLabel (report)));

    const auto step = model.classify (report, writes);
    Fault fault;
    const bool faulty = takeFaultLocked (step, fault);

    if (faulty)
    {
        switch (fault.kind)
        {
            case Fault::unplug:
                detachLocked (true);
                return 1;

            case Fault::silence:
                return 1;

            case Fault::refuse:
            case Fault::notSwitched:
            {
                Plan plan;
                plan.step = step;
                Report answer ((size_t) reportSize, 0);
                answer[0] = code::modeAnswer;
                answer[1] = static_cast<std::uint8_t> (fault.kind == Fault::refuse ? fault.value : 0);
                plan.answers.push_back ({ answer, 0 });
                executePlanLocked (plan, nullptr);
                return 1;
            }

            case Fault::busy:
                if (step.kind == Step::end)
                {
                    // Still writing: each end report gets one more busy answer.
                    Plan plan;
                    plan.step = step;
                    Report answer ((size_t) reportSize, 0);
                    answer[0] = code::busy;
                    answer[1] = static_cast<std::uint8_t> (model.percent());
                    plan.answers.push_back ({ answer, 0 });
                    executePlanLocked (plan, nullptr);
                    return 1;
                }
                break;

            default:
                break;
        }
    }

    const auto plan = model.handle (report, writes);
    if (! plan.note.empty())
        log.write ("---  " + plan.note);
    executePlanLocked (plan, faulty ? &fault : nullptr);
    return 1;
}

// --- control: every change goes through the command table ---------------------------

bool Simulator::control (const Words& words, CommandSource source, std::string& error, int* result)
{
    int value = 0;
    bool done = false;
    {
        std::lock_guard<std::mutex> guard (lock);
        done = SimCommands::runLocked (*this, words, source, error, value);
        if (! done && source == CommandSource::text)
            log.write ("---  command refused: " + error);
    }
    settleDeviceThread();

    if (result != nullptr)
        *result = value;
    return done;
}

bool Simulator::control (const Words& words)
{
    std::string error;
    return control (words, CommandSource::function, error);
}

void Simulator::settleDeviceThread()
{
    // Answers from inside HID_Write need no thread; stopping one waits for it, so not
    // under the lock it takes.
    std::thread old;
    {
        std::lock_guard<std::mutex> guard (lock);
        if (synchronous)
            old = stopDeviceThreadLocked();
        else if (started && ! deviceThread.joinable())
            startDeviceThreadLocked();
    }
    if (old.joinable())
        old.join();
}

bool Simulator::command (const std::string& line, std::string& error)
{
    const auto text = trim (line);
    if (text.empty() || text[0] == '#')
        return true;

    log.write ("---  command: " + text);
    return control (splitWords (text), CommandSource::text, error);
}

int Simulator::attach()
{
    std::string error;
    int hidNumber = -1;
    control ({ "attach" }, CommandSource::function, error, &hidNumber);
    return hidNumber;
}

int Simulator::detach()
{
    std::string error;
    int wasAttached = 0;
    control ({ "detach" }, CommandSource::function, error, &wasAttached);
    return wasAttached;
}

void Simulator::setVersion (int version)
{
    if (control ({ "version", std::to_string (version) }))
        log.write ("---  firmware version set to " + versionText (version));
}

void Simulator::clearFaults()
{
    control ({ "clear" });
    log.write ("---  faults cleared");
}

void Simulator::setAnswerDelay (int ms)
{
    control ({ "delay", std::to_string (std::max (0, ms)) });
}

void Simulator::setStreaming (bool on)
{
    control ({ "stream", onOff (on) });
}

void Simulator::setFrameMode (bool on)
{
    control ({ "frames", onOff (on) });
}

void Simulator::setSynchronous (bool on)
{
    control ({ "sync", onOff (on) });
}

void Simulator::reset()
{
    control ({ "reset" });
}

// --- what the controller tells ---------------------------------------------------------

bool Simulator::isAttached()
{
    std::lock_guard<std::mutex> guard (lock);
    return attached;
}

int Simulator::hidNumber()
{
    std::lock_guard<std::mutex> guard (lock);
    return attached ? currentHidNumber : -1;
}

int Simulator::getVersion()
{
    std::lock_guard<std::mutex> guard (lock);
    return model.getVersion();
}

bool Simulator::isInUpdateMode()
{
    std::lock_guard<std::mutex> guard (lock);
    return model.isInUpdateMode();
}

int Simulator::writeCount()
{
    std::lock_guard<std::mutex> guard (lock);
    return writes;
}

int Simulator::updateCount()
{
    std::lock_guard<std::mutex> guard (lock);
    return model.getUpdateCount();
}

int Simulator::storedRecord (int recordNumber, unsigned char* buffer, int capacity)
{
    std::lock_guard<std::mutex> guard (lock);
    const auto& record = model.storedRecord (recordNumber);
    if (! record)
        return -1;
    // An empty record has no data pointer to copy from.
    if (buffer != nullptr && capacity > 0 && ! record->empty())
        std::memcpy (buffer, record->data(), std::min (record->size(), (size_t) capacity));
    return static_cast<int> (record->size());
}

bool Simulator::setLogFile (const std::string& path)
{
    if (path.empty())
    {
        log.close();
        return true;
    }
    return log.open (path);
}

// --- inner workings ------------------------------------------------------------------

int Simulator::attachLocked (bool announce)
{
    if (attached)
        return -1;

    attached = true;
    currentHidNumber = nextHidNumber++;
    ++generation;
    queue.clear();
    model.restart();
    writes = 0;
    log.write ("---  attached as HID " + std::to_string (currentHidNumber) + ", firmware " + versionText (model.getVersion()));
    if (announce)
        postLocked (fwbridge::Event::arrival, currentHidNumber);
    wake.notify_all();
    return currentHidNumber;
}

bool Simulator::detachLocked (bool announce)
{
    if (! attached)
        return false;

    const int gone = currentHidNumber;
    attached = false;
    currentHidNumber = -1;
    ++generation;
    departedQueue = std::move (queue);
    departedHidNumber = gone;
    queue.clear();
    model.restart();
    log.write ("---  detached HID " + std::to_string (gone));
    if (announce)
        postLocked (fwbridge::Event::removal, gone);
    return true;
}

bool Simulator::takeFaultLocked (const Step& step, Fault& fault)
{
    for (auto it = faults.begin(); it != faults.end(); ++it)
    {
        if (! it->matches (step))
            continue;

        fault = *it;
        if (it->remaining > 0 && --it->remaining == 0)
            faults.erase (it);
        log.write ("---  fault at " + step.describe() + ": " + fault.describe());
        return true;
    }
    return false;
}

void Simulator::writeStateLocked()
{
    if (statePath.empty())
        return;

    const auto temporary = statePath + ".tmp";
    if (auto* file = std::fopen (temporary.c_str(), "w"))
    {
        const auto text = model.stateText();
        std::fwrite (text.data(), 1, text.size(), file);
        std::fclose (file);
        std::rename (temporary.c_str(), statePath.c_str());
        log.write ("---  state written to " + statePath);
    }
}

} // namespace krvsim
