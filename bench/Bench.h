#pragma once

#include <juce_core/juce_core.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace bench
{
struct Row
{
    std::string what;
    std::string figure;
    std::string target;
    std::string verdict; // "ok", "MISSED" or "" when there is no target
};

/** Milliseconds from a steady clock, to the nanosecond. */
inline double nowMs()
{
    using namespace std::chrono;
    return (double) duration_cast<nanoseconds> (steady_clock::now().time_since_epoch()).count() / 1.0e6;
}

inline double percentile (std::vector<double> values, double p)
{
    if (values.empty())
        return 0.0;
    std::sort (values.begin(), values.end());
    const auto index = std::min (values.size() - 1, (size_t) (p / 100.0 * (double) (values.size() - 1) + 0.5));
    return values[index];
}

inline std::string format (double value, int decimals = 1)
{
    char text[64];
    std::snprintf (text, sizeof (text), "%.*f", decimals, value);
    return text;
}

inline std::string verdict (bool met)
{
    return met ? "ok" : "MISSED";
}

/** Median microseconds of the bare JUCE round trip: a worker posts to the message
    thread, which signals an event the worker waits on. */
double measureMessageRoundTripFloor (int rounds, std::vector<double>* samples = nullptr);

/** Runs work on the message thread and waits for it; from the driver thread only. */
void onMessageThread (std::function<void()> work);

std::vector<Row> runRoundTrip (const juce::File& simulatedLibrary);
std::vector<Row> runStartup (const juce::File& executable, const juce::File& simulatedLibrary);
std::vector<Row> runUpdateFileCheck();
} // namespace bench
