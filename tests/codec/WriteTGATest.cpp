#include <cstring>

#include "codec/WriteTGA.h"
#include "support/CodecTestSupport.h"

using namespace Codec;

namespace {

std::unique_ptr<Image> MakeImage(std::int32_t width, std::int32_t height, std::int32_t bits,
                                 std::int32_t paletteSize = 0,
                                 ImageClass imageClass = ImageClass::TrueColour) {
    return std::make_unique<Image>(ImageDesc{.width = width,
                                             .height = height,
                                             .bitsPerPixel = bits,
                                             .paletteSize = paletteSize,
                                             .imageClass = imageClass});
}

Bytes Written(const Image& image, bool rle) {
    MemoryOutputStream out;
    WriteTGA(out, image, rle);
    return out.bytes;
}

Bytes Head(const Bytes& file) {
    return Bytes(file.begin(), file.begin() + 18);
}

}  // namespace

TEST(WriteTGA, ColourMapped640x480IsByteExact) {
    auto image = MakeImage(640, 480, 8, 256);
    for (std::uint32_t i = 0; i < 256; ++i) {
        image->SetPaletteEntry(i, {static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(~i),
                                   static_cast<std::uint8_t>(i / 2)});
    }
    for (std::uint32_t y = 0; y < 480; ++y) {
        std::memset(image->Row(y), static_cast<int>(y & 0xFF), 640);
    }
    const Bytes file = Written(*image, false);
    const Bytes header = {0x00, 0x01, 0x01, 0x00, 0x00, 0x00, 0x01, 0x18, 0x00,
                          0x00, 0x00, 0x00, 0x80, 0x02, 0xE0, 0x01, 0x08, 0x00};
    EXPECT_EQ(Head(file), header);
    ASSERT_EQ(file.size(), 18u + 768u + 640u * 480u);
    for (std::size_t i = 0; i < 256; ++i) {  // blue, green, red
        ASSERT_EQ(file[18 + 3 * i], i / 2);
        ASSERT_EQ(file[19 + 3 * i], static_cast<std::uint8_t>(~i));
        ASSERT_EQ(file[20 + 3 * i], i);
    }
    EXPECT_EQ(0, std::memcmp(file.data() + 786 + 479 * 640, image->Row(479), 640));

    Bytes rleHeader = header;
    rleHeader[2] = 0x09;
    const Bytes rle = Written(*image, true);
    EXPECT_EQ(Head(rle), rleHeader);
    EXPECT_TRUE(std::equal(file.begin() + 18, file.begin() + 786, rle.begin() + 18));
}

TEST(WriteTGA, TrueColour2x1WritesNoRowTail) {
    auto image = MakeImage(2, 1, 24);
    image->SetRow(0, "\x01\x02\x03\x04\x05\x06");
    const Bytes expected = {0, 0, 2, 0, 0,  0, 0, 0, 0, 0, 0, 0,
                            2, 0, 1, 0, 24, 0, 1, 2, 3, 4, 5, 6};
    EXPECT_EQ(Written(*image, false), expected);
}

struct RleRow {
    const char* name;
    std::int32_t bits;
    Bytes pixels;
    Bytes packets;
};

class WriteTGARunLength : public ::testing::TestWithParam<RleRow> {};

TEST_P(WriteTGARunLength, RowBecomesTheseBytes) {
    const RleRow& c = GetParam();
    const auto bytesPerPixel = static_cast<std::int32_t>(c.bits / 8);
    auto image = MakeImage(static_cast<std::int32_t>(c.pixels.size()) / bytesPerPixel, 1, c.bits);
    image->SetRow(0, c.pixels.data());
    const Bytes file = Written(*image, true);
    EXPECT_EQ(Bytes(file.begin() + 18, file.end()), c.packets);
    EXPECT_EQ(PixelBytes(*Decode(file)), c.pixels);
}

namespace {
Bytes Repeat(std::size_t n, std::uint8_t v) {
    return Bytes(n, v);
}
Bytes Ramp(std::size_t from, std::size_t to) {
    Bytes out;
    for (std::size_t v = from; v < to; ++v) {
        out.push_back(static_cast<std::uint8_t>(v));
    }
    return out;
}
}  // namespace

INSTANTIATE_TEST_SUITE_P(
    WriteTGA, WriteTGARunLength,
    ::testing::Values(
        RleRow{"RunThenSingle", 8, {0x11, 0x11, 0x11, 0x22}, {0x82, 0x11, 0x00, 0x22}},
        RleRow{"AllDifferent", 8, {0x11, 0x22, 0x33}, {0x02, 0x11, 0x22, 0x33}},
        RleRow{"PairIsARun", 8, {0x11, 0x11}, {0x81, 0x11}},
        RleRow{"OnePixel", 8, {0x11}, {0x00, 0x11}},
        RleRow{"RawStopsBeforePair", 8, {0x11, 0x22, 0x22}, {0x00, 0x11, 0x81, 0x22}},
        RleRow{"RawRunRaw",
               8,
               {0x11, 0x22, 0x33, 0x33, 0x44},
               {0x01, 0x11, 0x22, 0x81, 0x33, 0x00, 0x44}},
        RleRow{"ZeroLast", 8, {0x11, 0x00}, {0x01, 0x11, 0x00}},
        RleRow{"ZeroRun", 8, {0x00, 0x00, 0x00}, {0x82, 0x00}},
        RleRow{"Run130", 8, Repeat(130, 0x11), {0xFF, 0x11, 0x81, 0x11}},
        RleRow{"Run129", 8, Repeat(129, 0x11), {0xFF, 0x11, 0x00, 0x11}},
        RleRow{"Raw200", 8, Ramp(0, 200),
               Concat(Concat(Concat({0x7F}, Ramp(0, 128)), {0x47}), Ramp(128, 200))},
        RleRow{"TrueColour24",
               24,
               {0x10, 0x20, 0x30, 0x10, 0x20, 0x30, 0x10, 0x20, 0x30},
               {0x82, 0x10, 0x20, 0x30}},
        RleRow{"TrueColour16",
               16,
               {0x34, 0x12, 0x34, 0x12, 0x78, 0x56},
               {0x81, 0x34, 0x12, 0x00, 0x78, 0x56}},
        // Pixels equal in their low bytes only are different pixels.
        RleRow{"TrueColour32", 32, {1, 2, 3, 4, 1, 2, 3, 5}, {0x01, 1, 2, 3, 4, 1, 2, 3, 5}}),
    ByName());

