#pragma once

#include <juce_graphics/juce_graphics.h>

#include <cstddef>

// Decodes the pictures the program carries once and hands them out by index.
class ImageLoader
{
public:
    static void createInstance();
    static ImageLoader* getInstance();
    static void deleteInstance();

    /** The picture at index (0: the warning sign), or null. Not owned by the caller. */
    juce::Image* getImage (int index);

    /** Decodes a picture the way the constructor does: PNG and the framework's other
        formats, else a 24- or 32-bit Windows bitmap. Invalid on failure. */
    static juce::Image decodePicture (const void* data, std::size_t size);

    virtual ~ImageLoader();

    static constexpr int imageCount = 1;

private:
    ImageLoader();

    juce::Image* images[imageCount] {};

    JUCE_DECLARE_NON_COPYABLE (ImageLoader)
};
