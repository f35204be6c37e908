#pragma once

// What this process holds, read from /proc: for soaks that must leave nothing behind.

#include <cstdio>
#include <dirent.h>
#include <unistd.h>

namespace testsupport
{
struct ProcessUse
{
    double residentMb = 0;
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
    use.descriptors = entriesIn ("/proc/self/fd") - 1; // the listing's own
    use.threads = entriesIn ("/proc/self/task");
    return use;
}
} // namespace testsupport
