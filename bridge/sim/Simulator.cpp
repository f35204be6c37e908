#include "Simulator.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace krvsim
{
namespace
{
std::string environment (const char* name, const char* fallback = "")
{
    const char* value = std::getenv (name);
    return value != nullptr ? value : fallback;
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

std::string trim (const std::string& text)
{
    const auto first = text.find_first_not_of (" \t\r\n");
    if (first == std::string::npos)
        return {};
    const auto last = text.find_last_not_of (" \t\r\n");
    return text.substr (first, last - first + 1);
}

std::string versionText (int version)
{
    char text[32];
    std::snprintf (text, sizeof (text), "%d.%02d", version / 100, version % 100);
    return text;
}

std::string reportLine (const char* direction, int hidNumber, const Report& report, const std::string& label)
{
    char head[64];
    std::snprintf (head, sizeof (head), "%-4s HID %-3d %3zu bytes  ", direction, hidNumber, report.size());
    return head + label + "  | " + SimLog::hex (report);
}

std::string answerLabel (const Report& report)
{
    if (report.empty())
        return "empty";
    return describeCode (report[0]) + " " + std::to_string (report.size() > 1 ? report[1] : 0);
}

std::string commandLabel (const Report& report)
{
    char text[96];
    switch (report[0])
    {
        case code::start:
            std::snprintf (text, sizeof (text), "HID_UPDATE_CMD_START record %d, %u bytes", report[1],
                           report[2] | (report[3] << 8) | (report[4] << 16));
            return text;
        case code::data:
            std::snprintf (text, sizeof (text), "HID_UPDATE_CMD_DATA record %d", report[1]);
            return text;
        default:
            return describeCode (report[0]);
    }
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
    const auto logPath = environment ("KRV_SIM_LOG");
    if (! logPath.empty())
        log.open (logPath);
    applyEnvironmentLocked (true);
}

Simulator::~Simulator()
{
    stop();
}

void Simulator::applyEnvironmentLocked (bool atLoad)
{
    model = Krv7000Model();
    model.setVersion (environmentInt ("KRV_SIM_VERSION", 102));
    answerDelayMs = std::max (0, environmentInt ("KRV_SIM_DELAY_MS", 0));
    streaming = environmentInt ("KRV_SIM_STREAM", 1) != 0;
    logStream = environmentInt ("KRV_SIM_LOG_STREAM", 1) != 0;
    synchronous = environmentInt ("KRV_SIM_SYNC", 0) != 0;
    frameMode = environmentInt ("KRV_SIM_FRAMES", 0) != 0;
    reenumerateMs = 200;
    statePath = environment ("KRV_SIM_STATE");
    controlPath = environment ("KRV_SIM_CONTROL");
    faults.clear();
    ++faultEpoch;
    queue.clear();
    departedQueue.clear();
    departedHidNumber = -1;
    events = {};
    usedFrames.clear();
    ++generation;

    attached = false;
    currentHidNumber = -1;
    writes = 0;
    if (environmentInt ("KRV_SIM_ATTACHED", 1) != 0)
        attachLocked (false);

    log.write (std::string (atLoad ? "--- simulator loaded" : "--- simulator reset") + ": firmware "
               + versionText (model.getVersion()) + (attached ? ", attached" : ", detached")
               + (synchronous ? ", answers inside HID_Write" : "") + (frameMode ? ", 1 ms frames" : "")
               + (answerDelayMs > 0 ? ", answer delay " + std::to_string (answerDelayMs) + " ms" : ""));

    // Start-up commands: "fault silence info; delay 5".
    const auto commands = environment ("KRV_SIM_COMMANDS");
    size_t from = 0;
    while (from <= commands.size())
    {
        auto to = commands.find (';', from);
        if (to == std::string::npos)
            to = commands.size();
        const auto words = splitWords (commands.substr (from, to - from));
        std::string error;
        if (! words.empty() && ! commandLocked (words, error))
            log.write ("--- KRV_SIM_COMMANDS: " + error);
        from = to + 1;
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
    {
        {
            std::lock_guard<std::mutex> controlGuard (controlLock);
            controlStop = false;
        }
        controlThread = std::thread ([this, path = controlPath] { controlLoop (path); });
    }

    log.write ("--- started");
    return 1;
}

int Simulator::stop()
{
    std::thread device;
    std::thread control;
    {
        std::lock_guard<std::mutex> guard (lock);
        if (! started)
            return 1;

        started = false;
        target.enable (false);
        device = stopDeviceThreadLocked();
        control = std::move (controlThread);
        events = {};
        usedFrames.clear();
        // No message will announce these any more; a host that starts again must not read
        // them in place of the reports its messages announce.
        queue.clear();
        departedQueue.clear();
        departedHidNumber = -1;
    }

    {
        std::lock_guard<std::mutex> controlGuard (controlLock);
        controlStop = true;
    }
    controlWake.notify_all();

    if (control.joinable())
        control.join();
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

// --- control -------------------------------------------------------------------------

int Simulator::attach()
{
    std::lock_guard<std::mutex> guard (lock);
    return attachLocked (true);
}

int Simulator::detach()
{
    std::lock_guard<std::mutex> guard (lock);
    return detachLocked (true) ? 1 : 0;
}

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

void Simulator::setVersion (int version)
{
    std::lock_guard<std::mutex> guard (lock);
    model.setVersion (version);
    log.write ("---  firmware version set to " + versionText (version));
}

int Simulator::getVersion()
{
    std::lock_guard<std::mutex> guard (lock);
    return model.getVersion();
}

void Simulator::clearFaults()
{
    std::lock_guard<std::mutex> guard (lock);
    faults.clear();
    ++faultEpoch;
    log.write ("---  faults cleared");
}

void Simulator::setAnswerDelay (int ms)
{
    std::lock_guard<std::mutex> guard (lock);
    answerDelayMs = std::max (0, ms);
}

void Simulator::setStreaming (bool on)
{
    std::lock_guard<std::mutex> guard (lock);
    streaming = on;
}

void Simulator::setFrameMode (bool on)
{
    std::lock_guard<std::mutex> guard (lock);
    frameMode = on;
}

void Simulator::setSynchronous (bool on)
{
    std::thread old;
    {
        std::lock_guard<std::mutex> guard (lock);
        synchronous = on;
        if (on)
            old = stopDeviceThreadLocked();
        else if (started && ! deviceThread.joinable())
            startDeviceThreadLocked();
    }
    if (old.joinable())
        old.join();
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

void Simulator::reset()
{
    std::thread old;
    {
        std::lock_guard<std::mutex> guard (lock);
        const bool wasSynchronous = synchronous;
        applyEnvironmentLocked (false);
        if (synchronous && ! wasSynchronous)
            old = stopDeviceThreadLocked();
        else if (! synchronous && started && ! deviceThread.joinable())
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

    const auto words = splitWords (text);
    log.write ("---  command: " + text);

    // These take the lock themselves (they may have to wait for a thread).
    if (words[0] == "reset" && words.size() == 1)
    {
        reset();
        return true;
    }
    if (words[0] == "sync" && words.size() == 2)
    {
        bool on = false;
        if (! parseSwitch (words[1], on))
        {
            error = "sync on|off";
            return false;
        }
        setSynchronous (on);
        return true;
    }

    std::lock_guard<std::mutex> guard (lock);
    const bool ok = commandLocked (words, error);
    if (! ok)
        log.write ("---  command refused: " + error);
    return ok;
}

bool Simulator::commandLocked (const std::vector<std::string>& words, std::string& error)
{
    const auto& verb = words[0];
    const auto argc = words.size();
    int number = 0;
    bool on = false;

    if (verb == "attach" && argc == 1)
    {
        attachLocked (true);
        return true;
    }
    if (verb == "detach" && argc == 1)
    {
        detachLocked (true);
        return true;
    }
    if (verb == "version" && argc == 2 && parseCount (words[1], number) && number <= 9999)
    {
        model.setVersion (number);
        return true;
    }
    if ((verb == "clear" && argc == 1) || (verb == "fault" && argc == 2 && words[1] == "clear"))
    {
        faults.clear();
        ++faultEpoch;
        return true;
    }
    if (verb == "fault")
    {
        Fault fault;
        if (! parseFault (std::vector<std::string> (words.begin() + 1, words.end()), fault, error))
            return false;
        fault.id = nextFaultId++;
        faults.push_back (fault);
        log.write ("---  fault armed: " + fault.describe());
        return true;
    }
    if (verb == "delay" && argc == 2 && parseCount (words[1], number))
    {
        answerDelayMs = number;
        return true;
    }
    if (verb == "stream" && argc == 2 && parseSwitch (words[1], on))
    {
        streaming = on;
        return true;
    }
    if (verb == "log-stream" && argc == 2 && parseSwitch (words[1], on))
    {
        logStream = on;
        return true;
    }
    if (verb == "frames" && argc == 2 && parseSwitch (words[1], on))
    {
        frameMode = on;
        return true;
    }
    if (verb == "reenumerate" && argc == 2 && parseCount (words[1], number))
    {
        reenumerateMs = number;
        return true;
    }
    if (verb == "busy-answers" && (argc == 3 || argc == 4))
    {
        int afterRecord = 0;
        int atEnd = 0;
        int interval = model.settings.busyIntervalMs;
        if (parseCount (words[1], afterRecord) && parseCount (words[2], atEnd) && (argc == 3 || parseCount (words[3], interval)))
        {
            model.settings.busyAfterRecord = afterRecord;
            model.settings.busyAtEnd = atEnd;
            model.settings.busyIntervalMs = interval;
            return true;
        }
    }
    if (verb == "log" && argc >= 2)
    {
        std::string text;
        for (size_t i = 1; i < argc; ++i)
            text += (i > 1 ? " " : "") + words[i];
        log.write ("---  note: " + text);
        return true;
    }
    if (verb == "state" && argc == 1)
    {
        writeStateLocked();
        return true;
    }

    if (error.empty())
        error = "unknown command '" + verb + "' or wrong arguments";
    return false;
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

void Simulator::executePlanLocked (const Plan& plan, const Fault* fault)
{
    auto due = Clock::now() + std::chrono::milliseconds (answerDelayMs);
    if (fault != nullptr && fault->kind == Fault::slow)
        due += std::chrono::milliseconds (fault->ms);

    for (size_t i = 0; i < plan.answers.size(); ++i)
    {
        const auto& answer = plan.answers[i];
        due += std::chrono::milliseconds (answer.afterMs);

        Event event;
        event.generation = generation;
        event.report = answer.report;
        const bool isFinal = i + 1 == plan.answers.size();

        if (isFinal && fault != nullptr)
        {
            if (fault->kind == Fault::wrong)
                event.report[0] = static_cast<std::uint8_t> (fault->code >= 0 ? fault->code : wrongCodeFor (plan.step));

            if (fault->kind == Fault::oversized)
                event.report.resize ((size_t) fault->size, 0x5A);

            if (fault->kind == Fault::busy)
            {
                event.kind = Event::busyTick;
                event.intervalMs = fault->ms;
                event.faultEpoch = faultEpoch;
                scheduleLocked (event, due);
                continue;
            }
        }

        event.kind = Event::deliver;
        if (log.isOpen())
            event.label = answerLabel (event.report);
        scheduleLocked (event, due);
    }

    if (plan.reenumerate)
    {
        writeStateLocked();
        Event leave;
        leave.kind = Event::leave;
        leave.generation = generation;
        scheduleLocked (leave, due + std::chrono::milliseconds (reenumerateMs));
    }
}

void Simulator::scheduleLocked (Event event, Clock::time_point due)
{
    if (synchronous || ! started)
    {
        // Answers come from inside HID_Write; before HID_Start there is no thread either.
        // Leaving the bus to re-enumerate would overtake the answer it follows, since
        // nothing here waits: without a thread the controller stays where it is.
        if (event.kind == Event::leave)
            return;

        if (event.kind == Event::busyTick)
        {
            Report busy ((size_t) reportSize, 0);
            busy[0] = code::busy;
            busy[1] = static_cast<std::uint8_t> (model.percent());
            deliverLocked (busy, answerLabel (busy));
            return;
        }
        runEventLocked (event);
        return;
    }

    if (frameMode && event.kind == Event::deliver)
    {
        // A full-speed interrupt endpoint: one report per 1 ms frame, on its boundary.
        using namespace std::chrono;
        const auto since = duration_cast<microseconds> (due.time_since_epoch()).count();
        auto frame = static_cast<std::int64_t> ((since + 999) / 1000);
        const auto nowFrame = duration_cast<milliseconds> (Clock::now().time_since_epoch()).count();
        while (! usedFrames.empty() && *usedFrames.begin() < nowFrame)
            usedFrames.erase (usedFrames.begin());
        while (usedFrames.count (frame) != 0)
            ++frame;
        usedFrames.insert (frame);
        due = Clock::time_point (duration_cast<Clock::duration> (milliseconds (frame)));
    }

    event.due = due;
    event.order = eventOrder++;
    events.push (std::move (event));
    wake.notify_all();
}

void Simulator::deliverLocked (const Report& report, const std::string& label)
{
    if (! attached)
        return;

    if (! queue.push (report))
        log.write ("---  the host is not reading: the oldest input report was dropped");

    const bool isStream = label == "unasked report";
    if ((! isStream || logStream) && log.isOpen())
        log.write (reportLine ("in", currentHidNumber, report, label));

    postLocked (fwbridge::Event::input, currentHidNumber);
}

void Simulator::runEventLocked (Event& event)
{
    switch (event.kind)
    {
        case Event::deliver:
            if (event.generation == generation)
                deliverLocked (event.report, event.label);
            return;

        case Event::busyTick:
        {
            if (event.generation != generation)
                return;

            if (event.faultEpoch == faultEpoch)
            {
                Report busy ((size_t) reportSize, 0);
                busy[0] = code::busy;
                busy[1] = static_cast<std::uint8_t> (model.percent());
                deliverLocked (busy, answerLabel (busy));
                scheduleLocked (event, Clock::now() + std::chrono::milliseconds (event.intervalMs));
            }
            else
            {
                deliverLocked (event.report, answerLabel (event.report));
            }
            return;
        }

        case Event::leave:
            if (event.generation != generation || ! attached)
                return;
            log.write ("---  re-enumerating with firmware " + versionText (model.getVersion()));
            detachLocked (true);
            event.kind = Event::comeBack;
            event.generation = generation;
            scheduleLocked (event, Clock::now() + std::chrono::milliseconds (reenumerateMs));
            return;

        case Event::comeBack:
            if (event.generation == generation && ! attached)
                attachLocked (true);
            return;
    }
}

void Simulator::streamLocked()
{
    if (! attached || model.isInUpdateMode() || ! streaming || ! target.isActive())
        return;

    for (int i = 0; i < reportsPerStreamPeriod; ++i)
    {
        // A knob turning: report kind 0x01, control number, 7-bit value.
        Report report ((size_t) reportSize, 0);
        const unsigned phase = streamPhase++;
        report[0] = 0x01;
        report[1] = static_cast<std::uint8_t> (phase % 8);
        report[2] = static_cast<std::uint8_t> ((phase / 8) % 128);

        Step step;
        step.kind = Step::stream;
        Fault fault;
        if (takeFaultLocked (step, fault))
        {
            if (fault.kind == Fault::silence)
                continue;
            if (fault.kind == Fault::oversized)
                report.resize ((size_t) fault.size, 0x5A);
            if (fault.kind == Fault::unplug)
            {
                detachLocked (true);
                return;
            }
        }

        Event event;
        event.kind = Event::deliver;
        event.generation = generation;
        event.report = std::move (report);
        event.label = "unasked report";
        scheduleLocked (std::move (event), Clock::now());
    }
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

void Simulator::startDeviceThreadLocked()
{
    deviceStop = false;
    deviceThread = std::thread ([this] { deviceLoop(); });
}

std::thread Simulator::stopDeviceThreadLocked()
{
    deviceStop = true;
    wake.notify_all();
    return std::move (deviceThread);
}

void Simulator::deviceLoop()
{
    std::unique_lock<std::mutex> guard (lock);
    const auto period = std::chrono::milliseconds (streamPeriodMs);
    nextStreamTick = Clock::now() + period;

    while (! deviceStop)
    {
        const auto now = Clock::now();
        while (! events.empty() && events.top().due <= now)
        {
            auto event = events.top();
            events.pop();
            runEventLocked (event);
        }

        if (now >= nextStreamTick)
        {
            streamLocked();
            nextStreamTick += period;
            if (nextStreamTick < now)
                nextStreamTick = now + period;
        }

        auto until = nextStreamTick;
        if (! events.empty() && events.top().due < until)
            until = events.top().due;
        wake.wait_until (guard, until);
    }
}

void Simulator::controlLoop (std::string path)
{
    int fd = -1;
    std::string pending;

    for (;;)
    {
        if (fd < 0)
        {
            struct stat info {};
            if (::stat (path.c_str(), &info) == 0)
                fd = ::open (path.c_str(), (S_ISFIFO (info.st_mode) ? O_RDWR : O_RDONLY) | O_NONBLOCK | O_CLOEXEC);
        }

        if (fd >= 0)
        {
            struct stat info {};
            const auto offset = ::lseek (fd, 0, SEEK_CUR);
            if (::fstat (fd, &info) == 0 && S_ISREG (info.st_mode) && offset > info.st_size)
            {
                // The file was started afresh.
                ::lseek (fd, 0, SEEK_SET);
                pending.clear();
            }

            char buffer[512];
            for (;;)
            {
                const auto count = ::read (fd, buffer, sizeof (buffer));
                if (count <= 0)
                    break;
                pending.append (buffer, (size_t) count);
            }

            for (auto newline = pending.find ('\n'); newline != std::string::npos; newline = pending.find ('\n'))
            {
                const auto line = pending.substr (0, newline);
                pending.erase (0, newline + 1);
                std::string error;
                command (line, error);
            }
        }

        std::unique_lock<std::mutex> guard (controlLock);
        if (controlWake.wait_for (guard, std::chrono::milliseconds (20), [this] { return controlStop; }))
            break;
    }

    if (fd >= 0)
        ::close (fd);
}
} // namespace krvsim
