// Small TGA files built byte by byte.
#pragma once

#include <cstdint>
#include <string_view>

#include "support/Files.h"

// An 18-byte header followed by whatever the test appends.
Bytes TgaHeader(std::uint8_t imageType, std::uint16_t width, std::uint16_t height,
                std::uint8_t depth, std::uint8_t descriptor = 0, std::uint8_t colorMapType = 0,
                std::uint16_t firstEntry = 0, std::uint16_t mapLength = 0,
                std::uint8_t entrySize = 0, std::uint8_t idLength = 0);

Bytes Concat(Bytes a, const Bytes& b);

// A 24-bit true-colour image of width x height whose pixel at (x, y), y
// counted from the top of the picture, is {x, y, 0x80} (blue, green, red in
// the file). `topDown` and `rightToLeft` pick the stored order; `imageId`
// is put after the header.
Bytes MakeTrueColourTGA(int width, int height, bool topDown, bool rightToLeft,
                        std::string_view imageId = {});
// What the batch writes for the same picture: bottom-up, left to right, no
// image ID.
Bytes ExpectedPlainTGA(int width, int height);
