#include "app/CommandLineUpdater.h"

#include "device/DeviceLibrary.h"
#include "device/HidCtrl.h"
#include "platform/InterruptHold.h"
#include "platform/TraceOutput.h"
#include "platform/UpdateInhibitor.h"
#include "update/AnswerBuffer.h"
#include "update/UpdateFileLoader.h"
#include "update/UpdateFileLocation.h"
#include "update/UpdateFileReport.h"
#include "update/UpdateReports.h"
#include "update/UpdateSession.h"

#include <juce_events/juce_events.h>

#include <atomic>
#include <memory>

namespace
{
const char* const updateFileName = "KRV-7000_UP.upd";

juce::String versionText (int version) { return juce::String (version / 100) + "." + juce::String (version % 100).paddedLeft ('0', 2); }

struct Options
{
    bool update = false, json = false, trace = false, help = false, version = false, terminal = false;
    int waitSeconds = 0;
    juce::String file;
};

/** Reads the arguments; returns an error sentence for a usage mistake. */
juce::String parse (const juce::StringArray& args, Options& o)
{
    for (int i = 0; i < args.size(); ++i)
    {
        const auto& a = args[i];
        if (a == "--update" || a == "-y")
            o.update = true;
        else if (a == "--json")
            o.json = true;
        else if (a == "--trace")
            o.trace = true;
        else if (a == "--help" || a == "-h")
            o.help = true;
        else if (a == "--version")
            o.version = true;
        else if (a == "--wait" || a == "--file")
        {
            if (i + 1 >= args.size())
                return a + " needs a value.";
            const auto value = args[++i];
            if (a == "--file")
                o.file = value;
            else if (! value.containsOnly ("0123456789") || value.isEmpty() || value.length() > 6)
                return "--wait takes whole seconds, not \"" + value + "\".";
            else
                o.waitSeconds = value.getIntValue();
        }
        else
            return "Unknown option \"" + a + "\".";
    }
    return {};
}

/** The console's side of the session: the controller link, the answer buffer, the worker. */
class ConsoleSession final : public HidHandler,
                             public UpdateSession::Host,
                             public juce::Thread
{
public:
    ConsoleSession() : juce::Thread ("krv-update") {}
    ~ConsoleSession() override
    {
        signalThreadShouldExit();
        answers.wake();
        stopThread (-1);
        if (hidCtrl != nullptr)
            hidCtrl->close();
    }

    bool open (int updateFileValid)
    {
        hidCtrl = std::make_unique<HidCtrl>();
        return hidCtrl->open (this, updateFileValid);
    }

    bool connected() const { return hidCtrl != nullptr && hidCtrl->state.load() != HidCtrl::Disconnected; }
    int firmwareVersion() const { return hidCtrl->firmwareVersion; }

    void start (const UpdateSession::Update& update, const UpdateSession::Timings& timings)
    {
        session = std::make_unique<UpdateSession> (*this, update, timings);
        started = true;
        answers.reset();
        startThread();
    }

    std::atomic<double> progress { 0.0 };
    std::atomic<int> outcome { -1 }; // the last Screen the session asked for
    std::atomic<bool> sawDeviceChange { false }, sawTimeOut { false };

    /** Why a failed session failed, as far as its waits show: a pulled controller ends in
        time-outs, a silent one ends in answers to what the session sends after it. */
    juce::String failureReason() const
    {
        if (sawDeviceChange.load())
            return "the controller was disconnected";
        if (sawTimeOut.load())
            return "the controller stopped answering";
        return "the controller refused it (answer code 0x" + juce::String::toHexString ((int) answers.answer()[0]).paddedLeft ('0', 2) + ")";
    }

    // HidHandler (message thread)
    void deviceDetached() override
    {
        answers.deviceRemoved();
        if (started)
            answers.wake();
    }
    void deviceAttached() override
    {
        answers.deviceArrived (hidCtrl->firmwareVersion);
        if (started)
            answers.wake();
    }
    void inputReceived() override { answers.write (hidCtrl->inputBuffer, hidCtrl->inputLength, started); }

    // UpdateSession::Host (worker thread)
    void writeReport (const std::uint8_t* report) override { hidCtrl->write (report, UpdateReports::reportSize); }
    UpdateSession::Wake waitForInput (int timeoutMs) override
    {
        const auto wake = answers.waitForInput (timeoutMs, [this] { return threadShouldExit(); });
        if (wake == UpdateSession::Wake::deviceChange)
            sawDeviceChange.store (true);
        else if (wake == UpdateSession::Wake::nothing && ! threadShouldExit())
            sawTimeOut.store (true);
        return wake;
    }
    UpdateSession::Wake takeAnswer() override { return answers.takeAnswer(); }
    const std::uint8_t* answer() const override { return answers.answer(); }
    void requestState (UpdateSession::Screen s) override { outcome.store ((int) s); }
    void setProgress (double fraction) override { progress.store (fraction); }
    void pause (int ms) override { wait (ms); }
    bool stopRequested() const override { return threadShouldExit(); }
    std::uint32_t removalCount() override { return answers.removalCount(); }
    int waitForArrival (std::uint32_t removal, int timeoutMs) override
    {
        return answers.waitForArrival (removal, timeoutMs, [this] { return threadShouldExit(); });
    }

private:
    void run() override { session->run(); }

    std::unique_ptr<HidCtrl> hidCtrl;
    AnswerBuffer answers;
    std::unique_ptr<UpdateSession> session;
    bool started = false;
};

/** Writes lines for people or JSON objects for scripts. */
struct Printer
{
    juce::OutputStream& out;
    const Options& options;
    int lastTenth = -1;
    bool barDrawn = false;

