#pragma once

#include <juce_graphics/juce_graphics.h>

#include <cstddef>

/** Decodes the pictures the program carries once and hands them out by index. */
class ImageLoader
{
public:
    static void createInstance();
    static ImageLoader* getInstance();
    static void deleteInstance();

    /** The picture at index (0: the warning sign), or null when there is none or it did
        not decode. Owned by the loader. */
    juce::Image* getImage (int index);

    /** Decodes bytes of any origin as the loader decodes its pictures: a PNG, else a 24-
        or 32-bit Windows bitmap. Invalid on failure, whatever the bytes. Nothing is cached,
        so any buffer may be handed in. */
    static juce::Image decodePicture (const void* data, std::size_t size);

    virtual ~ImageLoader();

    static constexpr int imageCount = 1;

private:
    ImageLoader();

    juce::Image images[imageCount]; // invalid where a picture failed to decode

    JUCE_DECLARE_NON_COPYABLE (ImageLoader)
};
