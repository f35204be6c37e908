#pragma once

// Bytes placed right before an unreadable page: a read past their end faults at once,
// in any build, so tests of parsers catch it without a sanitizer.

#include <cstdint>
#include <cstring>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

class GuardedBytes
{
public:
    explicit GuardedBytes (const std::vector<std::uint8_t>& bytes)
    {
        const size_t page = (size_t)::sysconf (_SC_PAGESIZE);
        dataPages = (bytes.size() + page - 1) / page;
        mappedSize = (dataPages + 1) * page;
        mapping = ::mmap (nullptr, mappedSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        auto* base = static_cast<std::uint8_t*> (mapping);
        ::mprotect (base + dataPages * page, page, PROT_NONE);
        start = base + dataPages * page - bytes.size();
        if (! bytes.empty())
            std::memcpy (start, bytes.data(), bytes.size());
        size = bytes.size();
    }

    ~GuardedBytes() { ::munmap (mapping, mappedSize); }

    GuardedBytes (const GuardedBytes&) = delete;
    GuardedBytes& operator= (const GuardedBytes&) = delete;

    std::uint8_t* start = nullptr;
    size_t size = 0;

private:
    void* mapping = nullptr;
    size_t dataPages = 0;
    size_t mappedSize = 0;
};
