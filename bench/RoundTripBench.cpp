// The record phase of an update against the simulated controller, beside the floor that
// any message-thread round trip costs on this machine.
#include "Bench.h"

#include <juce_events/juce_events.h>

#include <functional>
#include <thread>

namespace bench
{
double measureMessageRoundTripFloor (int rounds, std::vector<double>* samples)
{
    // Runs on the driver thread while the message thread sits in its real dispatch loop.
    juce::WaitableEvent answered;
    std::vector<double> times;
    times.reserve ((size_t) rounds);

    for (int i = 0; i < rounds + 200; ++i)
    {
        const auto start = nowMs();
        juce::MessageManager::callAsync ([&answered] { answered.signal(); });
        answered.wait (-1);
        if (i >= 200) // warm-up
            times.push_back ((nowMs() - start) * 1000.0);
    }

    if (samples != nullptr)
        *samples = times;
    return percentile (times, 50);
}

void onMessageThread (std::function<void()> work)
{
    juce::WaitableEvent done;
    juce::MessageManager::callAsync ([&] { work(); done.signal(); });
    done.wait (-1);
}
} // namespace bench

#include "MainComponentProbe.h"
#include "TestSupport.h"

#include "bridge/sim/SimControl.h"
#include "device/DeviceLibrary.h"
#include "update/UpdateFileBuilder.h"
#include "update/UpdateFileLocation.h"

#include <dlfcn.h>

#include <memory>

