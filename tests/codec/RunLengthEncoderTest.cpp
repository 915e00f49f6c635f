// The run-length encoder compares whole pixel values, and 8-bit rows eight
// bytes at a time. These tests hold it to a plain pixel-by-pixel reading of
// the packet rules on rows built to put equal pairs, run ends and the 128
// pixel limit at every offset of a word, and to rows that are more than one
// word long but shorter than a packet.
#include <algorithm>
#include <cstring>
#include <random>

#include "codec/WriteTGA.h"
#include "support/CodecTestSupport.h"

using namespace Codec;

namespace {

// The packet rules, one pixel comparison at a time.
Bytes ReferencePackets(const Bytes& row, std::size_t bytesPerPixel) {
    const std::size_t width = row.size() / bytesPerPixel;
    const auto same = [&](std::size_t a, std::size_t b) {
        return std::memcmp(&row[a * bytesPerPixel], &row[b * bytesPerPixel], bytesPerPixel) == 0;
    };
    Bytes out;
    std::size_t x = 0;
    while (x < width) {
        if (width - x >= 2 && same(x, x + 1)) {
            std::size_t run = 2;
            while (run < 128 && x + run < width && same(x, x + run)) {
                ++run;
            }
            out.push_back(static_cast<std::uint8_t>(0x80 + run - 1));
            out.insert(out.end(), row.begin() + static_cast<std::ptrdiff_t>(x * bytesPerPixel),
                       row.begin() + static_cast<std::ptrdiff_t>((x + 1) * bytesPerPixel));
            x += run;
            continue;
        }
        std::size_t count = 1;
        while (count < 128 && x + count < width &&
               !(x + count + 1 < width && same(x + count, x + count + 1))) {
            ++count;
        }
        out.push_back(static_cast<std::uint8_t>(count - 1));
        out.insert(out.end(), row.begin() + static_cast<std::ptrdiff_t>(x * bytesPerPixel),
                   row.begin() + static_cast<std::ptrdiff_t>((x + count) * bytesPerPixel));
        x += count;
    }
    return out;
}

// A row of `width` pixels drawn from `alphabet` values. Pixels differ in
// one byte only (chosen per row), so a comparison that looks at the wrong
// byte of a pixel goes wrong.
Bytes RandomRow(std::mt19937& random, std::size_t width, std::size_t bytesPerPixel,
                unsigned alphabet, std::size_t stretch) {
    Bytes row(width * bytesPerPixel, 0x5A);
    const std::size_t varying = random() % bytesPerPixel;
    std::uint8_t value = 0;
    for (std::size_t x = 0; x < width; ++x) {
        if (stretch <= 1 || random() % stretch == 0) {
            value = static_cast<std::uint8_t>(random() % alphabet);
        }
        row[x * bytesPerPixel + varying] = value;
    }
    return row;
}

Bytes EncodedRow(const Bytes& row, std::int32_t bits) {
    const auto bytesPerPixel = static_cast<std::size_t>(bits / 8);
    const auto width = static_cast<std::int32_t>(row.size() / bytesPerPixel);
    Image image(ImageDesc{.width = width, .height = 1, .bitsPerPixel = bits});
    if (width > 0) {
        image.SetRow(0, row.data());
    }
    MemoryOutputStream out;
    WriteTGA(out, image, true);
    return Bytes(out.bytes.begin() + 18, out.bytes.end());
}

}  // namespace

TEST(RunLengthEncoder, MatchesThePacketRulesOnRandomRows) {
    std::mt19937 random(20240611);
    for (const std::int32_t bits : {8, 16, 24, 32}) {
        const auto bytesPerPixel = static_cast<std::size_t>(bits / 8);
        // Widths around word sizes, the 128-pixel packet limit and beyond.
        for (std::size_t width = 0; width <= 300; ++width) {
            for (const unsigned alphabet : {2u, 3u, 200u}) {
                for (const std::size_t stretch : {1u, 4u, 60u}) {
                    const Bytes row = RandomRow(random, width, bytesPerPixel, alphabet, stretch);
                    const Bytes encoded = EncodedRow(row, bits);
                    ASSERT_EQ(encoded, ReferencePackets(row, bytesPerPixel))
                        << bits << "-bit row of width " << width << ", alphabet " << alphabet
                        << ", stretch " << stretch;
                }
            }
        }
    }
}

TEST(RunLengthEncoder, EqualPairAtEveryOffsetOfAWord) {
    // Distinct bytes with one equal pair placed at each position: the raw
    // packet must end right before it, wherever it falls in an 8-byte load.
    for (std::size_t width = 2; width <= 40; ++width) {
        for (std::size_t pair = 0; pair + 1 < width; ++pair) {
            Bytes row(width);
            for (std::size_t x = 0; x < width; ++x) {
                row[x] = static_cast<std::uint8_t>(x + 1);
            }
            row[pair + 1] = row[pair];
            ASSERT_EQ(EncodedRow(row, 8), ReferencePackets(row, 1))
                << "width " << width << ", pair at " << pair;
        }
    }
}

TEST(RunLengthEncoder, RunEndsAtEveryOffsetAndAtTheLimit) {
    for (std::size_t run = 2; run <= 260; ++run) {
        for (std::size_t tail = 0; tail <= 9; ++tail) {
            Bytes row(run, 0x77);
            for (std::size_t i = 0; i < tail; ++i) {
                row.push_back(static_cast<std::uint8_t>(i * 3 + 1));  // differs from 0x77
            }
            ASSERT_EQ(EncodedRow(row, 8), ReferencePackets(row, 1))
                << "run " << run << ", tail " << tail;
        }
    }
}

TEST(RunLengthEncoder, RowsDecodeToThemselves) {
    std::mt19937 random(7);
    for (const std::int32_t bits : {8, 16, 24, 32}) {
        const auto bytesPerPixel = static_cast<std::size_t>(bits / 8);
        const std::int32_t width = 517;
        const std::int32_t height = 9;
        Image image(ImageDesc{.width = width, .height = height, .bitsPerPixel = bits});
        for (std::uint32_t y = 0; y < static_cast<std::uint32_t>(height); ++y) {
            const Bytes row =
                RandomRow(random, static_cast<std::size_t>(width), bytesPerPixel, 3, 1 + y * 10);
            image.SetRow(y, row.data());
        }
        MemoryOutputStream out;
        WriteTGA(out, image, true);
        EXPECT_EQ(PixelBytes(*Decode(out.bytes)), PixelBytes(image)) << bits << "-bit";
    }
}
