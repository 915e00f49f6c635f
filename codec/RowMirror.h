// Reverses the order of the pixels of one row in place, keeping the bytes
// within each pixel in their order. Used for files stored right to left.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Codec {

void MirrorRow(std::uint8_t* row, std::size_t width, std::size_t bytesPerPixel);

}  // namespace Codec
