#include "image/RowSource.h"

ImageRows::ImageRows(const Image& source) : image(source) {
    desc.width = image.width;
    desc.height = image.height;
    desc.xOrigin = image.xOrigin;
    desc.yOrigin = image.yOrigin;
    desc.fill = image.fill;
    desc.bitsPerPixel = image.bitsPerPixel;
    desc.paletteSize = image.paletteSize;
    desc.imageClass = image.imageClass;
}

std::span<const std::uint8_t> ImageRows::Rows(std::uint32_t y, std::uint32_t most) {
    const std::size_t rowBytes = image.RowBytes();
    // Rows without tail bytes lie back to back, so the pixel buffer itself
    // is the rows' bytes.
    const std::size_t rows = rowBytes == static_cast<std::size_t>(image.stride) ? most : 1;
    return {image.Row(y), rows * rowBytes};
}
