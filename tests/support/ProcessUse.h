#pragma once

// What this process holds, read from /proc, and a soak's report of its outcomes and of
// that use: for soaks that must leave nothing behind.

#include <cstdio>
#include <dirent.h>
#include <malloc.h>
#include <map>
#include <string>
#include <unistd.h>

namespace testsupport
{
struct ProcessUse
{
    double residentMb = 0;
    // malloc's blocks in use, and what it holds from the system for them, over all arenas:
    // resident memory that grows while the blocks in use do not is the allocator's to keep.
    double heapInUseMb = 0;
    double heapHeldMb = 0;
    int descriptors = 0;
    int threads = 0;
};

inline int entriesIn (const char* folder)
{
    int count = 0;
    if (auto* dir = opendir (folder))
    {
        while (auto* entry = readdir (dir))
            count += entry->d_name[0] != '.';
        closedir (dir);
    }
    return count;
}

inline ProcessUse processUse()
{
    ProcessUse use;
    long pages = 0, resident = 0;
    if (auto* f = std::fopen ("/proc/self/statm", "r"))
    {
        if (std::fscanf (f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose (f);
    }
    use.residentMb = (double) resident * (double) sysconf (_SC_PAGESIZE) / (1024.0 * 1024.0);
    const auto heap = mallinfo2();
    use.heapInUseMb = (double) (heap.uordblks + heap.hblkhd) / (1024.0 * 1024.0);
    use.heapHeldMb = (double) (heap.arena + heap.hblkhd) / (1024.0 * 1024.0);
    use.descriptors = entriesIn ("/proc/self/fd") - 1; // the listing's own
    use.threads = entriesIn ("/proc/self/task");
    return use;
}

/** What each open descriptor refers to, one "N -> target" a line: for the report of one
    left behind. */
inline std::string openDescriptors()
{
    std::string listing;
    if (auto* dir = opendir ("/proc/self/fd"))
    {
        while (auto* entry = readdir (dir))
        {
            if (entry->d_name[0] == '.')
                continue;
            char target[512] {};
            const auto path = std::string ("/proc/self/fd/") + entry->d_name;
            const auto length = readlink (path.c_str(), target, sizeof (target) - 1);
            listing += std::string (entry->d_name) + " -> " + (length > 0 ? std::string (target, (size_t) length) : "?") + "\n";
        }
        closedir (dir);
    }
    return listing;
}

/** Runs by fault class, then by outcome. */
using SoakOutcomes = std::map<std::string, std::map<std::string, int>>;

/** The lines after a soak's headline: outcomes by class, then the process's use. */
inline void printSoakReport (const SoakOutcomes& outcomes, const ProcessUse& first, const ProcessUse& warm,
                             const ProcessUse& last)
{
    for (const auto& [name, counts] : outcomes)
    {
        std::printf ("[   SOAK   ]   %-24s", name.c_str());
        for (const auto& [state, n] : counts)
            std::printf (" %s %d", state.c_str(), n);
        std::printf ("\n");
    }
    std::printf ("[   SOAK   ] resident %.1f MB at start, %.1f MB after warm-up, %.1f MB at the end; "
                 "descriptors %d/%d/%d; threads %d/%d/%d\n",
                 first.residentMb, warm.residentMb, last.residentMb, first.descriptors, warm.descriptors,
                 last.descriptors, first.threads, warm.threads, last.threads);
    std::printf ("[   SOAK   ] heap in use %.1f/%.1f/%.1f MB, held from the system %.1f/%.1f/%.1f MB\n", first.heapInUseMb,
                 warm.heapInUseMb, last.heapInUseMb, first.heapHeldMb, warm.heapHeldMb, last.heapHeldMb);
}
} // namespace testsupport
