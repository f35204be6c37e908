#include "style/BmpDecoder.h"

#include <climits>
#include <cstdint>

namespace
{
std::uint16_t readU16 (const std::uint8_t* p) noexcept
{
    return (std::uint16_t) (p[0] | (p[1] << 8));
}

std::int32_t readI32 (const std::uint8_t* p) noexcept
{
    return (std::int32_t) ((std::uint32_t) p[0] | ((std::uint32_t) p[1] << 8)
                           | ((std::uint32_t) p[2] << 16) | ((std::uint32_t) p[3] << 24));
}
} // namespace

juce::Image BmpDecoder::decode (const void* data, std::size_t size)
{
    if (data == nullptr || size < headerSize)
        return {};

    const auto* bytes = static_cast<const std::uint8_t*> (data);

    if (bytes[0] != 'B' || bytes[1] != 'M')
        return {};

    const int bitsPerPixel = readU16 (bytes + 28);
    const std::int32_t width = readI32 (bytes + 18);
    const std::int32_t height = readI32 (bytes + 22);

    if ((bitsPerPixel != 24 && bitsPerPixel != 32) || width <= 0 || height <= 0)
        return {};

    const std::uint64_t bytesPerPixel = (std::uint64_t) bitsPerPixel / 8;
    const std::uint64_t stride = ((std::uint64_t) width * bytesPerPixel + 3) & ~(std::uint64_t) 3;

    // Every stored row must lie inside the bytes given, and the image must fit the
    // framework's int pixel offsets (its rows have the same padded length).
    const std::uint64_t pixelBytes = stride * (std::uint64_t) height; // below 2^64: stride < 2^34, height < 2^31
    if (pixelBytes > (std::uint64_t) (size - headerSize) || pixelBytes > (std::uint64_t) INT_MAX)
        return {};

    const bool withAlpha = bitsPerPixel == 32;
    juce::Image image (withAlpha ? juce::Image::ARGB : juce::Image::RGB, (int) width, (int) height, true);

    {
        const juce::Image::BitmapData pixels (image, juce::Image::BitmapData::writeOnly);

        for (std::int32_t k = 0; k < height; ++k)
        {
            const std::uint8_t* src = bytes + headerSize + (std::size_t) k * (std::size_t) stride;
            const int y = (int) (height - 1 - k);

            for (int x = 0; x < (int) width; ++x, src += bytesPerPixel)
            {
                auto* dest = pixels.getPixelPointer (x, y);

                if (withAlpha)
                    reinterpret_cast<juce::PixelARGB*> (dest)->setARGB (src[3], src[2], src[1], src[0]);
                else
                    reinterpret_cast<juce::PixelRGB*> (dest)->setARGB (0xff, src[2], src[1], src[0]);
            }
        }
    }

    return image;
}
