#pragma once

#include "Krv7000Model.h"

#include <string>
#include <vector>

namespace krvsim
{
/** One scripted fault: what goes wrong, at which step, how often. */
struct Fault
{
    enum Kind
    {
        silence,     // the report is taken but not answered
        wrong,       // the final answer carries a wrong code
        refuse,      // the mode request is refused (0xF6 with a value other than 0 or 1)
        notSwitched, // the mode request is answered 0xF6, 0: not switched
        busy,        // busy answers without end
        slow,        // the answers come late
        oversized,   // the answer (or unasked report) is longer than 256 bytes
        unplug       // the controller is unplugged instead of answering
    };

    Kind kind = silence;
    std::string step; // as written: "data:3", "start", "any" ...
    int id = 0;
    int remaining = -1; // fires this many more times; -1 without limit
    int ms = 2000;      // slow: extra time; busy: time between busy answers
    int code = -1;      // wrong: the code to send (-1: one that is wrong for the step)
    int value = 2;      // refuse: byte 1 of the refusal
    int size = 320;     // oversized: bytes in the report

    bool matches (const Step& s) const;
    std::string describe() const;
};

/** Parses "kind [step] [ms=N] [code=0xNN] [value=N] [size=N] [count=N]" (the words
    after "fault"). Returns false with a reason for anything it does not understand. */
bool parseFault (const std::vector<std::string>& words, Fault& fault, std::string& error);

/** A code that is wrong as the final answer to that step. */
int wrongCodeFor (const Step& step);

std::vector<std::string> splitWords (const std::string& line);
} // namespace krvsim