    void line (const juce::String& text)
    {
        out << text << "\n";
        out.flush();
    }

    void json (juce::DynamicObject* object)
    {
        line (juce::JSON::toString (juce::var (object), true));
    }

    void progress (double fraction)
    {
        const int percent = juce::jlimit (0, 100, (int) (fraction * 100.0));
        if (options.json || ! options.terminal)
        {
            if (percent / 10 == lastTenth)
                return;
            lastTenth = percent / 10;
            if (options.json)
            {
                auto* o = new juce::DynamicObject();
                o->setProperty ("event", "progress");
                o->setProperty ("percent", lastTenth * 10);
                json (o);
            }
            else
                line ("Updating: " + juce::String (lastTenth * 10) + "%");
            return;
        }
        barDrawn = true;
        const int width = 40, filled = percent * width / 100;
        out << "\r[" << juce::String::repeatedString ("#", filled) << juce::String::repeatedString ("-", width - filled)
            << "] " << juce::String (percent).paddedLeft (' ', 3) << "%";
        out.flush();
    }

    int result (int code, const juce::String& sentence)
    {
        if (barDrawn)
            out << "\n";
        if (options.json)
        {
            auto* o = new juce::DynamicObject();
            o->setProperty ("event", "result");
            o->setProperty ("exit", code);
            o->setProperty ("message", sentence);
            json (o);
        }
        else
            line (sentence);
        return code;
    }
};
} // namespace

juce::String CommandLineUpdater::helpText()
{
    return "Usage: krv-update [--update|-y] [--wait SECONDS] [--file PATH] [--json] [--trace] [--version]\n"
           "Updates the firmware of a KRV-7000 controller.\n\n"
           "Without --update it says what it found (the controller, the update file) and writes nothing.\n"
           "  -y, --update      run the update\n"
           "  --wait SECONDS    wait up to SECONDS for a controller to be connected\n"
           "  --file PATH       the update file (default: KRV-7000_UP.upd beside this program)\n"
           "  --json            one JSON object per line (found, progress, result)\n"
           "  --trace           the session's trace lines on standard error\n"
           "  --version         this program's version and the device library it would load\n"
           "  -h, --help        this text\n\n"
           "Exit codes: 0 completed (or ready), 1 failed, 2 nothing to do or cannot start, 64 usage.\n";
}

