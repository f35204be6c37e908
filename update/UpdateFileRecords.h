#pragma once

#include "update/UpdateFile.h"

#include <cstddef>
#include <cstdint>

// The one walk over an update file's records, which the loader's parser and the tool's
// report each reduce in their own way.

/** One record as the walk finds it. */
struct UpdateFileRecord
{
    int index = 0;                        // 0 to 11
    std::size_t offset = 0;               // where its header starts
    const std::uint8_t* header = nullptr; // null: the file ends before the header does
    std::uint32_t length = 0;             // the data bytes its header announces
    bool complete = false;                // its data and CRC lie within the file

    bool transfer() const noexcept { return header[UpdateFileLayout::flagOffset] == UpdateFileLayout::transferFlag; }
    const std::uint8_t* data() const noexcept { return header + UpdateFileLayout::recordHeaderSize; }

    /** Only for a complete record. */
    std::uint16_t storedCrc() const noexcept
    {
        return static_cast<std::uint16_t> (data()[length] | (data()[length + 1] << 8));
    }

    /** Only for a complete record. */
    std::uint16_t computeCrc() const noexcept { return computeCrc16 (data(), length); }
};

/** Calls visit (const UpdateFileRecord&) for each record in turn, from the end of the
    file's header, while visit returns true. It stops after a record whose header is not
    in the file (header null) or that is not complete, since nothing after it can be
    found; it never reads outside [data, data + size). */
template <typename Visit>
void forEachUpdateFileRecord (const std::uint8_t* data, std::size_t size, Visit&& visit)
{
    using namespace UpdateFileLayout;

    std::size_t offset = headerSize;

    for (int r = 0; r < updateRecordCount; ++r)
    {
        UpdateFileRecord record;
        record.index = r;
        record.offset = offset;

        if (data != nullptr && offset <= size && size - offset >= recordHeaderSize)
        {
            record.header = data + offset;
            record.length = readLittleEndian32 (record.header + lengthOffset);
            const std::size_t available = size - offset - recordHeaderSize;
            record.complete = record.length <= available && available - record.length >= crcSize;
        }

        if (! visit (static_cast<const UpdateFileRecord&> (record)) || ! record.complete)
            return;

        offset += recordFrameSize + record.length;
    }
}
