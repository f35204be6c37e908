// The timing of what the simulated controller sends: answers and unasked reports become
// events due at a time (on 1 ms frame boundaries in frame mode), which the device thread
// delivers; without that thread they are delivered at once.
#include "Simulator.h"

#include "SimLabels.h"

namespace krvsim
{
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
        const auto nowFrame = std::chrono::duration_cast<std::chrono::milliseconds> (now.time_since_epoch()).count();
        bool frameTaken = false;
        while (! events.empty() && events.top().due <= now)
        {
            // A thread woken late must not bunch overdue reports: still one per frame.
            if (frameMode && events.top().kind == Event::deliver)
            {
                frameTaken = nowFrame <= lastDeliveredFrame;
                if (frameTaken)
                    break;
                lastDeliveredFrame = nowFrame;
            }
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
        if (frameTaken)
            until = std::min (until, Clock::time_point (std::chrono::milliseconds (lastDeliveredFrame + 1)));
        else if (! events.empty() && events.top().due < until)
            until = events.top().due;
        wake.wait_until (guard, until);
    }
}
} // namespace krvsim