int CommandLineUpdater::run (const juce::StringArray& args, juce::OutputStream& out, juce::OutputStream& err, bool terminal,
                             const UpdateSession::Timings& timings, const juce::String& updaterLock)
{
    Options options;
    if (const auto problem = parse (args, options); problem.isNotEmpty())
    {
        err << "krv-update: " << problem << "\n"
            << helpText();
        err.flush();
        return usage;
    }
    if (options.help)
    {
        out << helpText();
        out.flush();
        return completed;
    }
    if (options.version)
    {
        // What support asks for first: this program's version and the library it would use.
        out << "krv-update " << KRV_VERSION << "\n"
            << "device library: " << DeviceLibrary::describeDefault() << "\n";
        out.flush();
        return completed;
    }
    options.terminal = terminal;
    showTraceOnStandardError (options.trace);
    struct TraceRestorer
    {
        ~TraceRestorer() { showTraceOnStandardError (true); }
    } traceRestorer;
    Printer print { out, options };

    // The update file, read and checked as the window does.
    const auto file = options.file.isNotEmpty() ? juce::File::getCurrentWorkingDirectory().getChildFile (options.file)
                                                : UpdateFileLocation::file (updateFileName);
    UpdateRecordInfo records[updateRecordCount] {};
    int newVersion = -1;
    const int payloadSize = loadUpdateFile (file.getFullPathName(), "KRV-7000 ", &newVersion, records);
    const bool fileValid = newVersion > 0 && payloadSize > 0;
    juce::String fileProblem;
    if (! file.existsAsFile())
        fileProblem = "not found";
    else if (! fileValid)
    {
        juce::MemoryBlock bytes;
        file.loadFileAsData (bytes);
        fileProblem = inspectUpdateFile (static_cast<const std::uint8_t*> (bytes.getData()), bytes.getSize()).problem;
        if (fileProblem.isEmpty())
            fileProblem = "not accepted by the updater";
    }

    // The controller.
    const bool library = DeviceLibrary::get() != nullptr;
    ConsoleSession console;
    if (library)
    {
        console.open (fileValid ? 1 : 0);
        // A library reports the controllers it finds at start from its own thread, after a
        // moment (longer under a slow start): that moment is waited for even without --wait.
        constexpr double libraryStartMs = 3000.0;
        const auto deadline = juce::Time::getMillisecondCounterHiRes() + juce::jmax (libraryStartMs, options.waitSeconds * 1000.0);
        do
            juce::MessageManager::getInstance()->runDispatchLoopUntil (20);
        while (! console.connected() && juce::Time::getMillisecondCounterHiRes() < deadline);
    }

    const juce::String libraryName = DeviceLibrary::fileName();
    if (options.json)
    {
        auto* o = new juce::DynamicObject();
        o->setProperty ("event", "found");
        o->setProperty ("library", library);
        o->setProperty ("controller", console.connected());
        if (console.connected())
            o->setProperty ("controllerFirmware", versionText (console.firmwareVersion()));
        o->setProperty ("file", file.getFullPathName());
        o->setProperty ("fileValid", fileValid);
        if (fileValid)
            o->setProperty ("fileFirmware", versionText (newVersion));
        else
            o->setProperty ("fileProblem", fileProblem);
        print.json (o);
    }
    else
    {
        print.line (! library             ? "Controller: none (the device library " + libraryName + " could not be loaded)"
                    : console.connected() ? "Controller: KRV-7000, firmware " + versionText (console.firmwareVersion())
                                          : juce::String ("Controller: none connected"));
        print.line ("Update file: " + file.getFullPathName()
                    + (fileValid ? ", firmware " + versionText (newVersion) + ", valid" : ", not valid: " + fileProblem));
    }

    if (! library)
        return print.result (cannotStart, "The device library " + libraryName + " could not be loaded.");
    if (! fileValid)
        return print.result (cannotStart, "The update file cannot be used: " + fileProblem);
    if (! console.connected())
        return print.result (cannotStart, "No KRV-7000 is connected.");
    if (! options.update)
        return print.result (completed, "Ready: run with --update to install firmware " + versionText (newVersion) + ".");

    // One updater at a time per machine: the window holds this lock while it runs.
    juce::InterProcessLock lock (updaterLock);
    if (! lock.enter (0))
        return print.result (cannotStart, "Another updater is running on this computer.");

    UpdateSession::Update update;
    update.records = records;
    update.newFirmwareVersion = newVersion;
    update.updateFileValid = 1;
    update.updatePayloadSize = payloadSize;
    update.file = file;

    {
        // The update's span is held against interrupts, sleep and shutdown.
        InterruptHold hold;
        const UpdateInhibitor inhibitor (UpdateInhibitor::updaterName, UpdateInhibitor::updateReason, nullptr);
        if (options.trace)
            writeSystemLogLine ("sleep and shutdown " + inhibitor.describe());
        console.start (update, timings);
        while (console.isThreadRunning())
        {
            juce::MessageManager::getInstance()->runDispatchLoopUntil (20);
            print.progress (console.progress.load());
        }
    }

    if (console.outcome.load() == (int) UpdateSession::Screen::complete)
    {
        print.progress (1.0);
        return print.result (completed, "The update completed: the controller now runs firmware " + versionText (newVersion) + ".");
    }
    return print.result (failed, "The update failed: " + console.failureReason() + ". Reconnect the controller and run krv-update --update again.");
}
