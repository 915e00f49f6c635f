#include <cstring>
#include <new>

#include "codec/Image.h"
#include "support/CodecTestSupport.h"

using namespace Codec;

namespace {
Image Make(std::int32_t width, std::int32_t height, std::int32_t bits, std::uint32_t fill = 0,
           std::int32_t paletteSize = 0) {
    return Image(ImageDesc{.width = width,
                           .height = height,
                           .fill = fill,
                           .bitsPerPixel = bits,
                           .paletteSize = paletteSize});
}
}  // namespace

TEST(Image, StrideIsRowBytesRoundedUpToFour) {
    struct Case {
        std::int32_t width, bits, bytesPerPixel, stride;
    };
    for (const Case c : {Case{3, 8, 1, 4}, Case{1, 24, 3, 4}, Case{5, 16, 2, 12},
                         Case{5, 32, 4, 20}, Case{7, 15, 2, 16}, Case{9, 0, 0, 0}}) {
        const Image image = Make(c.width, 2, c.bits);
        EXPECT_EQ(image.bytesPerPixel, c.bytesPerPixel) << c.width << "x" << c.bits;
        EXPECT_EQ(image.stride, c.stride) << c.width << "x" << c.bits;
        EXPECT_EQ(image.PixelBufferSize(), std::size_t(2 * c.stride));
    }
}

TEST(Image, FillStoresWholeUnitsLittleEndian) {
    const Image grey = Make(3, 2, 8, 0x2A);
    EXPECT_EQ(grey.Row(1)[3], 0x2A);  // the fill covers row tails too
    const Image rgb = Make(1, 2, 24, 0x00332211);
    EXPECT_EQ(0, std::memcmp(rgb.Row(1), "\x11\x22\x33", 3));
    EXPECT_EQ(rgb.GetPixel(0, 1), 0x00332211u);
    const Image word = Make(2, 1, 16, 0x00332211);
    EXPECT_EQ(word.GetPixel(1, 0), 0x2211u);
    const Image dword = Make(2, 1, 32, 0xDEADBEEF);
    EXPECT_EQ(dword.GetPixel(1, 0), 0xDEADBEEFu);
}

TEST(Image, OutOfRangeAccessAnswersNeutrally) {
    Image image = Make(2, 3, 32, 7, 4);
    for (const auto& [x, y] : {std::pair<std::uint32_t, std::uint32_t>{2, 0},
                               {0, 3},
                               {UINT32_MAX, 0},
                               {0, UINT32_MAX}}) {
        EXPECT_EQ(image.GetPixel(x, y), 0u);
    }
    EXPECT_EQ(image.Row(3), nullptr);
    EXPECT_FALSE(image.SetPaletteEntry(4, {1, 2, 3}));
    EXPECT_TRUE(image.SetPaletteEntry(3, {1, 2, 3}));
    EXPECT_EQ(image.GetPaletteEntry(3), (PaletteColour{1, 2, 3}));
    EXPECT_EQ(image.GetPaletteEntry(4), PaletteColour{});
    EXPECT_EQ(image.GetPaletteEntry(0), PaletteColour{});

    Image empty = Make(0, 0, 8);
    EXPECT_EQ(empty.Row(0), nullptr);
    EXPECT_EQ(empty.GetPixel(0, 0), 0u);
    EXPECT_FALSE(empty.SetPaletteEntry(0, {1, 1, 1}));
}

TEST(Image, SetRowLeavesTailBytes) {
    Image image = Make(3, 1, 8, 0x55);
    image.SetRow(0, "\x01\x02\x03");
    EXPECT_EQ(0, std::memcmp(image.Row(0), "\x01\x02\x03\x55", 4));
}

TEST(Image, SizesBeyond32BitsNeverWrap) {
    EXPECT_THROW(Make(INT32_MAX, 1, 32), std::bad_alloc);
    EXPECT_THROW(Make(-1, 1, 8), std::bad_alloc);
    EXPECT_THROW(Make(INT32_MAX / 4, INT32_MAX, 32), std::bad_alloc);
    // 65535 rows of 65536 bytes: 4 GiB of zero pages, of which only the one
    // touched below becomes resident.
    std::unique_ptr<Image> big;
    try {
        big =
            std::make_unique<Image>(ImageDesc{.width = 65535, .height = 65535, .bitsPerPixel = 8});
    } catch (const std::bad_alloc&) {
        GTEST_SKIP() << "this machine will not reserve 4 GiB";
    }
    EXPECT_EQ(static_cast<std::uint64_t>(big->Row(65534) - big->Row(0)), 65534ull * 65536ull);
    big->Row(65534)[65534] = 9;
    EXPECT_EQ(big->GetPixel(65534, 65534), 9u);
    EXPECT_EQ(big->GetPixel(65534, 0), 0u);
}
