// Any bytes as a text table, for every section; the parser must stay inside them.
#include "text/TxtLoader.h"

#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput (const std::uint8_t* data, std::size_t size)
{
    // A copy with no zero byte after it, so reading past the end is caught.
    std::vector<std::uint8_t> table (data, data + size);
    juce::String out[24];
    for (int section : { 1, 3, 4 })
        TxtLoader::parseSection (table.data(), table.size(), section, out, 24);

    // unquote works on one zero-terminated line of less than 2048 bytes.
    char line[2048];
    char unquoted[2048];
    const auto n = std::min<std::size_t> (size, sizeof (line) - 1);
    std::memcpy (line, data, n);
    line[n] = 0;
    TxtLoader::unquote (line, unquoted);
    return 0;
}
