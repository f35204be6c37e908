#pragma once

#include "TraceLines.h"

// Captures the debug trace, which goes to standard error here: what the process writes to
// file descriptor 2 goes into a temporary file meanwhile.

#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

class TraceCapture
{
public:
    TraceCapture()
    {
        std::fflush (stderr);
        file = std::tmpfile();
        savedFd = ::dup (2);
        if (file != nullptr && savedFd >= 0)
            ::dup2 (::fileno (file), 2);
    }

    ~TraceCapture() { finish(); }

    /** Restores standard error and returns everything written meanwhile. */
    std::string finish()
    {
        if (file == nullptr)
            return captured;

        std::fflush (stderr);
        if (savedFd >= 0)
        {
            ::dup2 (savedFd, 2);
            ::close (savedFd);
            savedFd = -1;
        }

        std::rewind (file);
        char chunk[4096];
        size_t n;
        while ((n = std::fread (chunk, 1, sizeof (chunk), file)) > 0)
            captured.append (chunk, n);

        std::fclose (file);
        file = nullptr;
        return captured;
    }

    static std::vector<std::string> lines (const std::string& text) { return splitTraceLines (text); }

private:
    std::FILE* file = nullptr;
    int savedFd = -1;
    std::string captured;

    TraceCapture (const TraceCapture&) = delete;
    TraceCapture& operator= (const TraceCapture&) = delete;
};
