#pragma once

// Runs the real MainComponent's update session on the real message loop against a
// scripted device: the test says how the device answers each report it is written.
// Answers to one report are sent one after the other, each once the worker has taken
// the previous one, so a test's sequence of answers is what the session sees.

#include "MainComponentProbe.h"
#include "ScriptedDevice.h"
#include "TestSupport.h"
#include "TraceCapture.h"

#include "ui/MainComponent.h"
#include "update/UpdateFileBuilder.h"
#include "update/UpdateFileLocation.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class UpdateSessionHarness
{
public:
    using Report = ScriptedDevice::Report;
    /** Answers to the report just written; index counts the reports written before it. */
    using Responder = std::function<std::vector<Report> (const Report& written, int index)>;

    static constexpr int hidNumber = 1;
    static constexpr int deviceType = 7; // the KRV-7000 with a valid update file
    static constexpr int deviceVersion = 100;

    UpdateSessionHarness()
    {
        folder = juce::File::createTempFile ("krv-session");
        folder.createDirectory();
        UpdateFileLocation::setFolderForTesting (folder);

        // Fast waits; each test lengthens what it needs.
        timings.streamingMs = 100;
        timings.modeAnswerMs = 200;
        timings.answerMs = 300;
        timings.blockAnswerMs = 300;
        timings.busyAnswerMs = 300;
        timings.returnMs = 300;
        timings.pauseMs = 5;
    }

    ~UpdateSessionHarness()
    {
        device.onWrite ({});
        stopHelpers();
        component.reset();
        stopHelpers();
        capture.reset();
        UpdateFileLocation::setFolderForTesting ({});
        folder.deleteRecursively();
    }

    // --- set-up --------------------------------------------------------------------------
    juce::File updateFile() const { return folder.getChildFile ("KRV-7000_UP.upd"); }

    void writeUpdateFile (int version, const std::vector<UpdateRecordSpec>& records)
    {
        const auto bytes = buildUpdateFile (version, records);
        updateFile().replaceWithData (bytes.data(), bytes.size());
    }

    void respond (Responder newResponder)
    {
        {
            std::lock_guard<std::mutex> g (lock);
            responder = std::make_shared<Responder> (std::move (newResponder));
        }

        // One responder object for the whole session, so that its own state carries over
        // from one report to the next; only the worker writes, so calls never overlap.
        device.onWrite ([this] (int, const Report& report) {
            std::shared_ptr<Responder> r;
            int index;
            {
                std::lock_guard<std::mutex> g (lock);
                r = responder;
                index = writeIndex++;
                progressAtWrite.push_back (MainComponentProbe::sharedProgress (*current));
                timeAtWrite.push_back (juce::Time::getMillisecondCounterHiRes());
            }
            if (r != nullptr && *r)
                sendInOrder ((*r) (report, index));
            return 1;
        });
    }

    /** Plugs the controller in, builds MainComponent and leaves it on the ready screen. */
    bool openReadyScreen (bool plugged = true)
    {
        if (plugged)
            device.plugIn (hidNumber, deviceType, deviceVersion);

        component = std::make_unique<MainComponent>();
        current = component.get();
        MainComponentProbe::setTimings (*component, timings);
        MainComponentProbe::onQuit (*component, [this] { ++quitCount; });

        MainComponentProbe::click (*component, MainComponentProbe::okButton (*component));
        return MainComponentProbe::screenState (*component) == ReadyToUpdate;
    }

    /** Presses Start and waits until the screen shows Updating; the trace is captured from here. */
    bool pressStart()
    {
        capture = std::make_unique<TraceCapture>();
        startTime = juce::Time::getMillisecondCounterHiRes();
        MainComponentProbe::click (*component, MainComponentProbe::okButton (*component));
        return testsupport::pumpUntil ([this] { return screenState() == Updating; }, 5000);
    }

    /** Sends count unasked input reports, as a controller in normal mode does, each once
        the worker has taken the one before. */
    void streamUnasked (int count)
    {
        std::vector<Report> reports;
        for (int i = 0; i < count; ++i)
            reports.push_back (answer (0x01, (std::uint8_t) i));
        sendInOrder (reports);
    }

    // --- running ---------------------------------------------------------------------------
    /** Pumps the message loop until the session has ended on a final screen. */
    bool waitUntilFinished (int timeoutMs = 10000)
    {
        const bool finished = testsupport::pumpUntil ([this] {
            const int state = screenState();
            return (state == UpdateComplete || state == UpdateFailed)
                   && ! MainComponentProbe::workerRunning (*component);
        },
                                                      timeoutMs);
        finishedAt = juce::Time::getMillisecondCounterHiRes();
        elapsedMs = finishedAt - startTime;
        return finished;
    }

    /** "OK" or "Close" as the user presses it: stopAndQuit. Returns how long it took. */
    double pressQuit()
    {
        const auto before = juce::Time::getMillisecondCounterHiRes();
        MainComponentProbe::click (*component, MainComponentProbe::cancelButton (*component));
        return juce::Time::getMillisecondCounterHiRes() - before;
    }

    /** The application ending without stopAndQuit: the component is deleted. Returns how
        long that took. */
    double destroyComponent()
    {
        stopHelpers(); // they look at the component
        const auto before = juce::Time::getMillisecondCounterHiRes();
        component.reset();
        const auto took = juce::Time::getMillisecondCounterHiRes() - before;
        current = nullptr;
        return took;
    }

    /** Sends a report and, once the worker has taken it, does something more (from another
        thread, so a responder may call it). */
    void sendThen (const Report& report, std::function<void()> action)
    {
        device.sendInput (hidNumber, report);
        std::lock_guard<std::mutex> g (lock);
        helpers.emplace_back ([this, report, action] {
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds (5);
            while (! stopping.load() && ! workerHasTaken (report) && std::chrono::steady_clock::now() < deadline)
                std::this_thread::sleep_for (std::chrono::microseconds (200));
            if (! stopping.load())
                action();
        });
    }

    /** Sends the same answer again and again, every intervalMs, until the test ends. */
    void keepSending (std::uint8_t code, std::uint8_t value, int intervalMs)
    {
        std::lock_guard<std::mutex> g (lock);
        helpers.emplace_back ([this, code, value, intervalMs] {
            while (! stopping.load())
            {
                device.sendInput (hidNumber, answer (code, value));
                std::this_thread::sleep_for (std::chrono::milliseconds (intervalMs));
            }
        });
    }

    int screenState() const { return MainComponentProbe::screenState (*component); }
    MainComponent& ui() { return *component; }

    std::vector<Report> writes() const { return device.writes(); }

    std::vector<Report> writesWithCode (std::uint8_t code) const
    {
        std::vector<Report> result;
        for (auto& r : device.writes())
            if (! r.empty() && r[0] == code)
                result.push_back (r);
        return result;
    }

    std::vector<double> progressAtEachWrite()
    {
        std::lock_guard<std::mutex> g (lock);
        return progressAtWrite;
    }

    std::vector<double> timeAtEachWrite()
    {
        std::lock_guard<std::mutex> g (lock);
        return timeAtWrite;
    }

    /** The trace lines written since Start; ends the capture. */
    std::vector<std::string> traceLines()
    {
        if (capture == nullptr)
            return {};
        traceText += capture->finish();
        capture.reset();
        return sessionTraceLines (traceText);
    }

    /** A 64-byte input report; bytes 2 to 5 carry a running number that the session does
        not read, so that every answer differs from the one before. */
    static Report answer (std::uint8_t code, std::uint8_t value)
    {
        static std::atomic<std::uint32_t> sequence { 1 };
        Report report (64, 0);
        report[0] = code;
        report[1] = value;
        const auto n = sequence++;
        for (int i = 0; i < 4; ++i)
            report[2 + (size_t) i] = (std::uint8_t) (n >> (8 * i));
        return report;
    }

    /** Whether the worker's copy of the answer is this report. */
    bool workerHasTaken (const Report& report)
    {
        const auto copy = MainComponentProbe::answerCopy (*current);
        return std::equal (report.begin(), report.end(), copy.begin());
    }

    ScriptedDevice device;
    MainComponent::SessionTimings timings;
    std::atomic<int> quitCount { 0 };
    double elapsedMs = 0.0;  // from Start until the session was seen to end
    double finishedAt = 0.0; // when it was seen to end, on the clock of timeAtEachWrite

private:
    void sendInOrder (std::vector<Report> reports)
    {
        if (reports.empty())
            return;

        device.sendInput (hidNumber, reports.front());
        if (reports.size() == 1)
            return;

        std::lock_guard<std::mutex> g (lock);
        helpers.emplace_back ([this, reports] {
            for (size_t i = 1; i < reports.size(); ++i)
            {
                const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds (5);
                while (! stopping.load() && ! workerHasTaken (reports[i - 1])
                       && std::chrono::steady_clock::now() < deadline)
                    std::this_thread::sleep_for (std::chrono::microseconds (200));

                if (stopping.load())
                    return;
                device.sendInput (hidNumber, reports[i]);
            }
        });
    }

    void stopHelpers()
    {
        stopping.store (true);
        std::vector<std::thread> running;
        {
            std::lock_guard<std::mutex> g (lock);
            running.swap (helpers);
        }
        for (auto& t : running)
            t.join();
        stopping.store (false);
    }

    juce::File folder;
    std::unique_ptr<MainComponent> component;
    MainComponent* current = nullptr; // stays valid while the component's destructor stops the worker
    std::unique_ptr<TraceCapture> capture;
    std::string traceText;
    double startTime = 0.0;

    std::mutex lock;
    std::shared_ptr<Responder> responder;
    int writeIndex = 0;
    std::vector<double> progressAtWrite;
    std::vector<double> timeAtWrite;
    std::vector<std::thread> helpers;
    std::atomic<bool> stopping { false };
};
