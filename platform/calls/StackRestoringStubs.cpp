// 32-bit Windows: each export is called through a generated stub that is __stdcall to its
// caller. It copies the arguments, calls the export and then resets the stack pointer from
// its own frame, so the stack is right whether the export popped the arguments or not.
#include "platform/CallStubs.h"

#include "platform/Win32.h"

#include <juce_core/juce_core.h>

#include <cstdint>
#include <cstring>
#include <initializer_list>

namespace
{
constexpr int stubBytes = 64;
constexpr int largestArgumentBytes = 32; // what fits in a stub and in the one-byte offsets

void writeStub (unsigned char* stub, CallStubs::Function target, int argumentBytes)
{
    auto* end = stub;
    const auto put = [&end] (std::initializer_list<unsigned char> bytes) {
        for (auto byte : bytes)
            *end++ = byte;
    };

    // The export gets the stack aligned as a direct call would have left it.
    const auto padding = (16 - (argumentBytes + 8) % 16) % 16;

    put ({ 0x55, 0x89, 0xe5 }); // push ebp; mov ebp, esp
    if (padding > 0)
        put ({ 0x83, 0xec, (unsigned char) padding }); // sub esp, padding
    for (int offset = argumentBytes + 4; offset >= 8; offset -= 4)
        put ({ 0xff, 0x75, (unsigned char) offset }); // push dword [ebp + offset], the last argument first

    const auto address = (std::uint32_t) reinterpret_cast<std::uintptr_t> (target);
    put ({ 0xb8 }); // mov eax, target
    std::memcpy (end, &address, sizeof (address));
    end += sizeof (address);

    const auto low = (unsigned char) (argumentBytes & 0xff), high = (unsigned char) (argumentBytes >> 8);
    put ({ 0xff, 0xd0 });      // call eax
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

    for (int i = 0; i < count; ++i)
        writeStub (page + i * stubBytes, exports[i].function, exports[i].argumentBytes);

    // Never writable and executable at once.
    DWORD previous = 0;
    if (! VirtualProtect (page, size, PAGE_EXECUTE_READ, &previous))
    {
        VirtualFree (page, 0, MEM_RELEASE);
        return false;
    }
    FlushInstructionCache (GetCurrentProcess(), page, size);

    for (int i = 0; i < count; ++i)
        exports[i].function = reinterpret_cast<Function> (reinterpret_cast<std::uintptr_t> (page + i * stubBytes));
    return true;
}

const char* CallStubs::howCalled()
{
    return "called through stubs that restore the stack after __stdcall and __cdecl alike";
}
