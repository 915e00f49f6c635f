// ReadTGA against a second reader written plainly from the format: both
// must accept the same inputs and give the same dimensions, class, palette
// and pixel bytes.
#include <algorithm>
#include <cstring>

#include "DecodeCheck.h"
#include "FuzzTarget.h"
#include "PlainTGA.h"

using namespace Codec;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::unique_ptr<Image> image = DecodeChecked(data, size);
    const std::optional<PlainPicture> plain = PlainReadTGA(data, size);
    FUZZ_REQUIRE((image != nullptr) == plain.has_value());
    if (!image) {
        return 0;
    }
    FUZZ_REQUIRE(static_cast<std::uint32_t>(image->width) == plain->width);
    FUZZ_REQUIRE(static_cast<std::uint32_t>(image->height) == plain->height);
    FUZZ_REQUIRE(static_cast<std::uint32_t>(image->bytesPerPixel) == plain->bytesPerPixel);
    FUZZ_REQUIRE(static_cast<int>(image->imageClass) == plain->imageClass);
    FUZZ_REQUIRE(static_cast<std::size_t>(image->paletteSize) == plain->palette.size());
    for (std::uint32_t i = 0; i < plain->palette.size(); ++i) {
        FUZZ_REQUIRE(image->GetPaletteEntry(i) == plain->palette[i]);
    }
    const std::size_t rowBytes = std::size_t{plain->width} * plain->bytesPerPixel;
    FUZZ_REQUIRE(image->RowBytes() == rowBytes);
    for (std::uint32_t y = 0; y < plain->height && rowBytes != 0; ++y) {
        FUZZ_REQUIRE(std::memcmp(image->Row(y), plain->pixels.data() + y * rowBytes, rowBytes) ==
                     0);
    }
    return 0;
}
