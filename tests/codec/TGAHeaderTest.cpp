#include <cstring>

#include "codec/TGAHeader.h"
#include "support/CodecTestSupport.h"

using namespace Codec;

TEST(TGAHeader, DecodesAndEncodesFieldsAtTheirOffsets) {
    const std::uint8_t bytes[TGAHeader::kSize] = {3,    1,    9,    0x34, 0x12, 0x00,
                                                  0x01, 24,   0x02, 0x01, 0x04, 0x03,
                                                  0x80, 0x02, 0xE0, 0x01, 8,    0x30};
    const TGAHeader h = TGAHeader::Decode(bytes);
    EXPECT_EQ(h.idLength, 3);
    EXPECT_EQ(h.firstEntryIndex, 0x1234);
    EXPECT_EQ(h.colorMapLength, 256);
    EXPECT_EQ(h.colorMapEntrySize, 24);
    EXPECT_EQ(h.xOrigin, 0x0102);
    EXPECT_EQ(h.yOrigin, 0x0304);
    EXPECT_EQ(h.width, 640);
    EXPECT_EQ(h.height, 480);
    EXPECT_TRUE(h.IsRunLength() && h.IsTopDown() && h.IsRightToLeft());
    std::uint8_t again[TGAHeader::kSize];
    h.Encode(again);
    EXPECT_EQ(0, std::memcmp(bytes, again, TGAHeader::kSize));
}

TEST(TGAHeader, AcceptsClassesOneToThreeExceptOtherCompressions) {
    for (int type = 0; type < 256; ++type) {
        TGAHeader h;
        h.imageType = static_cast<std::uint8_t>(type);
        const int cls = type & 7;
        const bool expected = cls >= 1 && cls <= 3 && type != 32 && type != 33;
        EXPECT_EQ(h.HasAcceptedClass(), expected) << type;
        EXPECT_EQ(h.IsRunLength(), type > 3) << type;
    }
    for (int depth = 0; depth < 256; ++depth) {
        TGAHeader h;
        h.pixelDepth = static_cast<std::uint8_t>(depth);
        EXPECT_EQ(h.HasAcceptedDepth(), depth == 8 || depth == 16 || depth == 24 || depth == 32)
            << depth;
    }
}

TEST(TGAHeader, DecodesColourMapEntries) {
    struct Case {
        std::uint16_t value;
        PaletteColour colour;
    };
    for (const Case c :
         {Case{0x7FFF, {248, 248, 248}}, Case{0x7C00, {248, 0, 0}}, Case{0x03E0, {0, 248, 0}},
          Case{0x001F, {0, 0, 248}}, Case{0xFC00, {248, 0, 0}}, Case{0x8000, {0, 0, 0}}}) {
        const std::uint8_t entry[2] = {static_cast<std::uint8_t>(c.value),
                                       static_cast<std::uint8_t>(c.value >> 8)};
        EXPECT_EQ(DecodeColourMapEntry(entry, 2), c.colour) << c.value;
    }
    const std::uint8_t bgr[4] = {0x10, 0x20, 0x30, 0x40};
    EXPECT_EQ(DecodeColourMapEntry(bgr, 3), (PaletteColour{0x30, 0x20, 0x10}));
    EXPECT_EQ(DecodeColourMapEntry(bgr, 4), (PaletteColour{0x30, 0x20, 0x10}));
    for (const auto& [size, bytes] :
         {std::pair{15, 2u}, {16, 2u}, {24, 3u}, {32, 4u}, {8, 0u}, {0, 0u}}) {
        TGAHeader h;
        h.colorMapEntrySize = static_cast<std::uint8_t>(size);
        EXPECT_EQ(h.ColourMapEntryBytes(), bytes) << size;
    }
}

TEST(TGAHeader, ColourMapOfDecidesTheRegionAndWhetherItBecomesThePalette) {
    struct Case {
        std::uint8_t type, mapType;
        std::uint16_t length;
        std::uint8_t entrySize;
        std::uint64_t regionBytes;
        bool decoded;
    };
    // Stale fields under Color Map Type 0; decodable maps; undecodable ones,
    // partial bytes counting whole; greyscale keeps its ramp; no entries.
    for (const Case c :
         {Case{2, 0, 2, 24, 0, false}, Case{1, 0, 2, 24, 0, false}, Case{2, 1, 2, 24, 6, true},
          Case{9, 1, 3, 15, 6, true}, Case{2, 1, 3, 8, 3, false}, Case{10, 1, 2, 12, 4, false},
          Case{3, 1, 2, 32, 8, false}, Case{2, 1, 0, 24, 0, false}}) {
        TGAHeader h;
        h.imageType = c.type;
        h.colorMapType = c.mapType;
        h.colorMapLength = c.length;
        h.colorMapEntrySize = c.entrySize;
        const ColourMapLayout layout = ColourMapOf(h);
        EXPECT_EQ(layout.regionBytes, c.regionBytes) << int(c.type) << "/" << int(c.entrySize);
        EXPECT_EQ(layout.decoded, c.decoded) << int(c.type) << "/" << int(c.entrySize);
    }
}
