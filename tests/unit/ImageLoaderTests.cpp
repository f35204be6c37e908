// ImageLoader, the embedded warning sign and the bitmap decoder.
#include "style/BmpDecoder.h"
#include "style/ImageLoader.h"

#include <KrvBinaryData.h>

#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <tuple>
#include <vector>

namespace
{
using Bytes = std::vector<std::uint8_t>;

void put16 (Bytes& b, size_t at, std::uint16_t v)
{
    const std::uint8_t le[2] = { (std::uint8_t) v, (std::uint8_t) (v >> 8) };
    std::copy (le, le + 2, b.begin() + (long) at);
}

void put32 (Bytes& b, size_t at, std::uint32_t v)
{
    const std::uint8_t le[4] = { (std::uint8_t) v, (std::uint8_t) (v >> 8), (std::uint8_t) (v >> 16), (std::uint8_t) (v >> 24) };
    std::copy (le, le + 4, b.begin() + (long) at);
}

// A bitmap header of 54 bytes followed by pixels (the caller's rows, bottom row first).
Bytes bitmap (std::int32_t width, std::int32_t height, int bitsPerPixel, const Bytes& pixels)
{
    Bytes b (54 + pixels.size(), 0);
    std::copy (pixels.begin(), pixels.end(), b.begin() + 54);
    b[0] = 'B';
    b[1] = 'M';
    put32 (b, 2, (std::uint32_t) (54 + pixels.size()));
    put32 (b, 10, 54);
    put32 (b, 14, 40);
    put32 (b, 18, (std::uint32_t) width);
    put32 (b, 22, (std::uint32_t) height);
    put16 (b, 26, 1);
    put16 (b, 28, (std::uint16_t) bitsPerPixel);
    put32 (b, 34, (std::uint32_t) pixels.size());
    return b;
}

// 3 x 2, 24 bits: rows of 9 bytes padded to 12. Stored bottom row first.
Bytes smallBitmap()
{
    return bitmap (3, 2, 24, {
                                 // bottom row: blue, green, red pixels (stored B, G, R)
                                 0xff,
                                 0x00,
                                 0x00,
                                 0x00,
                                 0xff,
                                 0x00,
                                 0x00,
                                 0x00,
                                 0xff,
                                 0,
                                 0,
                                 0,
                                 // top row: white, black, grey
                                 0xff,
                                 0xff,
                                 0xff,
                                 0x00,
                                 0x00,
                                 0x00,
                                 0x40,
                                 0x50,
                                 0x60,
                                 0,
                                 0,
                                 0,
                             });
}

// Bytes placed so that the first byte after them is on an unreadable page: reading one
// byte too far ends the test run at once.
class GuardedBytes
{
public:
    explicit GuardedBytes (const Bytes& bytes)
    {
        const size_t page = (size_t) sysconf (_SC_PAGESIZE);
        const size_t pages = (bytes.size() + page - 1) / page + 1;
        length = pages * page;
        base = (std::uint8_t*) mmap (nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        EXPECT_NE (base, MAP_FAILED);
        mprotect (base + length - page, page, PROT_NONE);
        start = base + length - page - bytes.size();
        if (! bytes.empty())
            std::memcpy (start, bytes.data(), bytes.size());
        size = bytes.size();
    }

    ~GuardedBytes() { munmap (base, length); }

    const std::uint8_t* data() const { return start; }
    size_t size;

private:
    std::uint8_t* base = nullptr;
    std::uint8_t* start = nullptr;
    size_t length = 0;
};

juce::Image decodeGuarded (const Bytes& bytes)
{
    GuardedBytes guarded (bytes);
    return BmpDecoder::decode (guarded.data(), guarded.size);
}
} // namespace

TEST (ImageLoader, WarningSignIsA56By55PngWithAlpha)
{
    // The embedded file itself: PNG, 56 x 55, 8 bits, RGBA, not interlaced.
    const auto* png = reinterpret_cast<const std::uint8_t*> (KrvBinaryData::Warning_png);
    ASSERT_GT (KrvBinaryData::Warning_pngSize, 33);
    EXPECT_EQ (std::memcmp (png, "\x89PNG\r\n\x1a\n", 8), 0);
    EXPECT_EQ (std::memcmp (png + 12, "IHDR", 4), 0);
    EXPECT_EQ ((png[16] << 24) | (png[17] << 16) | (png[18] << 8) | png[19], 56);
    EXPECT_EQ ((png[20] << 24) | (png[21] << 16) | (png[22] << 8) | png[23], 55);
    EXPECT_EQ (png[24], 8); // bit depth
    EXPECT_EQ (png[25], 6); // RGBA
    EXPECT_EQ (png[28], 0); // not interlaced

    ImageLoader::deleteInstance();
    auto* image = ImageLoader::getInstance()->getImage (0);
    ASSERT_NE (image, nullptr);
    EXPECT_EQ (image->getWidth(), 56);
    EXPECT_EQ (image->getHeight(), 55);
    EXPECT_TRUE (image->hasAlphaChannel());

    // Transparent outside the triangle, yellow inside, black border and exclamation mark.
    EXPECT_EQ (image->getPixelAt (0, 0).getAlpha(), 0);
    EXPECT_EQ (image->getPixelAt (55, 0).getAlpha(), 0);
    EXPECT_EQ (image->getPixelAt (2, 20).getAlpha(), 0);
    EXPECT_EQ (image->getPixelAt (15, 45), juce::Colour (0xffe1d040));
    EXPECT_EQ (image->getPixelAt (40, 45), juce::Colour (0xffe1d040));
    EXPECT_EQ (image->getPixelAt (28, 52), juce::Colour (0xff000000)); // border along the base
    EXPECT_EQ (image->getPixelAt (28, 25), juce::Colour (0xff000000)); // bar
    EXPECT_EQ (image->getPixelAt (28, 45), juce::Colour (0xff000000)); // dot
    EXPECT_EQ (image->getPixelAt (28, 40), juce::Colour (0xffe1d040)); // gap between bar and dot
    ImageLoader::deleteInstance();
}

TEST (ImageLoader, OnlyIndexZeroHasAPicture)
{
    auto* loader = ImageLoader::getInstance();
    EXPECT_NE (loader->getImage (0), nullptr);
    EXPECT_EQ (loader->getImage (1), nullptr);
    EXPECT_EQ (loader->getImage (-1), nullptr);
    EXPECT_EQ (loader->getImage (INT32_MIN), nullptr);
    ImageLoader::deleteInstance();
}

TEST (ImageLoader, OneInstanceRecreatedAfterDeletion)
{
    ImageLoader::deleteInstance();
    ImageLoader::createInstance();
    auto* first = ImageLoader::getInstance();
    ImageLoader::createInstance();
    EXPECT_EQ (ImageLoader::getInstance(), first);

    ImageLoader::deleteInstance();
    ImageLoader::deleteInstance(); // harmless twice
    auto* again = ImageLoader::getInstance();
    ASSERT_NE (again, nullptr);
    EXPECT_NE (again->getImage (0), nullptr);
    ImageLoader::deleteInstance();
}

TEST (ImageLoader, DecodePictureTakesPngAndBitmap)
{
    const auto png = ImageLoader::decodePicture (KrvBinaryData::Warning_png, (size_t) KrvBinaryData::Warning_pngSize);
    EXPECT_EQ (png.getWidth(), 56);
    EXPECT_EQ (png.getHeight(), 55);

    const auto bmp = smallBitmap();
    const auto image = ImageLoader::decodePicture (bmp.data(), bmp.size());
    EXPECT_EQ (image.getWidth(), 3);
    EXPECT_EQ (image.getHeight(), 2);

    // Not cached by address: other bytes in the same buffer give another picture.
    auto other = bitmap (1, 1, 24, { 1, 2, 3, 0 });
    other.resize (bmp.size());
    std::vector<std::uint8_t> buffer (bmp);
    EXPECT_EQ (ImageLoader::decodePicture (buffer.data(), buffer.size()).getWidth(), 3);
    std::memcpy (buffer.data(), other.data(), other.size());
    EXPECT_EQ (ImageLoader::decodePicture (buffer.data(), buffer.size()).getWidth(), 1);

    EXPECT_FALSE (ImageLoader::decodePicture (nullptr, 0).isValid());
}

TEST (ImageLoader, DecodedWarningSignMatchesTheFrameworksDecoding)
{
    const auto ours = ImageLoader::decodePicture (KrvBinaryData::Warning_png, (size_t) KrvBinaryData::Warning_pngSize);
    const auto* loaded = ImageLoader::getInstance()->getImage (0);
    ASSERT_NE (loaded, nullptr);
    ASSERT_EQ (ours.getBounds(), loaded->getBounds());
    EXPECT_EQ (ours.getFormat(), loaded->getFormat());

    for (int y = 0; y < ours.getHeight(); ++y)
        for (int x = 0; x < ours.getWidth(); ++x)
            ASSERT_EQ (ours.getPixelAt (x, y), loaded->getPixelAt (x, y)) << x << "," << y;
    ImageLoader::deleteInstance();
}

TEST (ImageLoader, CorruptPngsAreRefusedWithoutHarm)
{
    const auto* png = reinterpret_cast<const std::uint8_t*> (KrvBinaryData::Warning_png);
    const Bytes whole (png, png + KrvBinaryData::Warning_pngSize);

    // Cut anywhere before the end chunk.
    for (size_t size = 0; size + 12 < whole.size(); ++size)
    {
        GuardedBytes cut (Bytes (whole.begin(), whole.begin() + (long) size));
        EXPECT_FALSE (ImageLoader::decodePicture (cut.data(), cut.size).isValid()) << size;
    }

    // Damaged bytes: refused or decoded, never a crash or a read past the end.
    for (size_t at = 8; at < whole.size(); at += 7)
    {
        auto damaged = whole;
        damaged[at] ^= 0x5a;
        GuardedBytes guarded (damaged);
        const auto image = ImageLoader::decodePicture (guarded.data(), guarded.size);
        if (image.isValid())
        {
            EXPECT_EQ (image.getWidth(), 56);
        }
    }

    // Pictures wider or higher than 4096 pixels are not taken.
    auto pngOf = [] (int w, int h) {
        juce::MemoryOutputStream out;
        juce::PNGImageFormat().writeImageToStream (juce::Image (juce::Image::ARGB, w, h, true), out);
        return Bytes ((const std::uint8_t*) out.getData(), (const std::uint8_t*) out.getData() + out.getDataSize());
    };
    for (auto [w, h, taken] : { std::tuple { 4096, 1, true }, { 1, 4096, true }, { 4097, 1, false }, { 1, 4097, false } })
    {
        GuardedBytes guarded (pngOf (w, h));
        EXPECT_EQ (ImageLoader::decodePicture (guarded.data(), guarded.size).isValid(), taken) << w << " x " << h;
    }
}

TEST (BmpDecoder, Bottom24BitRowsBecomeTopRowsOfAnRgbImage)
{
    const auto image = decodeGuarded (smallBitmap());

    ASSERT_TRUE (image.isValid());
    EXPECT_EQ (image.getWidth(), 3);
    EXPECT_EQ (image.getHeight(), 2);
    EXPECT_EQ (image.getFormat(), juce::Image::RGB);

    // Top row from the second stored row.
    EXPECT_EQ (image.getPixelAt (0, 0), juce::Colour (0xffffffff));
    EXPECT_EQ (image.getPixelAt (1, 0), juce::Colour (0xff000000));
    EXPECT_EQ (image.getPixelAt (2, 0), juce::Colour (0xff605040));
    EXPECT_EQ (image.getPixelAt (0, 1), juce::Colour (0xff0000ff));
    EXPECT_EQ (image.getPixelAt (1, 1), juce::Colour (0xff00ff00));
    EXPECT_EQ (image.getPixelAt (2, 1), juce::Colour (0xffff0000));
}

TEST (BmpDecoder, ThirtyTwoBitKeepsItsAlpha)
{
    const auto image = decodeGuarded (bitmap (2, 1, 32, { 0x10, 0x20, 0x30, 0xff, 0x00, 0x00, 0x00, 0x00 }));

    ASSERT_TRUE (image.isValid());
    EXPECT_EQ (image.getFormat(), juce::Image::ARGB);
    EXPECT_EQ (image.getPixelAt (0, 0), juce::Colour (0xff302010));
    EXPECT_EQ (image.getPixelAt (1, 0).getAlpha(), 0);
}

TEST (BmpDecoder, RefusesOtherDepthsSizesAndSignatures)
{
    const Bytes fourPixels (64, 0x7f);

    EXPECT_FALSE (decodeGuarded (bitmap (2, 2, 8, fourPixels)).isValid());
    EXPECT_FALSE (decodeGuarded (bitmap (2, 2, 16, fourPixels)).isValid());
    EXPECT_FALSE (decodeGuarded (bitmap (2, 2, 1, fourPixels)).isValid());
    EXPECT_FALSE (decodeGuarded (bitmap (0, 2, 24, fourPixels)).isValid());
    EXPECT_FALSE (decodeGuarded (bitmap (2, 0, 24, fourPixels)).isValid());
    EXPECT_FALSE (decodeGuarded (bitmap (-2, 2, 24, fourPixels)).isValid());
    EXPECT_FALSE (decodeGuarded (bitmap (2, -2, 24, fourPixels)).isValid()); // top-down bitmaps too

    auto wrongSignature = bitmap (2, 2, 24, fourPixels);
    wrongSignature[1] = 'A';
    EXPECT_FALSE (decodeGuarded (wrongSignature).isValid());
    EXPECT_TRUE (decodeGuarded (bitmap (2, 2, 24, fourPixels)).isValid());
}

TEST (BmpDecoder, NeverReadsBeyondTheBytesGiven)
{
    const auto whole = smallBitmap(); // 54 + 2 x 12 bytes

    // Every cut: inside the header, and inside the pixel rows.
    for (size_t size = 0; size < whole.size(); ++size)
        EXPECT_FALSE (decodeGuarded (Bytes (whole.begin(), whole.begin() + (long) size)).isValid()) << size;

    EXPECT_TRUE (decodeGuarded (whole).isValid());

    // A header that claims far more rows than there are.
    auto tall = whole;
    put32 (tall, 22, 1000);
    EXPECT_FALSE (decodeGuarded (tall).isValid());
}

TEST (BmpDecoder, HugeSizesAreRefusedWithoutOverflow)
{
    const Bytes someRows (4096, 0x11);

    for (auto [w, h] : { std::pair<std::int32_t, std::int32_t> { 0x7fffffff, 1 },
                         { 1, 0x7fffffff },
                         { 0x7fffffff, 0x7fffffff },
                         { 0x40000000, 0x40000000 },
                         { 0x55555556, 1 },   // x 3 bytes wraps to 2 in 32 bits
                         { 0x40000001, 4 } }) // x 4 bytes wraps to 4 in 32 bits
    {
        EXPECT_FALSE (decodeGuarded (bitmap (w, h, 24, someRows)).isValid()) << w << " x " << h << " 24";
        EXPECT_FALSE (decodeGuarded (bitmap (w, h, 32, someRows)).isValid()) << w << " x " << h << " 32";
    }

    // A picture that just fits the bytes is still taken.
    EXPECT_TRUE (decodeGuarded (bitmap (1024, 1, 32, someRows)).isValid());
    EXPECT_FALSE (decodeGuarded (bitmap (1025, 1, 32, someRows)).isValid());
}
