#include "style/PngDecoder.h"

#include <png.h>

#include <cstring>

bool PngDecoder::hasSignature (const void* data, std::size_t size) noexcept
{
    static const unsigned char signature[8] = { 0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n' };
    return data != nullptr && size >= sizeof (signature) && std::memcmp (data, signature, sizeof (signature)) == 0;
}

juce::Image PngDecoder::decode (const void* data, std::size_t size)
{
    if (! hasSignature (data, size))
        return {};

    png_image png;
    std::memset (&png, 0, sizeof (png));
    png.version = PNG_IMAGE_VERSION;

    // The simplified API catches libpng's errors itself and returns 0.
    if (png_image_begin_read_from_memory (&png, data, size) == 0)
        return {};

    if (png.width == 0 || png.height == 0 || png.width > (png_uint_32) maxSide || png.height > (png_uint_32) maxSide)
    {
        png_image_free (&png);
        return {};
    }

    const bool withAlpha = (png.format & PNG_FORMAT_FLAG_ALPHA) != 0;
    png.format = PNG_FORMAT_BGRA;

    const auto width = (int) png.width;
    const auto height = (int) png.height;
    juce::HeapBlock<png_byte> pixels ((std::size_t) width * (std::size_t) height * 4);

    if (png_image_finish_read (&png, nullptr, pixels.get(), 0, nullptr) == 0)
    {
        png_image_free (&png);
        return {};
    }

    juce::Image image (withAlpha ? juce::Image::ARGB : juce::Image::RGB, width, height, false);
    const juce::Image::BitmapData out (image, juce::Image::BitmapData::writeOnly);
    const png_byte* src = pixels.get();

    for (int y = 0; y < height; ++y)
    {
        for (int x = 0; x < width; ++x, src += 4)
        {
            auto* dest = out.getPixelPointer (x, y);

            if (withAlpha)
            {
                auto* p = reinterpret_cast<juce::PixelARGB*> (dest);
                p->setARGB (src[3], src[2], src[1], src[0]);
                p->premultiply();
            }
            else
            {
                reinterpret_cast<juce::PixelRGB*> (dest)->setARGB (0xff, src[2], src[1], src[0]);
            }
        }
    }

    return image;
}
