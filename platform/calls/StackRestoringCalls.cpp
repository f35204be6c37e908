// 32-bit Windows: each export is called through a compiled __stdcall thunk that hands its
// argument words to one fixed assembly routine (CallWithWords.S). The routine calls the
// export and then resets the stack pointer from its own frame, so the stack is right
// whether the export popped the arguments or not, and it notes how far the stack pointer
// stood after the call: that tells which convention the export has. No code is written
// at run time: the thunks are a fixed table, a slot per export.
#include "platform/CallStubs.h"

#include <juce_core/juce_core.h>

#include <array>
#include <cstdint>
#include <mutex>
#include <utility>

extern "C" int __cdecl krvCallWithWords (CallStubs::Function function, const std::uint32_t* words, int count, std::int32_t* distance);

namespace
{
constexpr int largestArgumentWords = 8;
constexpr int slotCount = 48; // exports of different libraries; one loaded again reuses its slots

struct Slot
{
    CallStubs::Function target = nullptr;
    int argumentBytes = 0;
    std::int32_t distance = -1; // -1 until its first call
};

std::array<Slot, slotCount> slots;
std::mutex slotLock;
int slotsUsed = 0;

template <int slot, typename... Words>
int __stdcall thunk (Words... words)
{
    auto& s = slots[(size_t) slot];
    const std::uint32_t values[] = { words..., 0 }; // never empty
    return krvCallWithWords (s.target, values, (int) sizeof...(Words), &s.distance);
}

template <std::size_t>
using Word = std::uint32_t;

template <int slot, std::size_t... word>
CallStubs::Function thunkOf (std::index_sequence<word...>)
{
    return reinterpret_cast<CallStubs::Function> (&thunk<slot, Word<word>...>);
}

template <int slot, std::size_t... words>
std::array<CallStubs::Function, sizeof...(words)> thunksFor (std::index_sequence<words...>)
{
    return { thunkOf<slot> (std::make_index_sequence<words> {})... };
}

// thunks[slot][words]: the __stdcall function of that many argument words for the slot.
template <std::size_t... slot>
auto thunkTable (std::index_sequence<slot...>)
{
    return std::array<std::array<CallStubs::Function, largestArgumentWords + 1>, sizeof...(slot)> {
        thunksFor<(int) slot> (std::make_index_sequence<largestArgumentWords + 1> {})...
    };
}

const auto thunks = thunkTable (std::make_index_sequence<slotCount> {});
} // namespace

bool CallStubs::wrap (Export* exports, int count)
{
    if (count <= 0)
        return true;

    for (int i = 0; i < count; ++i)
        if (exports[i].function == nullptr || exports[i].argumentBytes < 0
            || exports[i].argumentBytes > 4 * largestArgumentWords || exports[i].argumentBytes % 4 != 0)
            return false;

    std::lock_guard<std::mutex> guard (slotLock);
    int chosen[64] {};
    if (count > (int) std::size (chosen))
        return false;

    int fresh = slotsUsed;
    for (int i = 0; i < count; ++i)
    {
        chosen[i] = -1;
        for (int s = 0; s < slotsUsed; ++s)
            if (slots[(size_t) s].target == exports[i].function && slots[(size_t) s].argumentBytes == exports[i].argumentBytes)
                chosen[i] = s;
        if (chosen[i] < 0)
        {
            if (fresh >= slotCount)
                return false; // nothing replaced
            chosen[i] = fresh++;
        }
    }

    for (int i = 0; i < count; ++i)
    {
        auto& slot = slots[(size_t) chosen[i]];
        slot.target = exports[i].function;
        slot.argumentBytes = exports[i].argumentBytes;
        slot.distance = -1; // a library loaded again has shown nothing yet
        exports[i].function = thunks[(size_t) chosen[i]][(size_t) (exports[i].argumentBytes / 4)];
    }
    slotsUsed = fresh;
    return true;
}

const char* CallStubs::conventionSeen (Function wrapped)
{
    std::lock_guard<std::mutex> guard (slotLock);
    for (int s = 0; s < slotsUsed; ++s)
    {
        const auto& slot = slots[(size_t) s];
        if (thunks[(size_t) s][(size_t) (slot.argumentBytes / 4)] != wrapped)
            continue;

        const auto distance = slot.distance;
        if (slot.argumentBytes == 0 || distance < 0)
            return nullptr;
        if (distance == 0)
            return "__stdcall";
        if (distance == slot.argumentBytes)
            return "__cdecl";
        return "neither __stdcall nor __cdecl";
    }
    return nullptr;
}

const char* CallStubs::howCalled()
{
    return "called through stubs that restore the stack after __stdcall and __cdecl alike";
}
