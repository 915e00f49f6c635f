#include "codec/RowSource.h"

namespace Codec {

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

std::uint32_t ImageRows::Rows(std::uint32_t y, std::uint32_t most, RowBlocks& blocks) {
    const std::size_t rowBytes = image.RowBytes();
    // Rows without tail bytes lie back to back, so the pixel buffer itself
    // is the rows' bytes.
    const std::uint32_t rows = rowBytes == static_cast<std::size_t>(image.stride) ? most : 1;
    blocks.block[0] = {image.Row(y), rows * rowBytes};
    blocks.count = 1;
    return rows;
}

}  // namespace Codec
