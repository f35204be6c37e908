#include "style/ImageLoader.h"

#include "style/BmpDecoder.h"
#include "style/PngDecoder.h"

#include <KrvBinaryData.h>

#include <memory>

namespace
{
struct EmbeddedPicture
{
    const void* data;
    int size;
};

const EmbeddedPicture embeddedImages[ImageLoader::imageCount] = {
    { KrvBinaryData::Warning_png, KrvBinaryData::Warning_pngSize },
};

// The one image loader of the process, from createInstance until deleteInstance.
std::unique_ptr<ImageLoader>& instance()
{
    static std::unique_ptr<ImageLoader> loader;
    return loader;
}
} // namespace

void ImageLoader::createInstance()
{
    if (instance() == nullptr)
        instance().reset (new ImageLoader());
}

ImageLoader* ImageLoader::getInstance()
{
    createInstance();
    return instance().get();
}

void ImageLoader::deleteInstance()
{
    instance().reset();
}

ImageLoader::ImageLoader()
{
    for (int i = 0; i < imageCount; ++i)
    {
        const auto& picture = embeddedImages[i];

        // The cache is keyed by the address of the bytes: safe for the embedded pictures,
        // whose addresses never change while the program runs.
        images[i] = juce::ImageCache::getFromMemory (picture.data, picture.size);

        if (! images[i].isValid())
            images[i] = BmpDecoder::decode (picture.data, (std::size_t) picture.size);
    }
}

ImageLoader::~ImageLoader() = default; // the images are reference-counted; the cache keeps its own

juce::Image* ImageLoader::getImage (int index)
{
    if (index < 0 || index >= imageCount || ! images[index].isValid())
        return nullptr;

    return &images[index];
}

juce::Image ImageLoader::decodePicture (const void* data, std::size_t size)
{
    if (PngDecoder::hasSignature (data, size))
        return PngDecoder::decode (data, size);

    return BmpDecoder::decode (data, size);
}
