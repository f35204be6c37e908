#include "base/Utf8Text.h"

#include <string>

namespace
{
// Length of the well-formed sequence starting at p, or 0 when there is none.
std::size_t sequenceLength (const unsigned char* p, std::size_t available)
{
    const unsigned char lead = p[0];
    std::size_t length;
    std::uint32_t minimum;

    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2, minimum = 0x80;
    else if (lead >= 0xE0 && lead <= 0xEF)
        length = 3, minimum = 0x800;
    else if (lead >= 0xF0 && lead <= 0xF4)
        length = 4, minimum = 0x10000;
    else
        return 0;

    if (length > available)
        return 0;

    std::uint32_t codePoint = lead & (0x7Fu >> length);
    for (std::size_t i = 1; i < length; ++i)
    {
        if ((p[i] & 0xC0) != 0x80)
            return 0;
        codePoint = (codePoint << 6) | (p[i] & 0x3Fu);
    }

    const bool surrogate = codePoint >= 0xD800 && codePoint <= 0xDFFF;
    return codePoint >= minimum && codePoint <= 0x10FFFF && ! surrogate ? length : 0;
}
} // namespace

juce::String stringFromUntrustedUtf8 (const char* text, std::size_t length)
{
    if (text == nullptr || length == 0)
        return {};

    const auto* bytes = reinterpret_cast<const unsigned char*> (text);
    std::string clean;
    clean.reserve (length);

    for (std::size_t i = 0; i < length;)
    {
        if (bytes[i] == 0)
            break;

        if (const auto n = sequenceLength (bytes + i, length - i); n > 0)
        {
            clean.append (text + i, n);
            i += n;
        }
        else
        {
            clean.append ("\xEF\xBF\xBD");
            ++i;
        }
    }

    return juce::String::fromUTF8 (clean.data(), (int) clean.size());
}
