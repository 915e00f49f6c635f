// A tiny file that declares a huge image is refused before anything is
// allocated for it: the reader first checks that the input can hold the
// declared image at all.
#include <gtest/gtest.h>

#include "AllocationWatch.h"
#include "HardeningSupport.h"
#include "codec/ReadTGA.h"
#include "gfxstream/Exception.h"
#include "gfxstream/MemoryInputStream.h"

using namespace Codec;

namespace {

constexpr std::size_t kSmall = 64 * 1024;

Bytes Header(std::uint8_t type, std::uint16_t width, std::uint16_t height, std::uint8_t depth,
             std::uint16_t mapLength = 0, std::uint8_t entryBits = 0, std::uint8_t idLength = 0) {
    return {idLength,
            static_cast<std::uint8_t>(mapLength != 0 ? 1 : 0),
            type,
            0,
            0,
            static_cast<std::uint8_t>(mapLength & 0xFF),
            static_cast<std::uint8_t>(mapLength >> 8),
            entryBits,
            0,
            0,
            0,
            0,
            static_cast<std::uint8_t>(width & 0xFF),
            static_cast<std::uint8_t>(width >> 8),
            static_cast<std::uint8_t>(height & 0xFF),
            static_cast<std::uint8_t>(height >> 8),
            depth,
            0};
}

Bytes Padded(Bytes bytes, std::size_t extra) {
    bytes.resize(bytes.size() + extra, 0x7F);
    return bytes;
}

struct Outcome {
    std::string message;
    std::size_t largest = 0;
};

Outcome Read(const Bytes& file) {
    GFXStream::MemoryInputStream in(file.data(), file.size());
    Outcome outcome;
    AllocationWatch watch;
    try {
        ReadTGA(in, nullptr, nullptr);
    } catch (const GFXStream::Exception& e) {
        outcome.message = e.Text();
    }
    outcome.largest = watch.Largest();
    return outcome;
}

TEST(Limits, TinyFilesDeclaringHugeImagesFailWithoutAllocating) {
    struct Case {
        const char* name;
        Bytes file;
    };
    const Case cases[] = {
        // 16 GiB of pixels declared in 18 bytes.
        {"uncompressed 65535x65535x32", Header(2, 65535, 65535, 32)},
        // Even the fewest packets would take 2.7 GB.
        {"run-length 65535x65535x32", Header(10, 65535, 65535, 32)},
        {"run-length grey 65535x65535x8", Padded(Header(11, 65535, 65535, 8), 4096)},
        // A megabyte of data is still far short of what is declared.
        {"uncompressed 65535x65535x24 with 1 MiB", Padded(Header(2, 65535, 65535, 24), 1 << 20)},
        {"colour map of 65535 32-bit entries", Padded(Header(1, 1, 1, 8, 65535, 32), 100)},
        {"image ID longer than the file", Padded(Header(2, 1, 1, 8, 0, 0, 255), 3)},
        {"one row short", Padded(Header(2, 1024, 1024, 32), 1024 * 1023 * 4)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome outcome = Read(c.file);
        EXPECT_EQ(outcome.message, "ReadTGA: Unexpected end of input");
        EXPECT_LT(outcome.largest, kSmall) << "bytes asked for in one allocation";
    }
}

// The watch does see the image's allocation when the file can hold it.
TEST(Limits, AFileThatHoldsItsImageGetsItsAllocation) {
    const Bytes file = Padded(Header(2, 512, 512, 32), 512 * 512 * 4);
    const Outcome outcome = Read(file);
    EXPECT_EQ(outcome.message, "");
    EXPECT_GE(outcome.largest, std::size_t{512} * 512 * 4);
}

}  // namespace
