// krv-update against the simulated controller: what it finds, its whole update, each way a
// session fails, and what stops it from starting, as its exit code and final sentence.
#include "WholeUpdateFixture.h"

#include "app/CommandLineUpdater.h"
#include "update/UpdateFileReport.h"

namespace
{
using namespace wholeupdate;

struct CliRun
{
    int code = -1;
    juce::StringArray lines;
    juce::String err;
};

class CommandLineUpdaterTests : public WholeUpdateFixture
{
protected:
    CliRun runCli (const juce::StringArray& args)
    {
        juce::MemoryOutputStream out, err;
        CliRun r;
        // A lock of this process's own: parallel tests and other updaters keep the real one.
        const auto lock = "krvCliTest_" + juce::String (juce::Random::getSystemRandom().nextInt64());
        r.code = CommandLineUpdater::run (args, out, err, false, timings, lock);
        r.lines.addLines (out.toString().trimEnd());
        r.err = err.toString();
        return r;
    }
};

struct Case
{
    const char* name;
    std::function<void()> arrange; // on the controller or the file, before the run
    juce::StringArray args;
    int code;
    const char* sentence; // the start of the last line
    bool holdsTheUpdate;  // the controller holds every record and 1.03 afterwards
};

TEST_F (CommandLineUpdaterTests, ExitCodesAndSentences)
{
    const auto fault = [this] (const char* command) { return [this, command] { sim().command (command); }; };
    const std::vector<Case> cases = {
        { "whole_update", {}, { "--update" }, 0, "The update completed: the controller now runs firmware 1.03.", true },
        { "found_only", {}, {}, 0, "Ready: run with --update to install firmware 1.03.", false },
        { "silence_to_start_report", fault ("fault silence start:5"), { "-y" }, 1, "The update failed: the controller stopped answering.", false },
        { "wrong_code_to_end_report", fault ("fault wrong end count=1"), { "-y" }, 1, "The update failed: the controller refused it (answer code 0x", false },
        { "pulled_in_middle_of_record", fault ("fault unplug block:5.2"), { "-y" }, 1, "The update failed: the controller ", false },
        { "every_mode_request_refused", fault ("fault wrong mode"), { "-y" }, 1, "The update failed: ", false },
        { "no_controller", [this] { sim().detach(); }, { "-y" }, 2, "No KRV-7000 is connected.", false },
        { "usage", {}, { "--wait", "soon" }, 64, nullptr, false },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        if (&c != &cases.front())
        {
            cleanUp();
            prepare();
        }
        DeviceLibrary::useInstead (&sim().api);
        if (c.arrange)
            c.arrange();
        const auto r = runCli (c.args);
        EXPECT_EQ (r.code, c.code) << r.lines.joinIntoString ("\n") << r.err;
        const auto said = c.sentence != nullptr ? r.lines[r.lines.size() - 1].startsWith (c.sentence) : r.err.contains ("--wait");
        EXPECT_TRUE (said) << r.lines.joinIntoString ("\n") << r.err;
        const auto held = holding();
        EXPECT_EQ (held.exactlyTheFile && sim().getVersion() == newVersion, c.holdsTheUpdate) << held.text;
        if (c.code == 2 || (c.code == 0 && ! c.holdsTheUpdate))
        {
            EXPECT_TRUE (held.nothing) << "nothing is written: " << held.text;
        }
    }
}

TEST_F (CommandLineUpdaterTests, NoLibraryAndBadFileCannotStart)
{
    DeviceLibrary::useInstead (&sim().api);
    const std::uint8_t bad[] = { 'K', 'R', 'V', '-', '7', '0', '0', '0', ' ', 1, 2, 3 };
    const auto badFile = folder.getChildFile ("bad.upd");
    ASSERT_TRUE (badFile.replaceWithData (bad, sizeof (bad)));
    const auto expected = inspectUpdateFile (bad, sizeof (bad)).problem;
    ASSERT_FALSE (expected.empty());

    auto r = runCli ({ "-y", "--file", badFile.getFullPathName() });
    EXPECT_EQ (r.code, 2);
    EXPECT_EQ (r.lines[r.lines.size() - 1], "The update file cannot be used: " + juce::String (expected));

    const FwBridgeApi none;
    DeviceLibrary::useInstead (&none);
    r = runCli ({ "-y" });
    EXPECT_EQ (r.code, 2);
    EXPECT_TRUE (r.lines[r.lines.size() - 1].startsWith ("The device library ")) << r.lines.joinIntoString ("\n");
    EXPECT_TRUE (holding().nothing);
}

TEST_F (CommandLineUpdaterTests, JsonLinesForScripts)
{
    DeviceLibrary::useInstead (&sim().api);
    const auto r = runCli ({ "--update", "--json" });
    ASSERT_EQ (r.code, 0) << r.lines.joinIntoString ("\n");

    std::vector<juce::var> events;
    for (const auto& line : r.lines)
    {
        juce::var v;
        ASSERT_TRUE (juce::JSON::parse (line, v).wasOk()) << line;
        events.push_back (v);
    }
    ASSERT_GE (events.size(), 3u);
    EXPECT_EQ (events.front()["event"].toString(), "found");
    EXPECT_EQ (events.front()["controllerFirmware"].toString(), "1.02");
    EXPECT_EQ (events.front()["fileFirmware"].toString(), "1.03");
    EXPECT_EQ (events.back()["event"].toString(), "result");
    EXPECT_EQ ((int) events.back()["exit"], 0);

    int last = -1;
    for (size_t i = 1; i + 1 < events.size(); ++i)
    {
        EXPECT_EQ (events[i]["event"].toString(), "progress");
        EXPECT_GT ((int) events[i]["percent"], last);
        last = events[i]["percent"];
    }
    EXPECT_EQ (last, 100);
}
} // namespace
