// A second Targa reader, for differential fuzzing only. It is written
// plainly from the published layout: offsets into one buffer, one list of
// pixels in file order, then each pixel put where the orientation bits say.
// It shares nothing with the codec beyond PaletteColour, so that a fault in
// one shows up as a disagreement with the other.
//
// It follows the program's documented rules where the format leaves room:
// Image Types 32 and 33 and colour-mapped files without a decodable colour
// map are refused; Color Map Type 0 means no colour map whatever the other
// fields hold; a colour map that is not decoded is skipped and gives no
// palette (greyscale always gets the grey ramp); entries from First Entry
// Index on fill a palette of First Entry Index + Color Map Length entries,
// at most 65535; run-length packets may cross rows but not the last pixel.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "codec/Image.h"

using namespace Codec;

struct PlainPicture {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t bytesPerPixel = 0;
    int imageClass = 0;
    std::vector<PaletteColour> palette;
    std::vector<std::uint8_t> pixels;  // rows bottom-up, left to right, no padding
};

// The picture, or nothing when the file is refused.
std::optional<PlainPicture> PlainReadTGA(const std::uint8_t* data, std::size_t size);
