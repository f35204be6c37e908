// 32-bit Windows: each export is called through a generated stub that is __stdcall to its
// caller. It copies the arguments, calls the export and then resets the stack pointer from
// its own frame, so the stack is right whether the export popped the arguments or not. It
// notes how far the stack pointer stood from its frame after the call: that tells which
// convention the export has.
#include "platform/CallStubs.h"

#include "platform/Win32.h"

#include <juce_core/juce_core.h>

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <mutex>
#include <vector>

namespace
{
constexpr int stubBytes = 64;
constexpr int largestArgumentBytes = 32; // what fits in a stub and in the one-byte offsets

// Where each stub notes the distance, -1 until its first call; for the life of the process.
struct Wrapped
{
    CallStubs::Function stub;
    const volatile std::int32_t* distance;
    int argumentBytes;
};

std::mutex wrappedLock;
std::vector<Wrapped> wrappedExports;

// The export gets the stack aligned as a direct call would have left it.
int paddingFor (int argumentBytes)
{
    return (16 - (argumentBytes + 8) % 16) % 16;
}

void writeStub (unsigned char* stub, CallStubs::Function target, int argumentBytes, volatile std::int32_t* distance)
{
    auto* end = stub;
    const auto put = [&end] (std::initializer_list<unsigned char> bytes) {
        for (auto byte : bytes)
            *end++ = byte;
    };

    const auto put32 = [&end] (const volatile void* value) {
        const auto address = (std::uint32_t) reinterpret_cast<std::uintptr_t> (value);
        std::memcpy (end, &address, sizeof (address));
        end += sizeof (address);
    };
    const auto padding = paddingFor (argumentBytes);

    put ({ 0x55, 0x89, 0xe5 }); // push ebp; mov ebp, esp
    if (padding > 0)
        put ({ 0x83, 0xec, (unsigned char) padding }); // sub esp, padding
    for (int offset = argumentBytes + 4; offset >= 8; offset -= 4)
        put ({ 0xff, 0x75, (unsigned char) offset }); // push dword [ebp + offset], the last argument first

    put ({ 0xb8 }); // mov eax, target
    put32 (reinterpret_cast<const void*> (target));

    const auto low = (unsigned char) (argumentBytes & 0xff), high = (unsigned char) (argumentBytes >> 8);
    put ({ 0xff, 0xd0 }); // call eax
    put ({ 0x89, 0xe9 }); // mov ecx, ebp
    put ({ 0x29, 0xe1 }); // sub ecx, esp: the padding, plus the arguments where the export left them
    put ({ 0x89, 0x0d }); // mov [distance], ecx
    put32 (distance);
    put ({ 0x89, 0xec });      // mov esp, ebp
    put ({ 0x5d });            // pop ebp
    put ({ 0xc2, low, high }); // ret argumentBytes
    jassert (end - stub <= stubBytes);
}
} // namespace

bool CallStubs::wrap (Export* exports, int count)
{
    if (count <= 0)
        return true;

    for (int i = 0; i < count; ++i)
        if (exports[i].function == nullptr || exports[i].argumentBytes < 0
            || exports[i].argumentBytes > largestArgumentBytes || exports[i].argumentBytes % 4 != 0)
            return false;

    const auto size = (SIZE_T) count * stubBytes;
    auto* page = static_cast<unsigned char*> (VirtualAlloc (nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    if (page == nullptr)
        return false;

    auto* distances = new std::int32_t[(size_t) count]; // for the life of the process, as the stubs
    for (int i = 0; i < count; ++i)
    {
        distances[i] = -1;
        writeStub (page + i * stubBytes, exports[i].function, exports[i].argumentBytes, distances + i);
    }

    // Never writable and executable at once.
    DWORD previous = 0;
    if (! VirtualProtect (page, size, PAGE_EXECUTE_READ, &previous))
    {
        VirtualFree (page, 0, MEM_RELEASE);
        delete[] distances;
        return false;
    }
    FlushInstructionCache (GetCurrentProcess(), page, size);

    std::lock_guard<std::mutex> guard (wrappedLock);
    for (int i = 0; i < count; ++i)
    {
        const auto stub = reinterpret_cast<Function> (reinterpret_cast<std::uintptr_t> (page + i * stubBytes));
        wrappedExports.push_back ({ stub, distances + i, exports[i].argumentBytes });
        exports[i].function = stub;
    }
    return true;
}

const char* CallStubs::conventionSeen (Function wrapped)
{
    std::lock_guard<std::mutex> guard (wrappedLock);
    for (const auto& w : wrappedExports)
    {
        if (w.stub != wrapped)
            continue;

        const auto distance = *w.distance, padding = paddingFor (w.argumentBytes);
        if (w.argumentBytes == 0 || distance < 0)
            return nullptr;
        if (distance == padding)
            return "__stdcall";
        if (distance == padding + w.argumentBytes)
            return "__cdecl";
        return "neither __stdcall nor __cdecl";
    }
    return nullptr;
}

const char* CallStubs::howCalled()
{
    return "called through stubs that restore the stack after __stdcall and __cdecl alike";
}
