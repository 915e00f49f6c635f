// Stand-in for the shared run-length row decoder until it lands.
#pragma once

#include <cstdint>

#include "gfxstream/InputStream.h"

struct PacketCarry {
    std::uint32_t left = 0;
    bool run = false;
    std::uint8_t pixel[4] = {};
};
void ReadRunLengthRow(std::uint8_t* row, GFXStream::InputStream& stream, std::uint32_t width,
                      std::uint32_t bytesPerPixel, PacketCarry& carry);
