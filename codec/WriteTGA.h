// Writes one Image as a plain Targa file: the 18-byte header, a colour map
// when the picture needs one, then the rows from the bottom row upward,
// left to right, under Image Descriptor 0. No image ID, nothing after the
// last row.
//
// Image Type and colour map:
//  - 8 bits per pixel with a palette: Image Type 1, with a 24-bit colour
//    map of the whole palette (a greyscale image's palette is its grey
//    ramp, so it becomes colour-mapped); without a palette, Image Type 2
//    (or 3), since a colour-mapped file needs a colour map to be read;
//  - deeper colour-mapped images: Image Type 1 with their colour map;
//  - deeper greyscale images: Image Type 3; true-colour: Image Type 2;
//    neither gets a colour map.
//  - `rle` adds 8 (Image Types 9, 10, 11): every row becomes its own
//    packets; two equal neighbours always open a run, a raw packet stops
//    just before the next equal pair, and no packet is longer than 128.
// `alphaBits` (only its low four bits) is declared as the Image
// Descriptor's alpha-bit count, for readers that honour an alpha channel only
// when it is declared; by default the descriptor stays 0.
// Refused with "WriteTGA: " and a reason, before anything is written: a
// depth other than 8, 16, 24 or 32 ("Unsupported colour depth"), and a
// width, height, origin or written palette that does not fit 16 bits. A
// failure of the stream ends the writing at once, as "WriteTGA: " followed
// by the stream's text. The writer neither flushes nor closes the stream.
#pragma once

#include <cstdint>

#include "codec/Image.h"
#include "codec/RowSource.h"
#include "gfxstream/OutputStream.h"

namespace Codec {

void WriteTGA(GFXStream::OutputStream& stream, const Image& image, bool rle,
              std::uint8_t alphaBits = 0);
// The same file from any source of rows: a file read in place is written
// without ever being held whole.
void WriteTGA(GFXStream::OutputStream& stream, RowSource& source, bool rle,
              std::uint8_t alphaBits = 0);

// Whether the writer gives a picture a colour map: when its pixels are
// indices (8 bits with a palette, or a colour-mapped class) and there is a
// palette to write.
bool WritesColourMap(const ImageDesc& image);

inline constexpr const char* kUnsupportedColourDepthText = "Unsupported colour depth";
inline constexpr const char* kDimensionsTooLargeText = "Image dimensions do not fit a TGA header";
inline constexpr const char* kPaletteTooLargeText = "Palette does not fit a TGA colour map";

}  // namespace Codec
