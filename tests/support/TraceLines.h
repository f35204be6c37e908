#pragma once

#include <string>
#include <vector>

/** The lines of a captured debug trace, without their line ends. */
inline std::vector<std::string> splitTraceLines (const std::string& text)
{
    std::vector<std::string> result;
    size_t start = 0;
    while (start < text.size())
    {
        const auto end = text.find ('\n', start);
        if (end == std::string::npos)
        {
            result.push_back (text.substr (start));
            break;
        }
        result.push_back (text.substr (start, end - start));
        start = end + 1;
    }
    return result;
}

/** The session's own lines: those of the system hold around it (sleep, shutdown, quit)
    left out. */
inline std::vector<std::string> sessionTraceLines (const std::string& text)
{
    std::vector<std::string> result;
    for (auto& line : splitTraceLines (text))
        if (line.rfind ("sleep and shutdown ", 0) != 0 && line.rfind ("system quit: ", 0) != 0)
            result.push_back (line);
    return result;
}
