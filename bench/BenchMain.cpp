// Prints one table of the updater's measured figures, each from the real code.
//   krv_bench EXECUTABLE SIMULATED_LIBRARY
#include "Bench.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <cstdio>
#include <thread>

int main (int argc, char** argv)
{
    if (argc < 3)
    {
        std::fprintf (stderr, "usage: krv_bench EXECUTABLE SIMULATED_LIBRARY\n");
        return 2;
    }

    const juce::File executable (juce::File::getCurrentWorkingDirectory().getChildFile (argv[1]));
    const juce::File simulated (juce::File::getCurrentWorkingDirectory().getChildFile (argv[2]));

    std::vector<bench::Row> rows;
    {
        // The message thread runs its real dispatch loop, as in the application; a driver
        // thread runs the measurements against it.
        juce::ScopedJuceInitialiser_GUI juce;
        std::thread driver ([&] {
            rows = bench::runRoundTrip (simulated);
            juce::MessageManager::callAsync ([] { juce::MessageManager::getInstance()->stopDispatchLoop(); });
        });
        juce::MessageManager::getInstance()->runDispatchLoop();
        driver.join();
    }
    for (auto& r : bench::runStartup (executable, simulated))
        rows.push_back (r);
    for (auto& r : bench::runUpdateFileCheck())
        rows.push_back (r);

    size_t widths[3] = { 4, 6, 6 };
    for (auto& r : rows)
    {
        widths[0] = std::max (widths[0], r.what.size());
        widths[1] = std::max (widths[1], r.figure.size());
        widths[2] = std::max (widths[2], r.target.size());
    }

    auto line = [&] (const std::string& a, const std::string& b, const std::string& c, const std::string& d) {
        std::printf ("| %-*s | %*s | %-*s | %-6s |\n", (int) widths[0], a.c_str(), (int) widths[1], b.c_str(),
                     (int) widths[2], c.c_str(), d.c_str());
    };

    line ("What", "Figure", "Target", "Met");
    std::printf ("|-%s-|-%s:|-%s-|--------|\n", std::string (widths[0], '-').c_str(),
                 std::string (widths[1] - 1, '-').c_str(), std::string (widths[2], '-').c_str());
    bool allMet = true;
    for (auto& r : rows)
    {
        line (r.what, r.figure, r.target, r.verdict);
        allMet = allMet && r.verdict != "MISSED";
    }

    return allMet ? 0 : 1;
}
