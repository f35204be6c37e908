// Any bytes as an update file: the loader's parser and the tool's diagnosis must stay
// inside them and agree with each other.
#include "update/UpdateFile.h"
#include "update/UpdateFileReport.h"

#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput (const std::uint8_t* data, std::size_t size)
{
    // A copy of exactly the input's size, so reading one byte past it is caught.
    const std::vector<std::uint8_t> file (data, data + size);
    UpdateRecordInfo records[updateRecordCount] {};
    int version = 12345;
    const int result = parseUpdateFile (file.data(), file.size(), "KRV-7000 ", &version, records);

    // A passing file holds its header and twelve framed records.
    if (result != 0 && (size < 492 || result != (int) (size - 492)))
        std::abort();
    if (size < 23 && version != -1)
        std::abort();

    const auto report = inspectUpdateFile (file.data(), file.size());
    if (report.payloadSize != result)
        std::abort();
    if (result > 0 && report.version != version)
        std::abort();
    return 0;
}
