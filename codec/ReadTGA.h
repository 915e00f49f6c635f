// Decodes one Targa file into an Image held bottom-up, left to right.
//
// Accepted: classes 1 (colour-mapped), 2 (true-colour) and 3 (greyscale);
// uncompressed or run-length; 8, 16, 24 or 32 bits per pixel; colour-map
// entries of 15, 16, 24 or 32 bits; all four orientations. Pixel bytes are
// kept exactly as stored; only palette entries are reordered (red, green,
// blue in memory). The image ID and anything after the last pixel are
// ignored. Greyscale images get the 256-step grey ramp as their palette.
//
// Refused, each with a GFXStream::Exception whose text begins "ReadTGA: ":
//  - "Unexpected end of input": the header, image ID, colour map or pixels
//    (anywhere, a packet included) are cut short, or the input is too small
//    to hold the declared image at all: fewer bytes than every pixel, or
//    with run-length packets than one packet of one pixel value per 128
//    pixels of the whole image (checked before anything is allocated, so a
//    tiny file cannot cost a large allocation);
//  - "Unsupported image type": class 0 or 4 to 7, and Image Types 32 and 33;
//  - "Unsupported bit depth": any other Pixel Depth (checked before the image
//    is built);
//  - a colour-mapped image without colour-map entries (Color Map Type 0
//    included, whatever its other colour-map fields say), or with an entry
//    size that cannot be decoded, since its colours cannot be known;
//  - a run-length packet that runs past the image's last pixel.
// Run-length packets are one stream over all pixels in file order: a packet
// may carry on from the end of one stored row into the next (older writers
// do that), and each stored row takes the next Image Width pixels of it.
// The colour-map region is decided by ColourMapOf: with Color Map Type 0
// there is none and no palette; an unknown entry size on a true-colour or
// greyscale file only skips the region, and leaves a true-colour image
// without a palette. With a First Entry Index above 0 the stored entries go
// to the indices from that index on and the palette grows to hold them, up
// to 65535 entries (what a colour map can declare); later ones are dropped.
// std::bad_alloc passes through when the image cannot be held.
#pragma once

#include <cstdint>
#include <memory>

#include "codec/Image.h"
#include "codec/TGAHeader.h"
#include "gfxstream/InputStream.h"

namespace Codec {

// Called with row -1 and the new Image before any pixel is read, then once
// per row in file order, with the row's index and its bytes in image order.
using ReadProgressCallback = void (*)(std::int32_t row, const void* data, void* userData);

std::unique_ptr<Image> ReadTGA(GFXStream::InputStream& stream, ReadProgressCallback callback,
                               void* userData);

// The reader's own texts beyond the stream's.
inline constexpr const char* kUnsupportedImageTypeText = "Unsupported image type";
inline constexpr const char* kUnsupportedBitDepthText = "Unsupported bit depth";
inline constexpr const char* kMissingColourMapText = "Colour-mapped image has no colour map";
inline constexpr const char* kUnsupportedColourMapText = "Unsupported colour map entry size";
inline constexpr const char* kPacketPastImageEndText =
    "Run-length packet runs past the last pixel of the image";

}  // namespace Codec
