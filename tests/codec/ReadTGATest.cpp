#include <cstring>

#include "codec/WriteTGA.h"
#include "support/CodecTestSupport.h"

using namespace Codec;

namespace {

struct Refusal {
    const char* name;
    Bytes file;
    const char* message;
};

const char* const kEnd = "ReadTGA: Unexpected end of input";
const char* const kType = "ReadTGA: Unsupported image type";
const char* const kDepth = "ReadTGA: Unsupported bit depth";
const char* const kNoMap = "ReadTGA: Colour-mapped image has no colour map";
const char* const kBadEntry = "ReadTGA: Unsupported colour map entry size";
const char* const kPastEnd = "ReadTGA: Run-length packet runs past the last pixel of the image";

Bytes Short(Bytes b, std::size_t drop) {
    b.resize(b.size() - drop);
    return b;
}

}  // namespace

class ReadTGARefuses : public ::testing::TestWithParam<Refusal> {};

TEST_P(ReadTGARefuses, WithOnePrefixedMessage) {
    EXPECT_EQ(MessageOf([&] { Decode(GetParam().file); }), GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    ReadTGA, ReadTGARefuses,
    ::testing::Values(
        Refusal{"HeaderOf17Bytes", Short(TgaHeader(2, 1, 1, 24), 1), kEnd},
        Refusal{"Type0", Concat(TgaHeader(0, 1, 1, 8), {0}), kType},
        Refusal{"Type8", Concat(TgaHeader(8, 1, 1, 8), {0, 0}), kType},
        Refusal{"Type32Huffman", Concat(TgaHeader(32, 1, 1, 8), {0, 0}), kType},
        Refusal{"Type33Quadtree", Concat(TgaHeader(33, 1, 1, 8, 0, 1, 0, 1, 24), {0, 0, 0, 0}),
                kType},
        Refusal{"Depth15", Concat(TgaHeader(2, 1, 1, 15), {0, 0}), kDepth},
        Refusal{"Depth0", Concat(TgaHeader(2, 1, 1, 0), {0}), kDepth},
        Refusal{"Depth40", Concat(TgaHeader(2, 1, 1, 40), Bytes(5)), kDepth},
        Refusal{"ImageIdPastEnd", Concat(TgaHeader(2, 0, 0, 24, 0, 0, 0, 0, 0, 200), Bytes(100)),
                kEnd},
        Refusal{"ColourMapCutShort", Concat(TgaHeader(1, 1, 1, 8, 0, 1, 0, 2, 24), Bytes(5)), kEnd},
        Refusal{"UncompressedRowShort", Concat(TgaHeader(2, 2, 2, 24), Bytes(11)), kEnd},
        // 16 GiB declared in 18 bytes: refused before anything is allocated.
        Refusal{"HugeImageInTinyFile", TgaHeader(2, 65535, 65535, 32), kEnd},
        Refusal{"ClassOneWithoutColourMap", Concat(TgaHeader(1, 1, 1, 8), {0}), kNoMap},
        Refusal{"ClassOneWithEmptyColourMap", Concat(TgaHeader(9, 1, 1, 8, 0, 1, 0, 0, 24), {0, 0}),
                kNoMap},
        Refusal{"ClassOneWithUndecodableEntries",
                Concat(TgaHeader(1, 1, 1, 8, 0, 1, 0, 2, 8), {1, 2, 0}), kBadEntry},
        // Packets past the last pixel: refused before reading what they
        // would hold beyond the image.
        Refusal{"RawPacketPastLastPixel", Concat(TgaHeader(11, 2, 2, 8), {0x02, 1, 2, 3, 0x01, 4}),
                kPastEnd},
        Refusal{"RunPacketPastLastPixel", Concat(TgaHeader(10, 2, 2, 16), {0x80, 1, 1, 0x83, 2, 2}),
                kPastEnd},
        // A narrow image needs only one packet per 128 pixels, not per row.
        Refusal{"NarrowImageOnePacketShort", Concat(TgaHeader(11, 1, 300, 8), {0xFF, 1, 0xFF, 2}),
                kEnd},
        Refusal{"CarriedRawPixelsCutShort", Concat(TgaHeader(11, 2, 2, 8), {0x03, 1, 2, 3}), kEnd},
        // The last raw packet of the last row cut short: never a silent success.
        Refusal{"LastRawPacketCutShort", Concat(TgaHeader(11, 4, 1, 8), {0x03, 1, 2}), kEnd},
        Refusal{"RunValueCutShort", Concat(TgaHeader(10, 1, 1, 24), {0x80, 1, 2}), kEnd}),
    ByName());

TEST(ReadTGA, GreyscaleGetsTheGreyRampWhateverItsColourMapSays) {
    Bytes map(2 * 3, 0x77);
    const auto image = Decode(Concat(Concat(TgaHeader(3, 1, 1, 8, 0, 1, 0, 2, 24), map), {42}));
    EXPECT_EQ(image->imageClass, ImageClass::Greyscale);
    ASSERT_EQ(image->paletteSize, 256);
    for (std::uint32_t i = 0; i < 256; ++i) {
        const auto level = static_cast<std::uint8_t>(i);
        ASSERT_EQ(image->GetPaletteEntry(i), (PaletteColour{level, level, level}));
    }
    EXPECT_EQ(image->GetPixel(0, 0), 42u);
}

TEST(ReadTGA, OrientationBitsBringRowsBottomUpLeftToRight) {
    // Top-down: the first stored row is the top one.
    auto image = Decode(Concat(TgaHeader(3, 2, 2, 8, 0x20), {'A', 'a', 'B', 'b'}));
    EXPECT_EQ(0, std::memcmp(image->Row(1), "Aa", 2));
    EXPECT_EQ(0, std::memcmp(image->Row(0), "Bb", 2));
    // Right to left, at every pixel size; the bytes inside a pixel keep order.
    for (const int depth : {8, 16, 24, 32}) {
        const auto b = static_cast<std::size_t>(depth / 8);
        Bytes stored(3 * b);
        for (std::size_t i = 0; i < stored.size(); ++i) {
            stored[i] = static_cast<std::uint8_t>(i);
        }
        image = Decode(Concat(TgaHeader(2, 3, 1, static_cast<std::uint8_t>(depth), 0x10), stored));
        Bytes expected;
        for (std::size_t x = 3; x-- > 0;) {
            expected.insert(expected.end(), stored.begin() + long(x * b),
                            stored.begin() + long((x + 1) * b));
        }
        EXPECT_EQ(PixelBytes(*image), expected) << depth;
    }
}

TEST(ReadTGA, RunLengthPacketsFillEachRow) {
    auto image = Decode(Concat(TgaHeader(10, 3, 1, 16), {0x82, 0x34, 0x12}));
    EXPECT_EQ(PixelBytes(*image), (Bytes{0x34, 0x12, 0x34, 0x12, 0x34, 0x12}));
    image = Decode(Concat(TgaHeader(11, 5, 1, 8), {0x01, 7, 8, 0x82, 9}));
    EXPECT_EQ(PixelBytes(*image), (Bytes{7, 8, 9, 9, 9}));
    image = Decode(Concat(TgaHeader(10, 2, 1, 32), {0x81, 1, 2, 3, 4}));
    EXPECT_EQ(PixelBytes(*image), (Bytes{1, 2, 3, 4, 1, 2, 3, 4}));
    // 129 has class 1 and run-length packets.
    image = Decode(Concat(TgaHeader(129, 2, 1, 8, 0, 1, 0, 1, 24), {3, 2, 1, 0x81, 0}));
    EXPECT_EQ(image->imageClass, ImageClass::ColourMapped);
    EXPECT_EQ(image->GetPaletteEntry(0), (PaletteColour{1, 2, 3}));
    EXPECT_EQ(PixelBytes(*image), (Bytes{0, 0}));
}

TEST(ReadTGA, ColourMapWithFirstEntryIndexFillsIndicesFromThere) {
    const Bytes map = {0x10, 0x20, 0x30, 0x40, 0x50, 0x60};
    const auto image = Decode(Concat(Concat(TgaHeader(1, 2, 1, 8, 0, 1, 2, 2, 24), map), {2, 3}));
    ASSERT_EQ(image->paletteSize, 4);
    EXPECT_EQ(image->GetPaletteEntry(1), PaletteColour{});
    EXPECT_EQ(image->GetPaletteEntry(2), (PaletteColour{0x30, 0x20, 0x10}));
    EXPECT_EQ(image->GetPaletteEntry(3), (PaletteColour{0x60, 0x50, 0x40}));
    EXPECT_EQ(PixelBytes(*image), (Bytes{2, 3}));
}

TEST(ReadTGA, ColourMapThatIsNotDecodedLeavesNoPaletteAndThePixelsAsStored) {
    // Color Map Type 0 with stale fields, then a footer; undecodable entries
    // of an 8-bit true-colour picture, skipped. Both are written as Type 2.
    const Bytes pixels = {1, 2, 3, 4, 5, 6};
    const Bytes stale =
        Concat(Concat(TgaHeader(2, 2, 1, 24, 0, 0, 0, 2, 24), pixels), Bytes(26, 9));
    const Bytes skipped = Concat(TgaHeader(2, 1, 1, 8, 0, 1, 0, 3, 8), {9, 9, 9, 7});
    for (const auto& [file, normal] : {std::pair{stale, Concat(TgaHeader(2, 2, 1, 24), pixels)},
                                       std::pair{skipped, Concat(TgaHeader(2, 1, 1, 8), {7})}}) {
        const auto image = Decode(file);
        EXPECT_EQ(image->paletteSize, 0);
        MemoryOutputStream out;
        WriteTGA(out, *image, false);
        EXPECT_EQ(out.bytes, normal);
    }
}

// Packets across rows: raw 4, run 4, raw 4 over a 3 x 4 picture, so that
// each packet carries on into the next stored row.
TEST(ReadTGA, PacketsAcrossRowsConvertToTheNormalFormInEveryOrientationAndDepth) {
    for (const int bits : {8, 16, 24, 32}) {
        for (const int orientation : {0x00, 0x10, 0x20, 0x30}) {
            const auto depth = static_cast<std::uint8_t>(bits);
            const auto descriptor = static_cast<std::uint8_t>(orientation);
            const std::size_t b = depth / 8u;
            Bytes file = TgaHeader(10, 3, 4, depth, descriptor);
            Bytes normal = Concat(TgaHeader(2, 3, 4, depth), Bytes(12 * b));
            for (std::size_t i = 0; i < 12; ++i) {  // pixels in file order
                if (i % 4 == 0) {
                    file.push_back(i == 4 ? 0x83 : 0x03);
                }
                const std::size_t r = (descriptor & 0x20) ? 3 - i / 3 : i / 3;
                const std::size_t x = (descriptor & 0x10) ? 2 - i % 3 : i % 3;
                for (std::size_t k = 0; k < b; ++k) {
                    const auto value = static_cast<std::uint8_t>((i < 4 || i > 7 ? i : 4) * 16 + k);
                    normal[18 + (r * 3 + x) * b + k] = value;
                    if (i <= 4 || i > 7) {
                        file.push_back(value);
                    }
                }
            }
            MemoryOutputStream out;
            WriteTGA(out, *Decode(file), false);
            EXPECT_EQ(out.bytes, normal) << int(depth) << " bits, descriptor " << int(descriptor);
        }
    }
    // A narrow picture whose runs span many rows needs one packet per 128
    // pixels, not one per row.
    const auto narrow = Decode(Concat(TgaHeader(11, 1, 200, 8), {0xFF, 1, 0xC7, 2}));
    EXPECT_EQ(PixelBytes(*narrow), Concat(Bytes(128, 1), Bytes(72, 2)));
}

TEST(ReadTGA, CallbackSeesImageFirstThenEachStoredRowInFileOrder) {
    struct Seen {
        std::vector<std::int32_t> rows;
        const Image* image = nullptr;
        bool rowsMatched = true;
    } seen;
    const auto callback = [](std::int32_t row, const void* data, void* user) {
        auto& s = *static_cast<Seen*>(user);
        s.rows.push_back(row);
        if (row == -1) {
            s.image = static_cast<const Image*>(data);
        } else {
            s.rowsMatched =
                s.rowsMatched &&
                std::memcmp(s.image->Row(static_cast<std::uint32_t>(row)), data, 2) == 0;
        }
    };
    // A run carried from the first stored row into the second.
    const Bytes file = Concat(TgaHeader(11, 2, 3, 8, 0x30), {0x82, 1, 0x02, 2, 3, 4});
    GFXStream::MemoryInputStream in(file.data(), file.size());
    const auto image = ReadTGA(in, callback, &seen);
    EXPECT_EQ(seen.rows, (std::vector<std::int32_t>{-1, 2, 1, 0}));
    EXPECT_EQ(seen.image, image.get());
    EXPECT_TRUE(seen.rowsMatched);
    EXPECT_EQ(PixelBytes(*image), (Bytes{4, 3, 2, 1, 1, 1}));

    seen = {};
    const Bytes none = TgaHeader(2, 5, 0, 24);
    GFXStream::MemoryInputStream empty(none.data(), none.size());
    EXPECT_EQ(ReadTGA(empty, callback, &seen)->height, 0);
    EXPECT_EQ(seen.rows, (std::vector<std::int32_t>{-1}));
}