TEST(WriteTGA, HeaderFieldsFollowDepthAndClass) {
    struct Case {
        std::int32_t bits, palette;
        ImageClass cls;
        std::uint8_t type, mapType;
        std::uint16_t mapLength;
    };
    for (const Case c : {
             // Without a palette there is nothing to index: the class stays.
             Case{8, 0, ImageClass::TrueColour, 2, 0, 0},
             Case{8, 0, ImageClass::Greyscale, 3, 0, 0},
             Case{8, 256, ImageClass::Greyscale, 1, 1, 256},
             Case{16, 4, ImageClass::TrueColour, 2, 0, 0},
             Case{24, 4, ImageClass::TrueColour, 2, 0, 0},
             Case{32, 4, ImageClass::TrueColour, 2, 0, 0},
             // Wider indices keep their colour map; deeper grey stays grey.
             Case{16, 300, ImageClass::ColourMapped, 1, 1, 300},
             Case{16, 256, ImageClass::Greyscale, 3, 0, 0},
         }) {
        const auto image = MakeImage(1, 1, c.bits, c.palette, c.cls);
        for (const bool rle : {false, true}) {
            const Bytes file = Written(*image, rle);
            SCOPED_TRACE(testing::Message() << c.bits << " bits, rle " << rle);
            EXPECT_EQ(file[1], c.mapType);
            EXPECT_EQ(file[2], c.type + (rle ? 8 : 0));
            EXPECT_EQ(file[5] | file[6] << 8, c.mapLength);
            EXPECT_EQ(file[7], c.mapType ? 24 : 0);
            EXPECT_EQ(file[17], 0);
            EXPECT_EQ(file.size(),
                      18u + 3u * c.mapLength + (rle ? 1u : 0u) + unsigned(c.bits) / 8u);
        }
    }
}

TEST(WriteTGA, EmptyImagesAreValidFiles) {
    EXPECT_EQ(Written(*MakeImage(7, 0, 24), false).size(), 18u);
    EXPECT_EQ(Written(*MakeImage(0, 7, 24), true).size(), 18u);
    EXPECT_EQ(Written(*MakeImage(0, 3, 8, 2), false).size(), 18u + 6u);
}

TEST(WriteTGA, RefusesWhatATGAHeaderCannotHoldBeforeWriting) {
    struct Case {
        ImageDesc desc;
        const char* message;
    };
    const char* const kDepth = "WriteTGA: Unsupported colour depth";
    const char* const kSize = "WriteTGA: Image dimensions do not fit a TGA header";
    for (const Case& c : {
             Case{{.width = 1, .height = 1, .bitsPerPixel = 0}, kDepth},
             Case{{.width = 1, .height = 1, .bitsPerPixel = 7}, kDepth},
             Case{{.width = 1, .height = 1, .bitsPerPixel = 12}, kDepth},
             Case{{.width = 1, .height = 1, .bitsPerPixel = 15}, kDepth},
             Case{{.width = 1, .height = 1, .bitsPerPixel = 40}, kDepth},
             Case{{.width = 65536, .height = 0, .bitsPerPixel = 8}, kSize},
             Case{{.width = 1, .height = 65536, .bitsPerPixel = 8}, kSize},
             Case{{.width = 1, .height = 1, .xOrigin = -1, .bitsPerPixel = 8}, kSize},
             Case{{.width = 1, .height = 1, .yOrigin = 65536, .bitsPerPixel = 8}, kSize},
             Case{{.width = 1, .height = 1, .bitsPerPixel = 8, .paletteSize = 65536},
                  "WriteTGA: Palette does not fit a TGA colour map"},
         }) {
        const Image image(c.desc);
        MemoryOutputStream out;
        EXPECT_EQ(MessageOf([&] { WriteTGA(out, image, false); }), c.message);
        EXPECT_TRUE(out.bytes.empty());
    }
    // A palette that is not written does not count.
    const auto wide = MakeImage(1, 1, 24, 65536);
    EXPECT_EQ(Written(*wide, false).size(), 18u + 3u);
}

TEST(WriteTGA, StreamFailureEndsWritingWithPrefix) {
    const auto image = MakeImage(16, 16, 8, 256);
    MemoryOutputStream out(100);
    EXPECT_EQ(MessageOf([&] { WriteTGA(out, *image, false); }),
              "WriteTGA: Unable to write to file");
    EXPECT_LE(out.bytes.size(), 100u);
}
