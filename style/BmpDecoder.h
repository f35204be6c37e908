#pragma once

#include <juce_graphics/juce_graphics.h>

#include <cstddef>

/** Decodes an uncompressed bottom-up Windows bitmap of 24 or 32 bits per pixel, the
    fallback for a picture that the framework's formats do not take.
*/
class BmpDecoder
{
public:
    static constexpr std::size_t headerSize = 54; // pixel data always starts here

    /** The picture, or an invalid image when the bytes are not such a bitmap or are cut
        short. Reads only the size bytes given. A 32-bit bitmap keeps its alpha bytes as
        they are stored. */
    static juce::Image decode (const void* data, std::size_t size);
};