namespace bench
{
namespace
{
// The simulated library's own functions, with HID_Write wrapped to time each report.
FwBridgeApi simulated;
std::vector<double> writeTimes;
std::vector<std::uint8_t> writeCodes;

int timedWrite (int hidNumber, const unsigned char* data, int length)
{
    writeTimes.push_back (nowMs());
    writeCodes.push_back (data[0]);
    return simulated.write (hidNumber, data, length);
}

std::vector<UpdateRecordSpec> recordsOf (size_t total, size_t blocksPerRecord)
{
    std::vector<UpdateRecordSpec> records (12);
    juce::Random random (11);
    size_t used = 0;
    for (size_t i = 0; i < records.size(); ++i)
    {
        const size_t length = i + 1 < records.size() ? blocksPerRecord * 62 : total - used;
        records[i].data.resize (length);
        for (auto& b : records[i].data)
            b = (std::uint8_t) random.nextInt (256);
        used += length;
    }
    return records;
}

struct PhaseResult
{
    bool completed = false;
    size_t blocks = 0;
    double recordPhaseMs = 0.0;
    std::vector<double> perBlockMicroseconds;
};

PhaseResult runUpdate (const juce::File& library, const std::vector<UpdateRecordSpec>& records, bool synchronous)
{
    PhaseResult result;
    juce::String problem;
    if (! DeviceLibrary::load ({ library.getFullPathName() }, simulated, problem))
    {
        std::fprintf (stderr, "%s\n", problem.toRawUTF8());
        return result;
    }

    auto* handle = dlopen (library.getFullPathName().toRawUTF8(), RTLD_NOW | RTLD_NOLOAD);
    auto command = reinterpret_cast<SIM_Command_t> (dlsym (handle, "SIM_Command"));
    auto reset = reinterpret_cast<SIM_Reset_t> (dlsym (handle, "SIM_Reset"));
    auto hidNumber = reinterpret_cast<SIM_GetHidNumber_t> (dlsym (handle, "SIM_GetHidNumber"));
    reset();
    command ("stream off");
    command ("log-stream off");
    command (synchronous ? "sync on" : "sync off");
    command (synchronous ? "frames off" : "frames on");
    command ("busy-answers 0 0");

    FwBridgeApi timed = simulated;
    timed.write = timedWrite;
    DeviceLibrary::useInstead (&timed);

    auto folder = juce::File::createTempFile ("krv-bench-update");
    folder.createDirectory();
    const auto file = buildUpdateFile (103, records);
    folder.getChildFile ("KRV-7000_UP.upd").replaceWithData (file.data(), file.size());
    UpdateFileLocation::setFolderForTesting (folder);

    std::unique_ptr<MainComponent> ui;
    onMessageThread ([&] {
        ui = std::make_unique<MainComponent>();
        // Already in update mode, as a controller that was asked before: the session
        // then starts with the information report after one silent second.
        const std::uint8_t mode[64] = { 0xF4 };
        simulated.write (hidNumber(), mode, 64);
    });
    juce::Thread::sleep (50);

    writeTimes.clear();
    writeCodes.clear();
    writeTimes.reserve (40000);
    writeCodes.reserve (40000);

    onMessageThread ([&] {
        MainComponentProbe::click (*ui, MainComponentProbe::okButton (*ui));
        MainComponentProbe::click (*ui, MainComponentProbe::okButton (*ui));
    });

    int state = 0;
    const auto deadline = nowMs() + 600000.0;
    while (state < UpdateComplete && nowMs() < deadline)
    {
        juce::Thread::sleep (20);
        onMessageThread ([&] { state = MainComponentProbe::screenState (*ui); });
    }
    result.completed = state == UpdateComplete;
    onMessageThread ([&] { ui.reset(); });

    // One round trip: from a data block's write to the next report's write.
    double firstBlock = -1.0, endReport = -1.0;
    for (size_t i = 0; i < writeCodes.size(); ++i)
    {
        if (writeCodes[i] == 0xF3)
        {
            ++result.blocks;
            if (firstBlock < 0)
                firstBlock = writeTimes[i];
            if (i + 1 < writeCodes.size() && writeCodes[i + 1] == 0xF3)
                result.perBlockMicroseconds.push_back ((writeTimes[i + 1] - writeTimes[i]) * 1000.0);
        }
        if (writeCodes[i] == 0xF2 && endReport < 0)
            endReport = writeTimes[i];
    }
    result.recordPhaseMs = endReport - firstBlock;

    DeviceLibrary::useInstead (nullptr);
    UpdateFileLocation::setFolderForTesting ({});
    folder.deleteRecursively();
    return result;
}
} // namespace

std::vector<Row> runRoundTrip (const juce::File& simulatedLibrary)
{
    std::vector<Row> rows;
    // The floor and the blocks in turns: how fast a thread wakes another changes over a run
    // on some machines, and a floor taken once, before all the blocks, can miss that.
    std::vector<double> floorSamples;
    PhaseResult immediate;
    immediate.completed = true;
    for (int turn = 0; turn < 4; ++turn)
    {
        std::vector<double> samples;
        measureMessageRoundTripFloor (5000, &samples);
        floorSamples.insert (floorSamples.end(), samples.begin(), samples.end());

        const auto part = runUpdate (simulatedLibrary, recordsOf (1u << 18, 352), true);
        immediate.completed = immediate.completed && part.completed;
        immediate.blocks += part.blocks;
        immediate.recordPhaseMs += part.recordPhaseMs;
        immediate.perBlockMicroseconds.insert (immediate.perBlockMicroseconds.end(), part.perBlockMicroseconds.begin(),
                                               part.perBlockMicroseconds.end());
    }
    const double floor = percentile (floorSamples, 50);
    const double median = percentile (immediate.perBlockMicroseconds, 50);
    const double p99 = percentile (immediate.perBlockMicroseconds, 99);
    const double blocksPerSecond = immediate.recordPhaseMs > 0 ? (double) immediate.blocks / (immediate.recordPhaseMs / 1000.0) : 0.0;

    rows.push_back ({ "Floor: bare JUCE round trip, median (p99 " + format (percentile (floorSamples, 99)) + " us)",
                      format (floor) + " us", "", "" });
    rows.push_back ({ "4 x 256 KiB updates, immediate answers: " + std::to_string (immediate.blocks) + " blocks"
                          + (immediate.completed ? "" : " (NOT COMPLETED)"),
                      format (blocksPerSecond, 0) + " blocks/s", "", immediate.completed ? "" : "MISSED" });
    rows.push_back ({ "  per block, median", format (median) + " us", "<= 1.25 x floor = " + format (floor * 1.25) + " us",
                      verdict (immediate.completed && median <= floor * 1.25) });
    rows.push_back ({ "  per block, 99th percentile", format (p99) + " us", "", "" });

    const auto framed = runUpdate (simulatedLibrary, recordsOf (256u << 10, 352), false);
    const double perBlockMs = framed.blocks > 0 ? framed.recordPhaseMs / (double) framed.blocks : 0.0;
    rows.push_back ({ "256 KiB update, 1 ms frames: " + std::to_string (framed.blocks) + " blocks"
                          + (framed.completed ? "" : " (NOT COMPLETED)"),
                      format (framed.recordPhaseMs / 1000.0, 2) + " s", "", framed.completed ? "" : "MISSED" });
    // The controller answers on the next 1 ms boundary, so one frame per block is the floor.
    const double framesPerBlock = perBlockMs / 1.0;
    rows.push_back ({ "  per block, " + format (perBlockMs, 3) + " ms, as frames", format (framesPerBlock, 2) + " x 1 ms",
                      "<= 1.10 x the 1 ms floor", verdict (framed.completed && framesPerBlock <= 1.10) });
    return rows;
}
} // namespace bench
