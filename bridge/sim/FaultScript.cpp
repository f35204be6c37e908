#include "FaultScript.h"

#include <cstdlib>
#include <sstream>

namespace krvsim
{
namespace
{
bool parseInt (const std::string& text, int& value)
{
    if (text.empty())
        return false;
    char* end = nullptr;
    const long parsed = std::strtol (text.c_str(), &end, 0);
    if (end == nullptr || *end != 0 || parsed < -1000000000L || parsed > 1000000000L)
        return false;
    value = static_cast<int> (parsed);
    return true;
}

bool splitNumber (const std::string& selector, const std::string& name, int& number, bool& hasNumber)
{
    hasNumber = false;
    if (selector == name)
        return true;
    if (selector.rfind (name + ":", 0) != 0)
        return false;
    hasNumber = parseInt (selector.substr (name.size() + 1), number);
    return hasNumber;
}

bool validStep (const std::string& selector)
{
    if (selector == "mode" || selector == "info" || selector == "end" || selector == "stream" || selector == "any")
        return true;

    int number = 0;
    bool hasNumber = false;
    for (const char* name : { "start", "data", "last", "write" })
        if (splitNumber (selector, name, number, hasNumber))
            return std::string (name) != "write" || hasNumber;

    if (selector.rfind ("block:", 0) == 0)
    {
        const auto dot = selector.find ('.');
        int record = 0;
        int block = 0;
        return dot != std::string::npos && parseInt (selector.substr (6, dot - 6), record) && parseInt (selector.substr (dot + 1), block);
    }
    return false;
}
} // namespace

std::vector<std::string> splitWords (const std::string& line)
{
    std::istringstream in (line);
    std::vector<std::string> words;
    for (std::string word; in >> word;)
        words.push_back (word);
    return words;
}

bool Fault::matches (const Step& s) const
{
    if (step == "any")
        return s.kind != Step::stream;
    if (step == "stream")
        return s.kind == Step::stream;
    if (step == "mode")
        return s.kind == Step::mode;
    if (step == "info")
        return s.kind == Step::info;
    if (step == "end")
        return s.kind == Step::end;

    int number = 0;
    bool hasNumber = false;
    if (splitNumber (step, "start", number, hasNumber))
        return s.kind == Step::start && (! hasNumber || s.record == number);
    if (splitNumber (step, "data", number, hasNumber))
        return s.kind == Step::data && (! hasNumber || s.dataIndex == number);
    if (splitNumber (step, "last", number, hasNumber))
        return s.kind == Step::data && s.lastBlock && (! hasNumber || s.record == number);
    if (splitNumber (step, "write", number, hasNumber))
        return s.kind != Step::stream && s.writeIndex == number;

    if (step.rfind ("block:", 0) == 0)
    {
        const auto dot = step.find ('.');
        int record = 0;
        int block = 0;
        return dot != std::string::npos && parseInt (step.substr (6, dot - 6), record) && parseInt (step.substr (dot + 1), block)
               && s.kind == Step::data && s.record == record && s.block == block;
    }
    return false;
}

std::string Fault::describe() const
{
    static const char* names[] = { "silence", "wrong", "refuse", "notswitched", "busy", "slow", "oversized", "unplug" };
    std::string text = std::string (names[kind]) + " at " + step;
    if (kind == slow || kind == busy)
        text += " ms=" + std::to_string (ms);
    if (kind == wrong && code >= 0)
        text += " code=" + std::to_string (code);
    if (kind == refuse)
        text += " value=" + std::to_string (value);
    if (kind == oversized)
        text += " size=" + std::to_string (size);
    if (remaining >= 0)
        text += " count=" + std::to_string (remaining);
    return text;
}

bool parseFault (const std::vector<std::string>& words, Fault& fault, std::string& error)
{
    if (words.empty())
    {
        error = "fault needs a kind";
        return false;
    }

    static const struct
    {
        const char* name;
        Fault::Kind kind;
        const char* defaultStep;
    } kinds[] = {
        { "silence", Fault::silence, nullptr },
        { "wrong", Fault::wrong, nullptr },
        { "refuse", Fault::refuse, "mode" },
        { "notswitched", Fault::notSwitched, "mode" },
        { "busy", Fault::busy, nullptr },
        { "slow", Fault::slow, nullptr },
        { "oversized", Fault::oversized, nullptr },
        { "unplug", Fault::unplug, nullptr },
    };

    const char* defaultStep = nullptr;
    bool known = false;
    for (const auto& k : kinds)
        if (words[0] == k.name)
        {
            fault.kind = k.kind;
            defaultStep = k.defaultStep;
            known = true;
        }

    if (! known)
    {
        error = "unknown fault '" + words[0] + "'";
        return false;
    }

    if (fault.kind == Fault::busy)
        fault.ms = 100;

    size_t next = 1;
    if (next < words.size() && words[next].find ('=') == std::string::npos)
        fault.step = words[next++];
    else if (defaultStep != nullptr)
        fault.step = defaultStep;
    else
    {
        error = "fault " + words[0] + " needs a step";
        return false;
    }

    if (! validStep (fault.step))
    {
        error = "unknown step '" + fault.step + "'";
        return false;
    }

    for (; next < words.size(); ++next)
    {
        const auto& word = words[next];
        const auto equals = word.find ('=');
        int number = 0;
        if (equals == std::string::npos || ! parseInt (word.substr (equals + 1), number))
        {
            error = "cannot read '" + word + "'";
            return false;
        }

        const auto key = word.substr (0, equals);
        if (key == "ms" && number >= 0)
            fault.ms = number;
        else if (key == "code" && number >= 0 && number <= 255)
            fault.code = number;
        else if (key == "value" && number >= 0 && number <= 255)
            fault.value = number;
        else if (key == "size" && number > 0 && number <= 4096)
            fault.size = number;
        else if (key == "count" && number > 0)
            fault.remaining = number;
        else
        {
            error = "cannot use '" + word + "'";
            return false;
        }
    }
    return true;
}

int wrongCodeFor (const Step& step)
{
    switch (step.kind)
    {
        case Step::mode: return code::infoOk;
        case Step::info: return code::received;
        case Step::start: return code::busy;
        case Step::data: return step.lastBlock ? code::received : code::downloaded;
        case Step::end: return code::infoOk;
        default: return code::infoOk;
    }
}
} // namespace krvsim
