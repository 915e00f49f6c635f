// The 18-byte Targa header and the facts derived from it.
//
// Offset  Width  Field
//   0       8    ID Length: bytes of free text after the header
//   1       8    Color Map Type: 0 none, anything else a colour map follows
//   2       8    Image Type: low three bits the class (1 colour-mapped,
//                2 true-colour, 3 greyscale); above 3, run-length packets
//   3      16    First Entry Index: palette index of the first stored entry
//   5      16    Color Map Length: number of stored entries
//   7       8    Color Map Entry Size: 15, 16, 24 or 32 bits are decoded
//   8      16    X-origin, 10: Y-origin, carried through unchanged
//  12      16    Image Width, 14: Image Height
//  16       8    Pixel Depth: 8, 16, 24 or 32 bits are accepted
//  17       8    Image Descriptor: bits 0 to 3 the alpha-bit count, bit 4
//                pixels right to left, bit 5 rows top to bottom; the other
//                bits are ignored, written as 0
//
// 16-bit fields are little-endian and two sit at odd offsets, so the record
// moves as one 18-byte block and is decoded field by field. Image Types 32
// and 33 name Huffman and quadtree compressions, not run-length packets, and
// are refused like classes 0 and 4 to 7.
#pragma once

#include <cstdint>

#include "codec/Image.h"

namespace Codec {

struct TGAHeader {
    static constexpr std::uint32_t kSize = 18;

    std::uint8_t idLength = 0;
    std::uint8_t colorMapType = 0;
    std::uint8_t imageType = 0;
    std::uint16_t firstEntryIndex = 0;
    std::uint16_t colorMapLength = 0;
    std::uint8_t colorMapEntrySize = 0;
    std::uint16_t xOrigin = 0;
    std::uint16_t yOrigin = 0;
    std::uint16_t width = 0;
    std::uint16_t height = 0;
    std::uint8_t pixelDepth = 0;
    std::uint8_t imageDescriptor = 0;

    static TGAHeader Decode(const std::uint8_t (&bytes)[kSize]);
    void Encode(std::uint8_t (&bytes)[kSize]) const;

    int ImageClassBits() const { return imageType & 7; }
    bool HasAcceptedClass() const;
    bool IsRunLength() const { return imageType > 3; }
    bool HasAcceptedDepth() const;
    std::uint32_t BytesPerPixel() const { return pixelDepth / 8u; }
    bool IsRightToLeft() const { return (imageDescriptor & 0x10) != 0; }
    bool IsTopDown() const { return (imageDescriptor & 0x20) != 0; }
    bool HasColourMap() const { return colorMapType != 0; }
    // The alpha-bit count the Image Descriptor declares (bits 0 to 3).
    std::uint8_t AlphaBits() const { return static_cast<std::uint8_t>(imageDescriptor & 0x0F); }
    // Bytes per stored colour-map entry: 2, 3 or 4, or 0 when the entry size
    // is one this program cannot decode.
    std::uint32_t ColourMapEntryBytes() const;
};

// The colour-map region as the reader treats it, decided once from the
// header. Color Map Type 0 means there is no region, whatever the other
// colour-map fields say (writers leave them filled in). Otherwise the region
// holds Color Map Length entries of whole bytes; they become the palette
// only when there are some, their size can be decoded and the image is not
// greyscale (whose palette is always the grey ramp). A region that does not
// become the palette is skipped unread.
struct ColourMapLayout {
    std::uint64_t regionBytes = 0;  // bytes between the image ID and the pixels
    bool decoded = false;           // the entries become the image's palette
    std::uint32_t entryBytes = 0;   // bytes per stored entry when decoded
};
ColourMapLayout ColourMapOf(const TGAHeader& header);

// One stored colour-map entry as red, green, blue. `entry` points at
// ColourMapEntryBytes() bytes: 15/16-bit entries are a little-endian
// X1R5G5B5 value, 24/32-bit ones blue, green, red (and alpha, dropped).
PaletteColour DecodeColourMapEntry(const std::uint8_t* entry, std::uint32_t entryBytes);

}  // namespace Codec
