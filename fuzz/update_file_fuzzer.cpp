// Any bytes as an update file: the parser must stay inside them and agree with itself.
#include "update/UpdateFile.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput (const std::uint8_t* data, std::size_t size)
{
    UpdateRecordInfo records[updateRecordCount] {};
    int version = 12345;
    const int result = parseUpdateFile (data, size, "KRV-7000 ", &version, records);

    if (result != 0)
    {
        // A passing file holds its header and twelve framed records.
        if (size < 492 || result != (int) (size - 492))
            std::abort();
        if (version < -1 || version > 999 + 9 * 111)
            std::abort();
    }
    return 0;
}
