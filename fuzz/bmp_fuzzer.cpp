// Any bytes as an embedded picture: a PNG, else a 24- or 32-bit bitmap.
#include "style/ImageLoader.h"

#include <vector>

extern "C" int LLVMFuzzerTestOneInput (const std::uint8_t* data, std::size_t size)
{
    std::vector<std::uint8_t> copy (data, data + size);
    auto image = ImageLoader::decodePicture (copy.data(), copy.size());
    if (image.isValid() && (image.getWidth() <= 0 || image.getHeight() <= 0))
        __builtin_trap();
    return 0;
}
