#pragma once

#include <juce_graphics/juce_graphics.h>

#include <cstddef>

/** Decodes PNG bytes of any origin. The framework's own PNG reader, built against the
    system's libpng, jumps into a dead stack frame on corrupt data; this one reports
    failure instead.
*/
class PngDecoder
{
public:
    static constexpr int maxSide = 4096; // larger pictures are refused

    static bool hasSignature (const void* data, std::size_t size) noexcept;

    /** ARGB (premultiplied) when the picture has alpha, else RGB; invalid on failure. */
    static juce::Image decode (const void* data, std::size_t size);
};
